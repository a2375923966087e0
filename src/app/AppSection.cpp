#include "app/AppSection.h"

QList<AppSection> allAppSections()
{
    return {AppSection::dashboard, AppSection::environmentProfiles, AppSection::services};
}

QString rawValue(AppSection section)
{
    switch (section) {
    case AppSection::dashboard:
        return QStringLiteral("dashboard");
    case AppSection::environmentProfiles:
        return QStringLiteral("environmentProfiles");
    case AppSection::services:
        return QStringLiteral("services");
    }
    return {};
}

std::optional<AppSection> appSectionFromRawValue(const QString &text)
{
    for (const AppSection section : allAppSections()) {
        if (rawValue(section) == text)
            return section;
    }
    return std::nullopt;
}

QString title(AppSection section)
{
    switch (section) {
    case AppSection::dashboard:
        return QStringLiteral("Dashboard");
    case AppSection::environmentProfiles:
        return QStringLiteral("Environment Profiles");
    case AppSection::services:
        return QStringLiteral("Services");
    }
    return {};
}

QString symbolName(AppSection section)
{
    switch (section) {
    case AppSection::dashboard:
        return QStringLiteral("gauge.open.with.lines.needle.33percent");
    case AppSection::environmentProfiles:
        return QStringLiteral("person.text.rectangle.fill");
    case AppSection::services:
        return QStringLiteral("shippingbox.fill");
    }
    return {};
}
