#pragma once

#include "records/ServiceRunRecord.h"

#include <QString>

// How a recorded run ended, as its history row and its output sheet show it.

// The palette colour that marks a run's outcome.
enum class ServiceRunOutcomeColor { green, red, slate, orange };

ServiceRunOutcomeColor outcomeColor(const ServiceRunRecord &record);
QString outcomeLabel(const ServiceRunRecord &record);
// "1 warning", "2 warnings".
QString securityWarningCountText(qsizetype findingCount);
