#pragma once

#include <QString>

// Putting a picked file's path into a shell command line so that the shell
// reads it back as that one path.
namespace ShellPathInsertion {

// One Unicode scalar of a path: itself when it is shell-safe (ASCII letters,
// digits and / . _ - + @ % : = ,), a line feed inside single quotes (a
// backslash before it would join two lines), anything else behind a backslash.
QString shellEscapedScalar(char32_t scalar);
QString shellEscapedPath(const QString &path);

// The escaped path alone for a blank command; else appended to the command,
// after a space unless the command already ends in a space or a line feed.
QString insertPathIntoCommand(const QString &path, const QString &command);

} // namespace ShellPathInsertion
