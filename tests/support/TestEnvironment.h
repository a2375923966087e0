#pragma once

#include <QString>

namespace TestEnvironment {

// Points HOME and the XDG folders at a fresh temporary folder (removed at exit,
// or when the next one replaces it).
void isolateHome();
// Gives each test case a fresh home, and so its own data folder, and the
// environment the program started with, as it starts: a program run whole
// then behaves as when ctest runs one case per process.
void isolateHomePerTest();
QString home();
QString dataFolder(); // the application's data folder inside the temporary home

// A QTemporaryDir template in the temporary folder that names this process, so
// that the next test run can tell a folder left by a killed one from one in
// use (scripts/remove-ended-test-folders.sh).
QString temporaryFolderTemplate(const QString &prefix);

} // namespace TestEnvironment
