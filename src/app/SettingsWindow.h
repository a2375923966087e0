#pragma once

#include <QWidget>

class AppEnvironment;

// The Settings window: its own top-level window around the settings screen.
class SettingsWindow final : public QWidget {
    Q_OBJECT

public:
    static constexpr QSize minimumContentSize {500, 520};
    static constexpr QSize maximumContentSize {820, 960};
    static constexpr QSize firstSize {560, 640};

    explicit SettingsWindow(AppEnvironment &app, QWidget *parent = nullptr);

    QWidget *screen() const { return m_screen; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    QWidget *m_screen;
};
