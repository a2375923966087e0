#include "ui/screens/services/SegmentedPicker.h"

#include "ui/components/FocusMark.h"
#include "ui/components/TextStyle.h"
#include "ui/components/ThemeColor.h"
#include "ui/components/ThemeManager.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace {

constexpr int trackHeight = 24;
constexpr int inset = 2;

} // namespace

SegmentedPicker::SegmentedPicker(QStringList labels, QWidget *parent)
    : QWidget(parent),
      m_labels(std::move(labels))
{
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void SegmentedPicker::setCurrentIndex(int index)
{
    if (index < 0 || index >= m_labels.size() || index == m_current)
        return;
    m_current = index;
    setAccessibleDescription(m_labels.value(m_current));
    update();
}

QRect SegmentedPicker::segmentRect(int index) const
{
    const int count = std::max<int>(1, static_cast<int>(m_labels.size()));
    const int inner = width() - 2 * inset;
    const int left = inset + inner * index / count;
    const int right = inset + inner * (index + 1) / count;
    return QRect(left, inset, right - left, trackHeight - 2 * inset);
}

QSize SegmentedPicker::sizeHint() const
{
    const QFontMetrics metrics(textStyleFont(TextStyle::callout));
    int widest = 0;
    for (const QString &label : m_labels)
        widest = std::max(widest, metrics.horizontalAdvance(label));
    return {static_cast<int>(m_labels.size()) * (widest + 20) + 2 * inset, trackHeight};
}

void SegmentedPicker::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool dark = ThemeManager::instance().isDark();
    const QColor text = palette().color(QPalette::WindowText);
    QPainterPath track;
    track.addRoundedRect(QRectF(0, 0, width(), trackHeight), 7, 7);
    painter.fillPath(track, withOpacity(text, dark ? 0.10 : 0.07));

    const QRectF chosen = QRectF(segmentRect(m_current)).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath thumb;
    thumb.addRoundedRect(chosen, 5, 5);
    painter.fillPath(thumb, dark ? QColor(0x63, 0x63, 0x68) : QColor(Qt::white));
    painter.setPen(QPen(ThemeColor::separator().resolve(this), 1));
    painter.drawPath(thumb);
    if (hasFocus())
        paintFocusMark(painter, track.boundingRect(), 7, this);

    painter.setFont(textStyleFont(TextStyle::callout));
    for (int i = 0; i < m_labels.size(); ++i) {
        painter.setPen(i == m_current ? text : ThemeColor::secondary().resolve(text));
        painter.drawText(segmentRect(i), Qt::AlignCenter, m_labels[i]);
    }
}

void SegmentedPicker::mousePressEvent(QMouseEvent *event)
{
    for (int i = 0; i < m_labels.size(); ++i) {
        if (segmentRect(i).contains(event->position().toPoint())) {
            choose(i);
            return;
        }
    }
}

void SegmentedPicker::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Left)
        choose(m_current - 1);
    else if (event->key() == Qt::Key_Right)
        choose(m_current + 1);
    else
        QWidget::keyPressEvent(event);
}

void SegmentedPicker::choose(int index)
{
    if (index < 0 || index >= m_labels.size() || index == m_current)
        return;
    setCurrentIndex(index);
    Q_EMIT activated(index);
}
