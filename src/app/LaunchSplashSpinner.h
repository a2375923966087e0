#pragma once

#include <QWidget>

class QVariantAnimation;

// The splash's small spinner: a faint track with an arc that turns once every
// 0.85 seconds while the spinner is shown.
class LaunchSplashSpinner final : public QWidget {
    Q_OBJECT

public:
    static constexpr int size = 18;
    static constexpr int turnMs = 850;

    explicit LaunchSplashSpinner(QWidget *parent = nullptr);

    bool isAnimating() const;
    QSize sizeHint() const override { return {size, size}; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QVariantAnimation *m_rotation;
    qreal m_angle = 0;
};
