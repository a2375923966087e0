#include "ui/components/KeychainAccessBanner.h"

#include "ui/components/StyledLabel.h"
#include "ui/components/SymbolView.h"
#include "ui/components/ThemeManager.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QPainter>
#include <QPushButton>
#include <QResizeEvent>
#include <QVBoxLayout>

namespace {

struct Measures {
    int spacing;
    int padding;
    qreal radius;
    TextStyle iconStyle;
    TextStyle messageStyle;
    TextStyle buttonStyle;
};

Measures measures(KeychainAccessBanner::Style style)
{
    if (style == KeychainAccessBanner::Style::compact)
        return {8, 10, 8, TextStyle::caption, TextStyle::caption, TextStyle::caption2};
    return {10, 12, 10, TextStyle::body, TextStyle::callout, TextStyle::footnote};
}

// A filled button in the accent colour, as the prominent style of the design.
void makeProminent(QPushButton *button)
{
    // Flat and rounded like the screens' other filled buttons; the style's
    // own bevelled gradient looked out of place on the banner.
    const auto apply = [button] {
        const QPalette palette = QApplication::palette();
        const QColor accent = palette.color(QPalette::Highlight);
        button->setStyleSheet(
            QStringLiteral("QPushButton { background: %1; color: %2; border: none; border-radius: 6px;"
                           " padding: 3px 12px; }"
                           "QPushButton:pressed { background: %3; }"
                           "QPushButton:disabled { background: %4; }")
                .arg(accent.name(), palette.color(QPalette::HighlightedText).name(), accent.darker(115).name(),
                     QStringLiteral("rgba(%1, %2, %3, 40%)").arg(accent.red()).arg(accent.green()).arg(accent.blue())));
    };
    apply();
    QObject::connect(&ThemeManager::instance(), &ThemeManager::isDarkChanged, button, apply);
}

} // namespace

KeychainAccessBanner::KeychainAccessBanner(const QString &message, Style style, QWidget *parent)
    : QWidget(parent),
      m_style(style)
{
    const Measures m = measures(style);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(m.padding, m.padding, m.padding, m.padding);
    layout->setSpacing(m.spacing);

    auto *messageRow = new QHBoxLayout;
    messageRow->setSpacing(8);
    m_icon = new SymbolView(QStringLiteral("key.fill"), symbolPixelSize(m.iconStyle), Palette::Color::orange, this);
    messageRow->addWidget(m_icon, 0, Qt::AlignTop);
    m_message = new StyledLabel(message, m.messageStyle, this);
    m_message->setWordWrap(true);
    m_message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_message->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QSizePolicy wrapping(QSizePolicy::Expanding, QSizePolicy::Preferred);
    wrapping.setHeightForWidth(true);
    m_message->setSizePolicy(wrapping);
    messageRow->addWidget(m_message, 1);
    layout->addLayout(messageRow);

    auto *buttonRow = new QHBoxLayout;
    buttonRow->setSpacing(8);
    m_retry = new QPushButton(QStringLiteral("Try Again"), this);
    m_retry->setFont(textStyleFont(m.buttonStyle));
    m_retry->setAutoDefault(false);
    makeProminent(m_retry);
    connect(m_retry, &QPushButton::clicked, this, &KeychainAccessBanner::retryRequested);
    buttonRow->addWidget(m_retry);
    buttonRow->addStretch(1);
    layout->addLayout(buttonRow);

    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Maximum);
}

void KeychainAccessBanner::setMessage(const QString &message)
{
    if (m_message->text() != message)
        m_message->setText(message);
}

QString KeychainAccessBanner::message() const
{
    return m_message->text();
}

QSize KeychainAccessBanner::sizeHint() const
{
    // A wrapped message is as tall as the banner's current width makes it, not
    // as tall as the label would like at its own preferred width.
    const QSize natural = QWidget::sizeHint();
    const int forWidth = width() > 0 ? heightForWidth(width()) : -1;
    return {natural.width(), forWidth > 0 ? forWidth : natural.height()};
}

void KeychainAccessBanner::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (event->size().width() != event->oldSize().width())
        updateGeometry();
}

void KeychainAccessBanner::paintEvent(QPaintEvent *)
{
    const qreal radius = measures(m_style).radius;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor orange = Palette::orange();
    painter.setPen(QPen(withOpacity(orange, 0.35), 1));
    painter.setBrush(withOpacity(orange, 0.12));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), radius - 0.5, radius - 0.5);
}
