#pragma once

#include "ui/components/ThemeColor.h"

#include <QAbstractButton>
#include <QPointer>

class QVariantAnimation;

// A clickable card with a coloured dot, a title, a large count and a chevron;
// highlighted, it is drawn in its own tint. While pressed it dims to 0.78 and
// shrinks to 98.5 %, easing out over 0.12 s each way. Screens connect
// clicked() and update the count in place:
//     auto *running = new ServiceStatusActionCard(QStringLiteral("Running"), 3, Palette::Color::green);
class ServiceStatusActionCard : public QAbstractButton {
    Q_OBJECT
    Q_PROPERTY(qreal pressProgress READ pressProgress WRITE setPressProgress)
public:
    ServiceStatusActionCard(const QString &title, int count, ThemeColor tint, bool isHighlighted = false,
                            QWidget *parent = nullptr);

    QString title() const { return text(); }
    int count() const { return m_count; }
    ThemeColor tint() const { return m_tint; }
    bool isHighlighted() const { return m_highlighted; }
    void setCount(int count);
    void setTint(ThemeColor tint);
    void setHighlighted(bool highlighted);
    // The popup window the card opened: it has no accessible window of its
    // own, so while shown it is the card's last accessible child.
    void setAccessiblePopup(QWidget *popup);
    QWidget *accessiblePopup() const;

    // 0 at rest, 1 fully pressed; the drawn opacity and scale follow it.
    qreal pressProgress() const { return m_pressProgress; }
    void setPressProgress(qreal progress);
    qreal drawnOpacity() const { return 1.0 - 0.22 * m_pressProgress; }
    qreal drawnScale() const { return 1.0 - 0.015 * m_pressProgress; }
    // The count as drawn: it counts to a new value over a short animation.
    int drawnCount() const { return m_drawnCount; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    static constexpr int pressAnimationMs = 120;
    static constexpr int countAnimationMs = 300;

protected:
    void paintEvent(QPaintEvent *event) override;
    bool hitButton(const QPoint &position) const override;

private:
    void animatePress(bool down);

    int m_count;
    ThemeColor m_tint;
    bool m_highlighted;
    qreal m_pressProgress = 0;
    QVariantAnimation *m_animation;
    int m_drawnCount;
    QVariantAnimation *m_countAnimation;
    QPointer<QWidget> m_accessiblePopup;
};
