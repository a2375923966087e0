#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

// Turning values into the short texts the screens show. Pure functions, main
// thread only (the date formatter is cached per locale).

// "—" for no date, else the date abbreviated and the time shortened in the
// user's locale and time zone, e.g. "Jan 5, 2026, 3:04 PM".
QString formatOptionalDate(const std::optional<QDateTime> &date);

// The widest an alert's message is counted at, and how many lines of that
// width it shows.
inline constexpr int alertLineWidth = 400;
inline constexpr qsizetype alertLinesAllowed = 12;

// A message as an alert shows it: it wraps where a line may break, and each
// run of text that cannot break (a name or key without spaces) wider than an
// alert's line of the application font is shortened in the middle, since it
// would widen the alert until its end is cut; a message that takes more than
// the alert's lines, counted as each wraps, keeps its first and last lines
// with an ellipsis line between them. `widestRun`, when given, is set to the
// width of the widest run of the result.
QString fitForAlert(const QString &message, int *widestRun = nullptr);
// How many lines `message` takes at an alert's width before it is shortened.
qsizetype alertLineCount(const QString &message);
// `before`, `name` and `after` as one line of an alert's message, a list
// item: the name is shortened in the middle to the room the others leave,
// and the line never wraps.
QString alertLineWithName(const QString &before, const QString &name, const QString &after);

// "1h 2m 5s", "1m 0s", "59s"; "Unavailable" when there is no duration or it
// cannot be shown (not finite, beyond the 64-bit range of whole seconds).
QString formatDuration(std::optional<double> seconds);

// A memory byte count as the screens show it, in 1024-based units:
// "512 bytes", "12 kB", "12.3 MB", "1.25 GB".
QString formatMemoryBytes(quint64 bytes);

// "All 3 running services will be terminated."; no text below 1.
std::optional<QString> runningServicesQuitWarning(qint64 runningCount);
