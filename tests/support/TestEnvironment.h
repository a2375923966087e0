#pragma once

#include <QString>

namespace TestEnvironment {

// Points HOME and the XDG folders at a fresh temporary folder (removed at exit).
void isolateHome();
QString home();
QString dataFolder(); // the application's data folder inside the temporary home

} // namespace TestEnvironment
