#pragma once

#include "records/Json.h"

#include <QHash>
#include <QList>
#include <QString>

#include <optional>

enum class AppAppearanceMode { system, light, dark };

QString toText(AppAppearanceMode mode);
std::optional<AppAppearanceMode> appAppearanceModeFromText(const QString &text);
QList<AppAppearanceMode> allAppAppearanceModes();

struct AppSettings {
    // The account's login shell, or /bin/sh (see defaultServiceShell). A stored
    // shell, "/bin/zsh" included, stays the person's choice.
    static QString defaultShellPath();

    QString defaultShell = defaultShellPath();
    AppAppearanceMode appearanceMode = AppAppearanceMode::system;

    // Lenient: a missing key takes its default; a wrong type or an unknown mode fails.
    static AppSettings fromJson(const json::Value &value);
    json::Value toJson(json::Allocator &allocator) const;

    friend bool operator==(const AppSettings &, const AppSettings &) = default;
};

size_t qHash(const AppSettings &settings, size_t seed = 0);
