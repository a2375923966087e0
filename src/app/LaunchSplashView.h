#pragma once

#include <QWidget>

class LaunchSplashSpinner;
class QGraphicsOpacityEffect;
class QLabel;

// What the main window shows while Velmora starts: the application icon,
// fading in after half a second, then the spinner.
class LaunchSplashView final : public QWidget {
    Q_OBJECT

public:
    static constexpr int logoSize = 132;
    static constexpr int spacing = 18;
    static constexpr int logoDelayMs = 500;
    static constexpr int logoFadeMs = 350;
    static constexpr int spinnerDelayMs = 350;
    static constexpr int spinnerFadeMs = 700;

    explicit LaunchSplashView(QWidget *parent = nullptr);

    bool isLogoVisible() const { return m_isLogoVisible; }
    bool isSpinnerVisible() const { return m_isSpinnerVisible; }
    QLabel *logo() const { return m_logo; }
    LaunchSplashSpinner *spinner() const { return m_spinner; }

protected:
    void showEvent(QShowEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void revealLogo();
    void revealSpinner();
    void fade(QGraphicsOpacityEffect *effect, int durationMs, bool easeInOut);

    QLabel *m_logo;
    LaunchSplashSpinner *m_spinner;
    QGraphicsOpacityEffect *m_logoOpacity;
    QGraphicsOpacityEffect *m_spinnerOpacity;
    bool m_isLogoVisible = false;
    bool m_isSpinnerVisible = false;
    bool m_started = false;
};
