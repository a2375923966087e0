#pragma once

#include "app/AppSection.h"
#include "app/LaunchSplashView.h"
#include "app/QuitConfirmationDialog.h"

#include <QHash>
#include <QPointer>
#include <QWidget>

class AppEnvironment;
class QGraphicsOpacityEffect;
class QVBoxLayout;
class SelectableSidebarRow;
class TitledMessageBox;

// The main window's content: the section sidebar beside the screen of the
// selected section, under the launch splash until start-up and the splash
// delay are both done; the main window's quit dialog; and the alert of a run
// history redaction that failed, whichever section is shown.
class ContentView final : public QWidget {
    Q_OBJECT

public:
    static constexpr int sidebarWidth = 210;
    static constexpr int detailMinimumWidth = 740;
    // Low enough for a 768-pixel laptop screen with a title bar and a top
    // panel; taller screens scroll inside the detail column.
    static constexpr int detailMinimumHeight = 500;
    static constexpr int crossFadeMs = 300;

    explicit ContentView(AppEnvironment &app, QWidget *parent = nullptr);

    QWidget *splitView() const { return m_split; }
    LaunchSplashView *splash() const { return m_splash; }
    QWidget *detailScreen() const { return m_detailScreen; }
    SelectableSidebarRow *sidebarRow(AppSection section) const { return m_rows.value(section); }
    QuitConfirmationDialog *quitDialog() const { return m_quitDialog; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    QWidget *buildSidebar();
    void showSection(AppSection section);
    void updateLaunchState();
    void crossFadeToSplitView();
    void presentQuitDialog(bool presented);
    // Opens the alert for the history's failing redactions once the window is
    // on screen and past its splash; until then the manager keeps the words.
    void showUntoldRedactionFailure();

    AppEnvironment &m_app;
    QWidget *m_split = nullptr;
    QVBoxLayout *m_detailLayout = nullptr;
    QPointer<QWidget> m_detailScreen;
    QHash<AppSection, SelectableSidebarRow *> m_rows;
    QPointer<LaunchSplashView> m_splash;
    QPointer<QuitConfirmationDialog> m_quitDialog;
    QPointer<TitledMessageBox> m_redactionAlert;
};
