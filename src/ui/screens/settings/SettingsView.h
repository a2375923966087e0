#pragma once

#include "ui/screens/settings/SettingsController.h"

#include "ui/components/TitledMessageBox.h"

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

class QCheckBox;
class MacTextField;
class StyledLabel;
class QPushButton;

// The Settings window's content: Dark Mode, the default shell, the data
// folder and the save and reset buttons. Its controls stay disabled until
// start-up has loaded the stored settings.
class SettingsView final : public QWidget {
    Q_OBJECT
public:
    // `currentSettings` reads the application's settings; `applySettings`
    // replaces and applies them (appearance and the shell of the next launch).
    SettingsView(SettingsRepository *repository, SettingsController::SettingsSource currentSettings,
                 SettingsController::SettingsSink applySettings, QWidget *parent = nullptr);

    SettingsController &controller() const { return *m_controller; }
    void setApplicationReady(bool ready);
    // The application's settings were replaced from elsewhere: the buttons'
    // enablement and the toggle follow.
    void applicationSettingsChanged() { refresh(); }

    TitledMessageBox *openAlert() const { return m_alert; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    QWidget *makeSection(const QString &title, const QString &symbolName, QWidget *content);
    QWidget *makeAppearanceContent();
    QWidget *makeShellContent();
    QWidget *makeStorageContent();
    QWidget *makeButtons();
    void refresh();
    void confirmReset();
    void showAlert(const QString &title, const std::optional<QString> &message, void (SettingsController::*clear)());

    SettingsController *m_controller;
    bool m_ready = false;
    QCheckBox *m_darkMode = nullptr;
    MacTextField *m_shell = nullptr;
    StyledLabel *m_path = nullptr;
    QPushButton *m_save = nullptr;
    QPushButton *m_reset = nullptr;
    QPointer<TitledMessageBox> m_alert;
};
