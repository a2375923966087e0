#include "ui/components/DisplayFormatting.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QLocale>
#include <QTextBoundaryFinder>
#include <QTextLayout>

#include <unicode/udat.h>
#include <iterator>
#include <limits>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

struct DateFormatCloser {
    void operator()(UDateFormat *format) const { udat_close(format); }
};
using DateFormatHandle = std::unique_ptr<UDateFormat, DateFormatCloser>;

// ICU has the medium-date-short-time style Qt lacks. Opening a formatter loads
// locale data, so one is kept per locale; the time zone is ICU's default.
UDateFormat *dateTimeFormatter()
{
    static QByteArray cachedLocale;
    static DateFormatHandle cached;
    const QLocale locale;
    QByteArray name = locale.name().toLatin1();
    if (name == "C")
        name = "en_US_POSIX";
    if (cached && name == cachedLocale)
        return cached.get();
    UErrorCode status = U_ZERO_ERROR;
    DateFormatHandle format(udat_open(UDAT_SHORT, UDAT_MEDIUM, name.constData(), nullptr, -1, nullptr, -1, &status));
    if (U_FAILURE(status))
        return nullptr;
    cached = std::move(format);
    cachedLocale = name;
    return cached.get();
}

// A message with each run that cannot break (a name or key without spaces)
// shortened in the middle to an alert's line; `widestRun` is set to the width
// of the widest run of the result.
QString shortenRuns(const QString &message, int &widestRun)
{
    const QFontMetrics metrics(QGuiApplication::font());
    QString fitted;
    QTextBoundaryFinder breaks(QTextBoundaryFinder::Line, message);
    qsizetype start = 0;
    widestRun = 0;
    for (qsizetype end = breaks.toNextBoundary(); end != -1; end = breaks.toNextBoundary()) {
        QString run = message.mid(start, end - start);
        // The spaces after a run end a wrapped line, where they take no room.
        qsizetype length = run.size();
        while (length > 0 && run.at(length - 1).isSpace())
            --length;
        int width = metrics.horizontalAdvance(run.left(length));
        if (width > alertLineWidth) {
            // A line may break after an ellipsis; a word joiner keeps the shortened run whole.
            run = metrics.elidedText(run.left(length), Qt::ElideMiddle, alertLineWidth)
                      .replace(QChar(0x2026), QStringLiteral("\u2026\u2060"))
                  + run.mid(length);
            width = alertLineWidth;
        }
        widestRun = std::max(widestRun, width);
        fitted += run;
        start = end;
    }
    return fitted;
}

// Where each line of `text` starts when it wraps at an alert's line width:
// a line break starts a paragraph, and a line breaks between words.
QList<qsizetype> wrappedLineStarts(const QString &text)
{
    QList<qsizetype> starts;
    QTextOption wrapping;
    wrapping.setWrapMode(QTextOption::WordWrap);
    qsizetype paragraphStart = 0;
    for (const QString &paragraph : text.split(u'\n')) {
        QTextLayout layout(paragraph, QGuiApplication::font());
        layout.setTextOption(wrapping);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(alertLineWidth);
            starts.append(paragraphStart + line.textStart());
        }
        layout.endLayout();
        paragraphStart += paragraph.size() + 1;
    }
    return starts;
}

// However long a name or a list, the alert's buttons stay on the screen: past
// its lines the message keeps its first and its last ones, its own words and
// the question around the name, with an ellipsis on a line of its own where
// the rest was. Each part starts its lines where it did, so wraps as before.
QString keepAlertLines(const QString &text)
{
    constexpr qsizetype firstLines = alertLinesAllowed / 2;
    constexpr qsizetype lastLines = alertLinesAllowed - firstLines - 1;
    const QList<qsizetype> starts = wrappedLineStarts(text);
    if (starts.size() <= alertLinesAllowed)
        return text;
    QString head = text.left(starts.at(firstLines));
    while (!head.isEmpty() && head.back().isSpace())
        head.chop(1);
    return head + QStringLiteral("\n\u2026\n") + text.mid(starts.at(starts.size() - lastLines));
}

} // namespace

QString formatOptionalDate(const std::optional<QDateTime> &date)
{
    if (!date || !date->isValid())
        return QStringLiteral("\u2014");
    if (UDateFormat *format = dateTimeFormatter()) {
        UChar buffer[128];
        UErrorCode status = U_ZERO_ERROR;
        const int32_t length = udat_format(format, static_cast<UDate>(date->toMSecsSinceEpoch()), buffer,
                                           int32_t(std::size(buffer)), nullptr, &status);
        if (U_SUCCESS(status) && length <= int32_t(std::size(buffer)))
            return QString(reinterpret_cast<const QChar *>(buffer), length);
    }
    return QLocale().toString(date->toLocalTime(), QLocale::ShortFormat);
}

QString fitForAlert(const QString &message, int *widestRun)
{
    int widest = 0;
    QString fitted = keepAlertLines(shortenRuns(message, widest));
    if (widestRun)
        *widestRun = widest;
    return fitted;
}

qsizetype alertLineCount(const QString &message)
{
    int widest = 0;
    return wrappedLineStarts(shortenRuns(message, widest)).size();
}

QString alertLineWithName(const QString &before, const QString &name, const QString &after)
{
    const QFontMetrics metrics(QGuiApplication::font());
    const int room = alertLineWidth - metrics.horizontalAdvance(before + after);
    QString line = before + metrics.elidedText(name, Qt::ElideMiddle, room) + after;
    return line.replace(u' ', QChar::Nbsp);
}

QString formatDuration(std::optional<double> seconds)
{
    // 2^63 as a double: anything at or beyond it has no 64-bit whole-second value,
    // and converting it would be undefined.
    constexpr double limit = 9223372036854775808.0;
    if (!seconds || !std::isfinite(*seconds) || *seconds >= limit || *seconds <= -limit)
        return QStringLiteral("Unavailable");
    const qint64 total = static_cast<qint64>(std::trunc(*seconds));
    const qint64 hours = total / 3600;
    const qint64 minutes = (total % 3600) / 60;
    const qint64 secs = total % 60;
    if (total >= 3600)
        return QStringLiteral("%1h %2m %3s").arg(hours).arg(minutes).arg(secs);
    if (total % 3600 < 60)
        return QStringLiteral("%1s").arg(secs);
    return QStringLiteral("%1m %2s").arg(minutes).arg(secs);
}

QString formatMemoryBytes(quint64 bytes)
{
    const qint64 count =
        bytes > quint64(std::numeric_limits<qint64>::max()) ? std::numeric_limits<qint64>::max() : qint64(bytes);
    // Adaptive precision: whole kilobytes, one decimal of megabytes, two above.
    int precision = 2;
    if (count < 1024LL * 1024)
        precision = 0;
    else if (count < 1024LL * 1024 * 1024)
        precision = 1;
    return QLocale().formattedDataSize(count, precision, QLocale::DataSizeTraditionalFormat);
}

std::optional<QString> runningServicesQuitWarning(qint64 runningCount)
{
    if (runningCount < 1)
        return std::nullopt;
    return QStringLiteral("All ") + QString::number(runningCount) + QStringLiteral(" running service")
           + (runningCount == 1 ? QString() : QStringLiteral("s")) + QStringLiteral(" will be terminated.");
}
