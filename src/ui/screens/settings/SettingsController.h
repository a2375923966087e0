#pragma once

#include "records/AppSettings.h"

#include <QCoroTask>
#include <QObject>

#include <functional>
#include <optional>

class SettingsRepository;

// The Settings window's draft and its three commits (save, reset, the Dark
// Mode switch): each replaces the application's settings, applies them and
// writes settings.json off the main thread.
class SettingsController final : public QObject {
    Q_OBJECT
public:
    using SettingsSource = std::function<AppSettings()>;
    using SettingsSink = std::function<void(const AppSettings &)>;

    // `currentSettings` reads the application's settings; `applySettings`
    // replaces and applies them. The repository must outlive the controller.
    SettingsController(SettingsRepository &repository, SettingsSource currentSettings, SettingsSink applySettings,
                       QObject *parent = nullptr);

    const AppSettings &draft() const { return m_draft; }
    void setDraftShell(const QString &shell);
    // The window appeared: the draft becomes the stored settings again.
    void reseed();

    AppSettings currentSettings() const { return m_currentSettings(); }
    bool hasUnsavedChanges() const;
    bool isDraftAtDefaults() const { return m_draft == AppSettings {}; }
    bool isDarkModeEnabled(bool colorSchemeIsDark) const;

    const std::optional<QString> &saveMessage() const { return m_saveMessage; }
    const std::optional<QString> &errorMessage() const { return m_errorMessage; }
    void clearSaveMessage() { setSaveMessage(std::nullopt); }
    void clearErrorMessage() { setErrorMessage(std::nullopt); }

    void saveSettings();
    void resetToDefaults();
    void setAppearanceMode(AppAppearanceMode mode);

    QCoro::Task<> runSave();
    QCoro::Task<> runReset();
    QCoro::Task<> runAppearanceChange(AppAppearanceMode mode);

Q_SIGNALS:
    void draftChanged();
    // The application's settings were replaced.
    void settingsCommitted();
    void saveMessageChanged();
    void errorMessageChanged();

private:
    // Replaces and applies `settings`, then writes them; the failure's text,
    // or none after a successful write.
    QCoro::Task<std::optional<QString>> commit(AppSettings settings);
    void setDraft(const AppSettings &draft);
    void setSaveMessage(std::optional<QString> message);
    void setErrorMessage(std::optional<QString> message);

    SettingsRepository &m_repository;
    SettingsSource m_currentSettings;
    SettingsSink m_applySettings;
    AppSettings m_draft;
    std::optional<QString> m_saveMessage;
    std::optional<QString> m_errorMessage;
};
