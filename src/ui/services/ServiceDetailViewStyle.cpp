#include "ui/services/ServiceDetailViewStyle.h"

#include <QApplication>
#include <QEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHash>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStackedLayout>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>

#include <cmath>

namespace ServiceDetailStyle {

namespace {

struct ToneColors {
    QColor light;
    QColor dark;
};

QColor rgb(double red, double green, double blue)
{
    return QColor::fromRgbF(float(red), float(green), float(blue));
}

const char *const toneProperty = "detailTone";
const char *const alphaProperty = "detailTextAlpha";

double styleFactor(TextStyle style)
{
    switch (style) {
    case TextStyle::largeTitle: return 2.0;
    case TextStyle::title2: return 1.3;
    case TextStyle::title3: return 1.15;
    case TextStyle::headline: return 1.0;
    case TextStyle::body: return 1.0;
    case TextStyle::callout: return 0.92;
    case TextStyle::caption: return 0.8;
    case TextStyle::caption2: return 0.75;
    }
    return 1.0;
}

QFont scaled(QFont font, TextStyle style, QFont::Weight weight)
{
    const double base = QApplication::font().pointSizeF() > 0 ? QApplication::font().pointSizeF() : 10.0;
    font.setPointSizeF(base * styleFactor(style));
    font.setWeight(style == TextStyle::headline && weight == QFont::Normal ? QFont::DemiBold : weight);
    return font;
}

// Symbols of the detail pages and the theme icons that draw them; a symbol
// without a fitting theme icon is drawn as a glyph.
const QHash<QString, QString> &themeNames()
{
    static const QHash<QString, QString> names {
        {QStringLiteral("lock.fill"), QStringLiteral("changes-prevent-symbolic")},
        {QStringLiteral("lock.open.fill"), QStringLiteral("changes-allow-symbolic")},
        {QStringLiteral("lock.open"), QStringLiteral("changes-allow-symbolic")},
        {QStringLiteral("pencil"), QStringLiteral("document-edit-symbolic")},
        {QStringLiteral("play.fill"), QStringLiteral("media-playback-start-symbolic")},
        {QStringLiteral("stop.fill"), QStringLiteral("media-playback-stop-symbolic")},
        {QStringLiteral("arrow.clockwise"), QStringLiteral("view-refresh-symbolic")},
        {QStringLiteral("xmark.octagon"), QStringLiteral("process-stop-symbolic")},
        {QStringLiteral("text.alignleft"), QStringLiteral("format-justify-left-symbolic")},
        {QStringLiteral("doc.on.doc"), QStringLiteral("edit-copy-symbolic")},
        {QStringLiteral("gearshape"), QStringLiteral("emblem-system-symbolic")},
        {QStringLiteral("chevron.down"), QStringLiteral("pan-down-symbolic")},
        {QStringLiteral("chevron.right"), QStringLiteral("pan-end-symbolic")},
        {QStringLiteral("arrow.triangle.2.circlepath"), QStringLiteral("emblem-synchronizing-symbolic")},
        {QStringLiteral("clock.arrow.circlepath"), QStringLiteral("document-open-recent-symbolic")},
        {QStringLiteral("clock"), QStringLiteral("preferences-system-time-symbolic")},
        {QStringLiteral("sparkles"), QStringLiteral("starred-symbolic")},
        {QStringLiteral("shield.lefthalf.filled.badge.checkmark"), QStringLiteral("security-medium-symbolic")},
        {QStringLiteral("exclamationmark.shield.fill"), QStringLiteral("security-medium-symbolic")},
        {QStringLiteral("checkmark.shield.fill"), QStringLiteral("security-high-symbolic")},
        {QStringLiteral("shield.slash.fill"), QStringLiteral("security-low-symbolic")},
        {QStringLiteral("hand.raised.fill"), QStringLiteral("action-unavailable-symbolic")},
        {QStringLiteral("trash"), QStringLiteral("user-trash-symbolic")},
        {QStringLiteral("terminal"), QStringLiteral("utilities-terminal-symbolic")},
    };
    return names;
}

QString glyph(const QString &symbolName)
{
    if (symbolName == QLatin1String("number"))
        return QStringLiteral("#");
    if (symbolName == QLatin1String("cpu"))
        return QString(QChar(0x25A6));
    if (symbolName == QLatin1String("memorychip"))
        return QString(QChar(0x25A4));
    return QString(QChar(0x2022));
}

void applyTone(QWidget *widget)
{
    const QVariant tone = widget->property(toneProperty);
    const QVariant alpha = widget->property(alphaProperty);
    if (!tone.isValid() && !alpha.isValid())
        return;
    QPalette palette = widget->palette();
    QColor textColor = tone.isValid() ? color(Tone(tone.toInt()), widget)
                                      : QApplication::palette(widget).color(QPalette::WindowText);
    if (alpha.isValid())
        textColor.setAlphaF(float(alpha.toDouble()));
    for (const auto role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
        palette.setColor(role, textColor);
    widget->setPalette(palette);
}

} // namespace

bool isDark(const QWidget *widget)
{
    const QPalette palette = widget ? QApplication::palette(widget) : QApplication::palette();
    return palette.color(QPalette::Window).lightness() < 128;
}

QColor color(Tone tone, bool dark)
{
    static const QHash<int, ToneColors> tones {
        {int(Tone::slate), {rgb(0.25, 0.32, 0.42), rgb(0.54, 0.64, 0.78)}},
        {int(Tone::steel), {rgb(0.33, 0.40, 0.50), rgb(0.64, 0.72, 0.84)}},
        {int(Tone::blue), {rgb(0.12, 0.45, 0.72), rgb(0.38, 0.67, 0.92)}},
        {int(Tone::green), {rgb(0.22, 0.55, 0.42), rgb(0.44, 0.78, 0.61)}},
        {int(Tone::orange), {rgb(0.86, 0.52, 0.16), rgb(1.00, 0.72, 0.36)}},
        {int(Tone::red), {rgb(0.78, 0.28, 0.28), rgb(0.94, 0.45, 0.45)}},
    };
    if (tone == Tone::secondary) {
        QColor text = QApplication::palette().color(QPalette::WindowText);
        text.setAlphaF(0.6f);
        return text;
    }
    const ToneColors colors = tones.value(int(tone));
    return dark ? colors.dark : colors.light;
}

QColor color(Tone tone, const QWidget *widget)
{
    if (tone == Tone::secondary) {
        QColor text = (widget ? QApplication::palette(widget) : QApplication::palette()).color(QPalette::WindowText);
        text.setAlphaF(0.6f);
        return text;
    }
    return color(tone, isDark(widget));
}

QFont styleFont(TextStyle style, QFont::Weight weight)
{
    return scaled(QApplication::font(), style, weight);
}

QFont monospacedFont(TextStyle style, QFont::Weight weight)
{
    return scaled(QFontDatabase::systemFont(QFontDatabase::FixedFont), style, weight);
}

QIcon symbol(const QString &symbolName)
{
    if (QIcon::fallbackThemeName().isEmpty())
        QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
    const QString themeName = themeNames().value(symbolName);
    return themeName.isEmpty() ? QIcon() : QIcon::fromTheme(themeName);
}

QPixmap symbolPixmap(const QString &symbolName, int size, const QColor &tint)
{
    const qreal ratio = qApp ? qApp->devicePixelRatio() : 1.0;
    QPixmap pixmap(QSize(size, size) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QIcon icon = symbol(symbolName);
    if (!icon.isNull()) {
        icon.paint(&painter, QRect(0, 0, size, size));
    } else {
        QFont glyphFont = QApplication::font();
        glyphFont.setPixelSize(std::max(6, size - 2));
        glyphFont.setBold(true);
        painter.setFont(glyphFont);
        painter.setPen(Qt::black);
        painter.drawText(QRect(0, 0, size, size), Qt::AlignCenter, glyph(symbolName));
    }
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(QRect(0, 0, size, size), tint);
    return pixmap;
}

QString formatOptionalDate(const std::optional<QDateTime> &date)
{
    if (!date || !date->isValid())
        return QString(QChar(0x2014));
    const QLocale locale;
    const QDateTime local = date->toLocalTime();
    return locale.toString(local.date(), QLocale::ShortFormat) + QStringLiteral(", ")
        + locale.toString(local.time(), QLocale::ShortFormat);
}

QString formatDuration(std::optional<double> seconds)
{
    if (!seconds || !std::isfinite(*seconds))
        return QStringLiteral("Unavailable");
    const auto total = static_cast<qint64>(std::trunc(*seconds));
    const qint64 hours = total / 3600;
    const qint64 minutes = (total % 3600) / 60;
    const qint64 secs = total % 60;
    if (total >= 3600)
        return QStringLiteral("%1h %2m %3s").arg(hours).arg(minutes).arg(secs);
    if (total % 3600 < 60)
        return QStringLiteral("%1s").arg(secs);
    return QStringLiteral("%1m %2s").arg(minutes).arg(secs);
}

QString formatMemoryBytes(qint64 bytes)
{
    if (bytes == 0)
        return QStringLiteral("Zero KB");
    return QLocale::c().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat);
}

QString formatPercent(double percent)
{
    return QString::asprintf("%.1f%%", percent);
}

Card::Card(int padding, QWidget *parent)
    : QFrame(parent)
{
    setContentsMargins(padding, padding, padding, padding);
    setAttribute(Qt::WA_StyledBackground, false);
}

void Card::setOutline(std::optional<Tone> tone)
{
    if (m_outline == tone)
        return;
    m_outline = tone;
    update();
}

void Card::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool dark = isDark(this);
    const QRectF box = QRectF(rect()).adjusted(1.5, 1.0, -1.5, -3.0);
    QPainterPath path;
    path.addRoundedRect(box, 14, 14);
    QColor shadow(0, 0, 0, 20);
    painter.fillPath(path.translated(0, 2), shadow);
    const QColor window = QApplication::palette(this).color(QPalette::Window);
    painter.fillPath(path, dark ? window.lighter(125) : window.lighter(104));
    QColor border = QApplication::palette(this).color(QPalette::WindowText);
    border.setAlphaF(0.06f);
    painter.setPen(QPen(border, 1));
    painter.drawPath(path);
    if (m_outline) {
        QColor outline = color(*m_outline, this);
        outline.setAlphaF(0.65f);
        QPainterPath inner;
        inner.addRoundedRect(box.adjusted(1, 1, -1, -1), 13, 13);
        painter.setPen(QPen(outline, 2));
        painter.drawPath(inner);
    }
}

Badge::Badge(Kind kind, QWidget *parent)
    : QWidget(parent)
    , m_kind(kind)
{
    setFont(styleFont(TextStyle::caption, QFont::DemiBold));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void Badge::setText(const QString &text)
{
    if (m_text == text)
        return;
    m_text = text;
    setAccessibleName(text);
    updateGeometry();
    update();
}

void Badge::setTone(Tone tone)
{
    if (m_tone == tone)
        return;
    m_tone = tone;
    update();
}

void Badge::setSymbolName(const QString &symbolName)
{
    m_symbolName = symbolName;
    setProperty("symbolName", symbolName);
    updateGeometry();
    update();
}

QSize Badge::sizeHint() const
{
    const QFontMetrics metrics(font());
    const int horizontal = m_kind == Kind::status ? 10 : (m_kind == Kind::label ? 7 : 6);
    const int vertical = m_kind == Kind::status ? 5 : 2;
    int width = metrics.horizontalAdvance(m_text) + 2 * horizontal;
    if (m_kind == Kind::status)
        width += 6 + 5;
    if (!m_symbolName.isEmpty())
        width += metrics.height() + 3;
    return {width, metrics.height() + 2 * vertical};
}

void Badge::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor tint = color(m_tone, this);
    QColor fill = tint;
    fill.setAlphaF(0.14f);
    const QRectF box = rect();
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(box, box.height() / 2, box.height() / 2);
    const int horizontal = m_kind == Kind::status ? 10 : (m_kind == Kind::label ? 7 : 6);
    qreal x = horizontal;
    if (m_kind == Kind::status) {
        painter.setBrush(tint);
        painter.drawEllipse(QRectF(x, box.height() / 2 - 3, 6, 6));
        x += 6 + 5;
    }
    const QFontMetrics metrics(font());
    if (!m_symbolName.isEmpty()) {
        const int size = metrics.height();
        painter.drawPixmap(QPointF(x, (box.height() - size) / 2), symbolPixmap(m_symbolName, size, tint));
        x += size + 3;
    }
    painter.setPen(tint);
    painter.setFont(font());
    painter.drawText(QRectF(x, 0, box.width() - x, box.height()), Qt::AlignVCenter | Qt::AlignLeft, m_text);
}

SymbolLabel::SymbolLabel(const QString &symbolName, int size, std::optional<Tone> tone, QWidget *parent)
    : QLabel(parent)
    , m_symbolName(symbolName)
    , m_size(size)
    , m_tone(tone)
{
    setFixedSize(size, size);
    refresh();
}

void SymbolLabel::setSymbolName(const QString &symbolName)
{
    if (m_symbolName == symbolName)
        return;
    m_symbolName = symbolName;
    refresh();
}

void SymbolLabel::setTone(std::optional<Tone> tone)
{
    m_tone = tone;
    refresh();
}

void SymbolLabel::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange)
        refresh();
}

void SymbolLabel::refresh()
{
    setProperty("symbolName", m_symbolName);
    QColor tint = m_tone ? color(*m_tone, this) : QApplication::palette(this).color(QPalette::WindowText);
    if (!m_tone) {
        tint.setAlphaF(0.4f);
    }
    setPixmap(symbolPixmap(m_symbolName, m_size, tint));
}

QLabel *textLabel(const QString &text, TextStyle style, QFont::Weight weight, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setFont(styleFont(style, weight));
    return label;
}

void setTextAlpha(QLabel *label, double alpha)
{
    label->setProperty(alphaProperty, alpha);
    applyTone(label);
}

void setTextTone(QLabel *label, Tone tone)
{
    label->setProperty(toneProperty, int(tone));
    applyTone(label);
}

RowButton::RowButton(QWidget *parent)
    : QPushButton(parent)
    , m_row(new QHBoxLayout(this))
{
    setFlat(true);
    setCursor(Qt::PointingHandCursor);
    m_row->setContentsMargins(0, 0, 0, 0);
    m_row->setSpacing(8);
    setStyleSheet(QStringLiteral("QPushButton { border: none; background: transparent; padding: 0; }"));
}

void RowButton::addToRow(QWidget *widget)
{
    widget->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_row->addWidget(widget);
}

QSize RowButton::sizeHint() const
{
    return m_row->sizeHint();
}

QSize RowButton::minimumSizeHint() const
{
    return m_row->minimumSize();
}

void setButtonSymbol(QAbstractButton *button, const QString &symbolName)
{
    button->setIcon(symbol(symbolName));
    button->setProperty("symbolName", symbolName);
}

void setButtonTone(QAbstractButton *button, Tone tone)
{
    button->setProperty(toneProperty, int(tone));
    applyTone(button);
}

ElidedLabel::ElidedLabel(Qt::TextElideMode mode, QWidget *parent)
    : QLabel(parent)
    , m_mode(mode)
{
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

QSize ElidedLabel::minimumSizeHint() const
{
    return {fontMetrics().horizontalAdvance(QChar(0x2026)), fontMetrics().height()};
}

void ElidedLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.setFont(font());
    const QRect box = contentsRect();
    painter.drawText(box, int(alignment() | Qt::TextSingleLine), fontMetrics().elidedText(text(), m_mode, box.width()));
}

Console::Console(QWidget *parent)
    : QWidget(parent)
    , m_textView(new QPlainTextEdit(this))
    , m_placeholder(new QWidget(this))
{
    auto *stack = new QStackedLayout(this);
    stack->setContentsMargins(1, 1, 1, 1);
    auto *placeholderLayout = new QVBoxLayout(m_placeholder);
    placeholderLayout->setAlignment(Qt::AlignCenter);
    auto *terminal = new SymbolLabel(QStringLiteral("terminal"), 22, std::nullopt, m_placeholder);
    placeholderLayout->addWidget(terminal, 0, Qt::AlignCenter);
    m_placeholder->setAccessibleName(QStringLiteral("No output"));
    m_textView->setReadOnly(true);
    m_textView->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_textView->setFrameShape(QFrame::NoFrame);
    m_textView->setFont(monospacedFont(TextStyle::callout));
    m_textView->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_textView->document()->setDocumentMargin(14);
    m_textView->setUndoRedoEnabled(false);
    m_textView->viewport()->setAutoFillBackground(false);
    m_textView->setStyleSheet(QStringLiteral("QPlainTextEdit { background: transparent; }"));
    stack->addWidget(m_placeholder);
    stack->addWidget(m_textView);
    stack->setCurrentWidget(m_placeholder);
}

void Console::setText(const QString &text)
{
    if (text.size() == m_text.size() && text == m_text)
        return;
    auto *stack = static_cast<QStackedLayout *>(layout());
    QScrollBar *bar = m_textView->verticalScrollBar();
    const int keptScroll = bar->value();
    if (!m_text.isEmpty() && text.size() > m_text.size() && text.startsWith(m_text)) {
        // Appending keeps the user's selection and the document's layout of what was there.
        QTextCursor end(m_textView->document());
        end.movePosition(QTextCursor::End);
        end.insertText(text.mid(m_text.size()));
    } else {
        m_textView->setPlainText(text);
    }
    m_text = text;
    stack->setCurrentWidget(m_text.isEmpty() ? m_placeholder : static_cast<QWidget *>(m_textView));
    if (m_autoScroll)
        scrollToBottom();
    else
        bar->setValue(keptScroll);
    update();
}

void Console::setAutoScroll(bool autoScroll)
{
    const bool switchedOn = autoScroll && !m_autoScroll;
    m_autoScroll = autoScroll;
    if (switchedOn)
        scrollToBottom();
}

void Console::scrollToBottom()
{
    QScrollBar *bar = m_textView->verticalScrollBar();
    bar->setValue(bar->maximum());
}

void Console::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette palette = QApplication::palette(this);
    const bool empty = m_text.isEmpty();
    QColor fill = empty ? palette.color(QPalette::Button) : palette.color(QPalette::Base);
    if (empty)
        fill.setAlphaF(0.55f);
    QColor border = palette.color(QPalette::Mid);
    border.setAlphaF(empty ? 0.55f : 1.0f);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 12, 12);
    painter.fillPath(path, fill);
    painter.setPen(QPen(border, 1));
    painter.drawPath(path);
}

void reapplyTones(QWidget *root)
{
    for (QWidget *widget : root->findChildren<QWidget *>()) {
        applyTone(widget);
        if (auto *symbolLabel = dynamic_cast<SymbolLabel *>(widget))
            symbolLabel->setTone(symbolLabel->tone());
    }
}

} // namespace ServiceDetailStyle
