#pragma once

#include "app/SettingsWindow.h"

#include <QMainWindow>
#include <QPointer>

class AppDelegate;
class AppEnvironment;
class ContentView;
class QAction;

// The main window "Velmora": the content view, the menus, F11 for full
// screen, and the launch task that starts the bootstrap and the splash delay
// whenever the window comes on screen. Closing it only hides it.
class MainWindow final : public QMainWindow {
    Q_OBJECT

public:
    static constexpr QSize firstSize {1180, 760};
    // Room left around the window for its frame and title bar, which the
    // screen's available area still has to hold.
    static constexpr QSize frameAllowance {16, 48};
    // The size the window opens at on a screen whose available area is
    // `available`: firstSize where it fits, else as large as the area allows
    // with the frame, never below the content's `minimum`.
    static QSize firstSizeWithin(const QRect &available, const QSize &minimum);
    static inline const QString privacyPolicyAddress = QStringLiteral("https://tolvenix.com/velmora/privacy");

    MainWindow(AppEnvironment &app, AppDelegate &delegate, QWidget *parent = nullptr);
    ~MainWindow() override;

    ContentView *contentView() const { return m_content; }
    SettingsWindow *settingsWindow() const { return m_settings; }
    QAction *quitAction() const { return m_quitAction; }
    QAction *fullScreenAction() const { return m_fullScreenAction; }

    // Shows the window (restored when minimized), raised and active.
    void bringToFront();
    // Opens the Settings window, or raises the one already open.
    void openSettings();
    void showAbout();
    void openPrivacyPolicy();

Q_SIGNALS:
    // The launch task's bootstrap has finished (also when it returned at once
    // because the application was ready): the moment to configure the panel.
    void bootstrapFinished();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void buildMenus();
    // "Services — Velmora": the shown screen's title.
    void updateWindowTitle();
    void runLaunchTask();
    void toggleFullScreen();

    AppEnvironment &m_app;
    AppDelegate &m_delegate;
    ContentView *m_content;
    QPointer<SettingsWindow> m_settings;
    QAction *m_quitAction = nullptr;
    QAction *m_fullScreenAction = nullptr;
};
