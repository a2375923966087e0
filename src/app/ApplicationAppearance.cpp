#include "app/ApplicationAppearance.h"

#include "ui/components/ThemeManager.h"

#include <QApplication>
#include <QIcon>
#include <QStandardPaths>

namespace {

// Platforms without a desktop theme (a bare X server, say) search only the
// resources for icons: add the shared icon folders once.
void addSharedIconFolders()
{
    static bool added = false;
    if (added)
        return;
    added = true;
    QStringList searchPaths = QIcon::themeSearchPaths();
    const QStringList shared = QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, QStringLiteral("icons"),
                                                         QStandardPaths::LocateDirectory);
    for (const QString &folder : shared) {
        if (!searchPaths.contains(folder))
            searchPaths.append(folder);
    }
    QIcon::setThemeSearchPaths(searchPaths);
}

} // namespace

void applyApplicationAppearance(AppAppearanceMode mode)
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return;
    addSharedIconFolders();
    ThemeManager::instance().apply(mode);
}
