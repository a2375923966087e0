#include "records/AppSettings.h"

#include "platform/LoginShell.h"

QString toText(AppAppearanceMode mode)
{
    switch (mode) {
    case AppAppearanceMode::system:
        return QStringLiteral("system");
    case AppAppearanceMode::light:
        return QStringLiteral("light");
    case AppAppearanceMode::dark:
        return QStringLiteral("dark");
    }
    return {};
}

QList<AppAppearanceMode> allAppAppearanceModes()
{
    return {AppAppearanceMode::system, AppAppearanceMode::light, AppAppearanceMode::dark};
}

std::optional<AppAppearanceMode> appAppearanceModeFromText(const QString &text)
{
    for (AppAppearanceMode mode : allAppAppearanceModes()) {
        if (toText(mode) == text)
            return mode;
    }
    return std::nullopt;
}

QString AppSettings::defaultShellPath()
{
    return defaultServiceShell();
}

AppSettings AppSettings::fromJson(const json::Value &value)
{
    const json::ObjectReader reader(value, "AppSettings");
    AppSettings settings;
    if (auto shell = reader.optionalString("defaultShell"))
        settings.defaultShell = *shell;
    if (auto modeText = reader.optionalString("appearanceMode")) {
        auto mode = appAppearanceModeFromText(*modeText);
        if (!mode) {
            throw json::DecodeError(QStringLiteral("Cannot initialize AppAppearanceMode from invalid value “%1”.")
                                        .arg(json::excerpt(*modeText)));
        }
        settings.appearanceMode = *mode;
    }
    return settings;
}

json::Value AppSettings::toJson(json::Allocator &allocator) const
{
    return json::ObjectWriter(allocator)
        .set("defaultShell", defaultShell)
        .set("appearanceMode", toText(appearanceMode))
        .take();
}

size_t qHash(const AppSettings &settings, size_t seed)
{
    return qHashMulti(seed, settings.defaultShell, static_cast<int>(settings.appearanceMode));
}
