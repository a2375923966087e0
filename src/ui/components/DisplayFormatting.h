#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

// Turning values into the short texts the screens show. Pure functions, main
// thread only (the date formatter is cached per locale).

// "—" for no date, else the date abbreviated and the time shortened in the
// user's locale and time zone, e.g. "Jan 5, 2026, 3:04 PM".
QString formatOptionalDate(const std::optional<QDateTime> &date);

// A message as an alert shows it: it wraps where a line may break, and each
// run of text that cannot break (a name or key without spaces) wider than
// 400 px of the application font is shortened in the middle, since it would
// widen the alert until its end is cut; a message longer than twelve such
// lines is shortened in the middle to them. `widestRun`, when given, is set
// to the width of the widest run of the result.
QString fitForAlert(const QString &message, int *widestRun = nullptr);

// "1h 2m 5s", "1m 0s", "59s"; "Unavailable" when there is no duration or it
// cannot be shown (not finite, beyond the 64-bit range of whole seconds).
QString formatDuration(std::optional<double> seconds);

// A memory byte count as the screens show it, in 1024-based units:
// "512 bytes", "12 kB", "12.3 MB", "1.25 GB".
QString formatMemoryBytes(quint64 bytes);

// "All 3 running services will be terminated."; no text below 1.
std::optional<QString> runningServicesQuitWarning(qint64 runningCount);
