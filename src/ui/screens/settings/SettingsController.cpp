#include "ui/screens/settings/SettingsController.h"

#include "records/FileStoreError.h"
#include "records/SettingsRepository.h"

#include <QCoroFuture>
#include <QPointer>

namespace {

void startTask(QCoro::Task<> &&task)
{
    (void)std::move(task);
}

} // namespace

SettingsController::SettingsController(SettingsRepository &repository, SettingsSource currentSettings,
                                       SettingsSink applySettings, QObject *parent)
    : QObject(parent),
      m_repository(repository),
      m_currentSettings(std::move(currentSettings)),
      m_applySettings(std::move(applySettings))
{}

void SettingsController::setDraftShell(const QString &shell)
{
    AppSettings next = m_draft;
    next.defaultShell = shell;
    setDraft(next);
}

void SettingsController::reseed()
{
    setDraft(currentSettings());
}

bool SettingsController::hasUnsavedChanges() const
{
    return m_draft != currentSettings();
}

bool SettingsController::isDarkModeEnabled(bool colorSchemeIsDark) const
{
    switch (m_draft.appearanceMode) {
    case AppAppearanceMode::dark:
        return true;
    case AppAppearanceMode::light:
        return false;
    case AppAppearanceMode::system:
        return colorSchemeIsDark;
    }
    return false;
}

void SettingsController::saveSettings()
{
    startTask(runSave());
}

void SettingsController::resetToDefaults()
{
    startTask(runReset());
}

void SettingsController::setAppearanceMode(AppAppearanceMode mode)
{
    AppSettings next = m_draft;
    next.appearanceMode = mode;
    setDraft(next);
    startTask(runAppearanceChange(mode));
}

QCoro::Task<std::optional<QString>> SettingsController::commit(AppSettings settings)
{
    if (m_applySettings)
        m_applySettings(settings);
    Q_EMIT settingsCommitted();
    try {
        co_await m_repository.save(settings);
    } catch (const FileStoreError &error) {
        co_return error.message();
    } catch (const std::exception &error) {
        co_return QString::fromLocal8Bit(error.what());
    }
    co_return std::nullopt;
}

QCoro::Task<> SettingsController::runSave()
{
    QPointer self(this);
    AppSettings settings = m_draft;
    if (settings.defaultShell.isEmpty())
        settings.defaultShell = AppSettings::defaultShellPath();
    const auto failure = co_await commit(settings);
    if (!self)
        co_return;
    if (failure) {
        setErrorMessage(failure);
        co_return;
    }
    setDraft(settings);
    setSaveMessage(QStringLiteral("Settings saved."));
}

QCoro::Task<> SettingsController::runReset()
{
    QPointer self(this);
    // A named value, not a temporary: GCC 12 destroys a temporary argument of
    // a coroutine call inside co_await twice.
    const AppSettings defaults;
    const auto failure = co_await commit(defaults);
    if (!self)
        co_return;
    if (failure) {
        setErrorMessage(failure);
        co_return;
    }
    setDraft(defaults);
    setSaveMessage(QStringLiteral("Settings reset to defaults."));
}

QCoro::Task<> SettingsController::runAppearanceChange(AppAppearanceMode mode)
{
    QPointer self(this);
    AppSettings settings = currentSettings();
    settings.appearanceMode = mode;
    const auto failure = co_await commit(settings);
    if (!self)
        co_return;
    AppSettings next = m_draft;
    next.appearanceMode = failure ? currentSettings().appearanceMode : mode;
    setDraft(next);
    if (failure)
        setErrorMessage(failure);
}

void SettingsController::setDraft(const AppSettings &draft)
{
    if (draft == m_draft)
        return;
    m_draft = draft;
    Q_EMIT draftChanged();
}

void SettingsController::setSaveMessage(std::optional<QString> message)
{
    m_saveMessage = std::move(message);
    Q_EMIT saveMessageChanged();
}

void SettingsController::setErrorMessage(std::optional<QString> message)
{
    m_errorMessage = std::move(message);
    Q_EMIT errorMessageChanged();
}
