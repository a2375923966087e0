#include "platform/Logging.h"

Q_LOGGING_CATEGORY(lcGeneral, "com.tolvenix.Velmora.general", QtInfoMsg)
Q_LOGGING_CATEGORY(lcProcess, "com.tolvenix.Velmora.process", QtInfoMsg)
Q_LOGGING_CATEGORY(lcPersistence, "com.tolvenix.Velmora.persistence", QtInfoMsg)
Q_LOGGING_CATEGORY(lcMonitoring, "com.tolvenix.Velmora.monitoring", QtInfoMsg)
