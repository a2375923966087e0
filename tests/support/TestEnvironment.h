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

// A test program that starts itself (or another test program) as a child
// leaves the child's home behind when the child ends by a signal or _Exit.
// Such a child names its homes after the program that started it and holds
// them locked while it runs; its starter removes those no child holds any
// more after each test case, and once more at its end.
void removeEndedChildHomes();
// The end of a test program: removes its own home and its children's, and
// turns `status` into a failure, naming them, when any of them is left.
int finish(int status);

} // namespace TestEnvironment
