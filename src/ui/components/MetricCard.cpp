#include "ui/components/MetricCard.h"

#include "ui/components/NumericTextTransition.h"

#include "ui/components/StyledLabel.h"
#include "ui/components/SymbolView.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

// The rounded tile behind the header symbol: the tint at 0.14.
class TintTile : public QWidget {
public:
    TintTile(const ThemeColor &tint, QWidget *parent)
        : QWidget(parent),
          m_tint(tint)
    {
        setFixedSize(28, 28);
    }
    void setTint(const ThemeColor &tint)
    {
        m_tint = tint;
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(withOpacity(m_tint.resolve(this), 0.14));
        painter.drawRoundedRect(QRectF(rect()), 8, 8);
    }

private:
    ThemeColor m_tint;
};

double clampedProgress(double value)
{
    if (std::isnan(value))
        return 0;
    return std::clamp(value, 0.0, 1.0);
}

} // namespace

MetricProgressBar::MetricProgressBar(ThemeColor tint, QWidget *parent)
    : QWidget(parent),
      m_tint(tint)
{
    setFixedHeight(6);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void MetricProgressBar::setValue(double value)
{
    const double clamped = clampedProgress(value);
    if (clamped == m_value)
        return;
    m_value = clamped;
    update();
}

void MetricProgressBar::setTint(ThemeColor tint)
{
    m_tint = tint;
    update();
}

void MetricProgressBar::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QRectF track(0, 0, width(), height());
    const qreal radius = height() / 2.0;
    painter.setBrush(ThemeColor::quaternary().resolve(this));
    painter.drawRoundedRect(track, radius, radius);
    if (m_value <= 0)
        return;
    painter.setBrush(m_tint.resolve(this));
    painter.drawRoundedRect(QRectF(0, 0, std::max(track.width() * m_value, qreal(height())), height()), radius, radius);
}

MetricCard::MetricCard(const QString &title, const QString &value, const std::optional<QString> &subtitle,
                       const std::optional<QString> &systemImage, ThemeColor tint, std::optional<double> progress,
                       QWidget *parent)
    : SurfaceCard(16, parent),
      m_tint(tint)
{
    contentLayout()->setSpacing(12);

    auto *header = new QHBoxLayout;
    header->setSpacing(8);
    m_iconTile = new TintTile(tint, this);
    auto *tileLayout = new QHBoxLayout(m_iconTile);
    tileLayout->setContentsMargins(0, 0, 0, 0);
    m_icon = new SymbolView(QString(), symbolPixelSize(TextStyle::subheadline), tint, m_iconTile);
    tileLayout->addWidget(m_icon, 0, Qt::AlignCenter);
    header->addWidget(m_iconTile);
    m_title = new StyledLabel(title, TextStyle::subheadline, QFont::Medium, ThemeColor::secondary(), this);
    m_title->setElideMode(Qt::ElideRight);
    header->addWidget(m_title, 1);
    contentLayout()->addLayout(header);

    m_value = new StyledLabel(value, TextStyle::title, QFont::DemiBold, ThemeColor::primary(), this);
    m_value->setTabularDigits(true);
    m_value->setObjectName(QStringLiteral("metricValue"));
    m_valueTransition = new NumericTextTransition(m_value);
    m_value->setElideMode(Qt::ElideRight);
    contentLayout()->addWidget(m_value);

    m_bar = new MetricProgressBar(tint, this);
    contentLayout()->addWidget(m_bar);

    m_subtitle = new StyledLabel(QString(), TextStyle::caption, QFont::Normal, ThemeColor::tertiary(), this);
    m_subtitle->setWordWrap(true);
    m_subtitle->setMaximumLineCount(2);
    contentLayout()->addWidget(m_subtitle);
    // Cards of one row share its height; the content stays at the top.
    contentLayout()->addStretch(1);

    setSystemImage(systemImage);
    setSubtitle(subtitle);
    setProgress(progress);
}

void MetricCard::setTitle(const QString &title)
{
    m_title->setText(title);
}

void MetricCard::setValue(const QString &value)
{
    m_valueTransition->setText(value);
}

void MetricCard::setSubtitle(const std::optional<QString> &subtitle)
{
    m_subtitle->setVisible(subtitle.has_value());
    if (subtitle && m_subtitle->text() != *subtitle)
        m_subtitle->setText(*subtitle);
}

void MetricCard::setSystemImage(const std::optional<QString> &systemImage)
{
    m_iconTile->setVisible(systemImage.has_value());
    m_icon->setSymbolName(systemImage.value_or(QString()));
}

void MetricCard::setTint(ThemeColor tint)
{
    m_tint = tint;
    static_cast<TintTile *>(m_iconTile)->setTint(tint);
    m_icon->setColor(tint);
    m_bar->setTint(tint);
}

void MetricCard::setProgress(std::optional<double> progress)
{
    m_progress = progress;
    m_bar->setVisible(progress.has_value());
    if (progress)
        m_bar->setValue(*progress);
}

QString MetricCard::title() const
{
    return m_title->text();
}

QString MetricCard::value() const
{
    return m_valueTransition->text();
}

std::optional<QString> MetricCard::subtitle() const
{
    if (m_subtitle->isHidden())
        return std::nullopt;
    return m_subtitle->text();
}

std::optional<double> MetricCard::shownProgress() const
{
    if (!m_progress)
        return std::nullopt;
    return m_bar->value();
}
