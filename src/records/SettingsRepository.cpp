#include "records/SettingsRepository.h"

QFuture<AppSettings> SettingsRepository::load()
{
    return m_executor.run([this] { return m_store.load(AppSettings {}); });
}

QFuture<void> SettingsRepository::save(const AppSettings &settings)
{
    return m_executor.run([this, settings] { m_store.save(settings); });
}
