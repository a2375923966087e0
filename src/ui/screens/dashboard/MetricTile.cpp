#include "ui/screens/dashboard/MetricTile.h"

#include "ui/screens/ScreenStyle.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

using namespace ScreenStyle;

// A 64-point ring filled to the progress, the value written inside.
class MetricTile::Gauge final : public QWidget {
public:
    Gauge(QColor tint, QWidget *parent) : QWidget(parent), m_tint(tint) { setFixedSize(64, 64); }

    void setValue(double progress, const QString &text)
    {
        if (progress == m_progress && text == m_text)
            return;
        m_progress = progress;
        m_text = text;
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF ring = QRectF(rect()).adjusted(4, 4, -4, -4);
        QColor track = m_tint;
        track.setAlphaF(0.18f);
        painter.setPen(QPen(track, 6, Qt::SolidLine, Qt::RoundCap));
        painter.drawEllipse(ring);
        if (m_progress > 0) {
            painter.setPen(QPen(m_tint, 6, Qt::SolidLine, Qt::RoundCap));
            painter.drawArc(ring, 90 * 16, -int(m_progress * 360 * 16));
        }
        painter.setPen(palette().color(QPalette::WindowText));
        QFont valueFont = ScreenStyle::font(TextStyle::caption, QFont::DemiBold);
        valueFont.setPointSizeF(valueFont.pointSizeF() * 0.9);
        painter.setFont(valueFont);
        painter.drawText(rect(), Qt::AlignCenter, m_text);
    }

private:
    QColor m_tint;
    double m_progress = 0;
    QString m_text;
};

MetricTile::MetricTile(const QString &title, const QString &symbolName, QColor tint, QWidget *parent)
    : QWidget(parent), m_tint(tint), m_gauge(new Gauge(tint, this))
{
    setProperty("symbolName", symbolName);
    setAccessibleName(title);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(16);
    layout->addWidget(m_gauge);
    auto *texts = new QVBoxLayout;
    texts->setSpacing(4);
    auto *titleLabel = plainLabel(title, TextStyle::subheadline, this, QFont::Medium);
    titleLabel->setStyleSheet(QStringLiteral("color: %1;").arg(cssColor(secondaryText())));
    m_value = plainLabel(QString(), TextStyle::title2, this, QFont::DemiBold);
    m_value->setObjectName(QStringLiteral("metricValue"));
    m_subtitle = plainLabel(QString(), TextStyle::caption, this);
    m_subtitle->setObjectName(QStringLiteral("metricSubtitle"));
    m_subtitle->setWordWrap(true);
    m_subtitle->setStyleSheet(QStringLiteral("color: %1;").arg(cssColor(tertiaryText())));
    m_subtitle->hide();
    texts->addWidget(titleLabel);
    texts->addWidget(m_value);
    texts->addWidget(m_subtitle);
    layout->addLayout(texts);
    layout->addStretch(1);
}

void MetricTile::setValue(const QString &valueText, double progress, const QString &subtitle)
{
    m_progress = progress;
    m_gauge->setValue(progress, valueText);
    if (m_value->text() != valueText)
        m_value->setText(valueText);
    if (m_subtitle->text() != subtitle) {
        m_subtitle->setText(subtitle);
        m_subtitle->setVisible(!subtitle.isEmpty());
    }
}

QString MetricTile::valueText() const
{
    return m_value->text();
}

QString MetricTile::subtitle() const
{
    return m_subtitle->text();
}

void MetricTile::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath card;
    card.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 14, 14);
    QColor fill = palette().color(QPalette::Base);
    QColor outline = palette().color(QPalette::WindowText);
    outline.setAlphaF(0.12f);
    painter.fillPath(card, fill);
    painter.setPen(outline);
    painter.drawPath(card);
}
