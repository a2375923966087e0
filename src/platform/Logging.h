#pragma once

#include <QLoggingCategory>

// The application's four log categories. Failures go out at critical level,
// summaries at info level; nothing secret is ever passed to them.
Q_DECLARE_LOGGING_CATEGORY(lcGeneral)
Q_DECLARE_LOGGING_CATEGORY(lcProcess)
Q_DECLARE_LOGGING_CATEGORY(lcPersistence)
Q_DECLARE_LOGGING_CATEGORY(lcMonitoring)
