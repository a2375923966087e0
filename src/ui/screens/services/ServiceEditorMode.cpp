#include "ui/screens/services/ServiceEditorMode.h"

#include <QUuid>

QString ServiceEditorMode::id() const
{
    if (!service)
        return QStringLiteral("create");
    return service->id.toString(QUuid::WithoutBraces).toUpper();
}
