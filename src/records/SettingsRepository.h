#pragma once

#include "records/AppSettings.h"
#include "records/JSONFileStore.h"
#include "records/SerialExecutor.h"

#include <QFuture>

// settings.json, one request at a time.
class SettingsRepository {
public:
    explicit SettingsRepository(const QString &path)
        : m_store(path)
    {}

    // The stored settings, or the defaults when the file is missing or unreadable.
    QFuture<AppSettings> load();
    // Throws FileStoreError through the future; the previous file stays.
    QFuture<void> save(const AppSettings &settings);

private:
    JSONFileStore<AppSettings> m_store;
    SerialExecutor m_executor;
};
