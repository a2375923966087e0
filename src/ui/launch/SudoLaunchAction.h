#pragma once

#include <QHash>
#include <QString>

#include <optional>

// Whether a guarded launch ends in a start or a restart; rides unchanged
// through the threat review and the sudo prompt.
enum class SudoLaunchAction { start, restart };

inline QString rawValue(SudoLaunchAction action)
{
    return action == SudoLaunchAction::start ? QStringLiteral("start") : QStringLiteral("restart");
}

inline std::optional<SudoLaunchAction> sudoLaunchActionFromRawValue(const QString &text)
{
    if (text == QLatin1String("start"))
        return SudoLaunchAction::start;
    if (text == QLatin1String("restart"))
        return SudoLaunchAction::restart;
    return std::nullopt;
}

inline size_t qHash(SudoLaunchAction action, size_t seed = 0)
{
    return qHash(rawValue(action), seed);
}
