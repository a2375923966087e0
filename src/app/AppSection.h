#pragma once

#include <QList>
#include <QString>

#include <optional>

// The sidebar sections of the main window, in sidebar order.
enum class AppSection { dashboard, environmentProfiles, services };

QList<AppSection> allAppSections();
QString rawValue(AppSection section);
// Nothing for any text that names no section.
std::optional<AppSection> appSectionFromRawValue(const QString &text);
QString title(AppSection section);
// The symbol the row shows; the components' symbol table maps it to a theme icon.
QString symbolName(AppSection section);
