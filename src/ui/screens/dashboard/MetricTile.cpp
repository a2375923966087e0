#include "ui/screens/dashboard/MetricTile.h"

#include "ui/components/NumericTextTransition.h"

#include "ui/components/StyledLabel.h"
#include "ui/components/SymbolIcon.h"
#include "ui/components/TextStyle.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

// A 64-point ring filled to the progress, the symbol above the value inside.
class MetricTile::Gauge final : public QWidget {
public:
    Gauge(const QString &symbolName, ThemeColor tint, QWidget *parent)
        : QWidget(parent),
          m_symbolName(symbolName),
          m_tint(tint)
    {
        setFixedSize(64, 64);
        setProperty(symbolNameProperty, symbolName);
    }

    // Repaints only when the ring or the text drawn would change: a figure
    // that moved by less than the ring can show costs nothing.
    void setValue(double progress, const QString &text)
    {
        const bool sameRing = arcSpan(progress) == arcSpan(m_progress) && (progress > 0) == (m_progress > 0);
        m_progress = progress;
        if (sameRing && text == m_text)
            return;
        m_text = text;
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QColor tint = m_tint.resolve(this);
        const QRectF ring = QRectF(rect()).adjusted(4, 4, -4, -4);
        QColor track = tint;
        track.setAlphaF(0.18f);
        painter.setPen(QPen(track, 6));
        painter.drawEllipse(ring);
        if (m_progress > 0) {
            painter.setPen(QPen(tint, 6, Qt::SolidLine, Qt::RoundCap));
            painter.drawArc(ring, 90 * 16, arcSpan(m_progress));
        }
        painter.drawPixmap(QRect(24, 14, 16, 16),
                           symbolPixmap(m_symbolName, 16, secondaryTextColor(), devicePixelRatioF()));
        painter.setPen(palette().color(QPalette::WindowText));
        QFont valueFont = monospacedFont(TextStyle::caption, QFont::DemiBold);
        painter.setFont(valueFont);
        painter.drawText(QRect(0, 32, width(), 16), Qt::AlignCenter, m_text);
    }

private:
    // The ring's arc in sixteenths of a degree, clockwise from the top.
    static int arcSpan(double progress) { return -int(progress * 360 * 16); }

    QString m_symbolName;
    ThemeColor m_tint;
    double m_progress = 0;
    QString m_text;
};

MetricTile::MetricTile(const QString &title, const QString &symbolName, ThemeColor tint, QWidget *parent)
    : SurfaceCard(16, parent),
      m_gauge(new Gauge(symbolName, tint, this))
{
    setAccessibleName(title);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto *row = new QHBoxLayout;
    row->setSpacing(16);
    row->addWidget(m_gauge);
    auto *texts = new QVBoxLayout;
    texts->setSpacing(4);
    texts->addWidget(new StyledLabel(title, TextStyle::subheadline, QFont::Medium, ThemeColor::secondary(), this));
    m_value = new StyledLabel(QString(), TextStyle::title2, QFont::DemiBold, ThemeColor::primary(), this);
    m_value->setTabularDigits(true);
    m_valueTransition = new NumericTextTransition(m_value);
    m_value->setObjectName(QStringLiteral("metricValue"));
    m_subtitle = new StyledLabel(QString(), TextStyle::caption, QFont::Normal, ThemeColor::tertiary(), this);
    m_subtitle->setObjectName(QStringLiteral("metricSubtitle"));
    m_subtitle->setWordWrap(true);
    m_subtitle->setMaximumLineCount(2);
    m_subtitle->hide();
    texts->addWidget(m_value);
    texts->addWidget(m_subtitle);
    row->addLayout(texts, 1);
    contentLayout()->addLayout(row);
}

void MetricTile::setValue(const QString &valueText, double progress, const QString &subtitle)
{
    m_progress = progress;
    m_gauge->setValue(progress, valueText);
    m_valueTransition->setText(valueText);
    if (m_subtitle->text() != subtitle) {
        m_subtitle->setText(subtitle);
        m_subtitle->setVisible(!subtitle.isEmpty());
    }
}

QString MetricTile::valueText() const
{
    return m_valueTransition->text();
}

QString MetricTile::subtitle() const
{
    return m_subtitle->text();
}
