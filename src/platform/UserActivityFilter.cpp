#include "platform/UserActivityFilter.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>

UserActivityFilter::UserActivityFilter(QObject *parent)
    : QObject(parent)
{
    if (QCoreApplication *app = QCoreApplication::instance())
        app->installEventFilter(this);
}

UserActivityFilter::~UserActivityFilter()
{
    if (QCoreApplication *app = QCoreApplication::instance())
        app->removeEventFilter(this);
}

bool UserActivityFilter::isQualifying(const QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
        return true;
    case QEvent::MouseMove:
        return static_cast<const QMouseEvent *>(event)->buttons() != Qt::NoButton;
    case QEvent::KeyPress: {
        switch (static_cast<const QKeyEvent *>(event)->key()) {
        case Qt::Key_Shift:
        case Qt::Key_Control:
        case Qt::Key_Meta:
        case Qt::Key_Alt:
        case Qt::Key_AltGr:
        case Qt::Key_CapsLock:
        case Qt::Key_NumLock:
        case Qt::Key_Super_L:
        case Qt::Key_Super_R:
        case Qt::Key_Hyper_L:
        case Qt::Key_Hyper_R:
            return false;
        default:
            return true;
        }
    }
    default:
        return false;
    }
}

bool UserActivityFilter::eventFilter(QObject *watched, QEvent *event)
{
    // Input reaches the window first and then its widgets; counting it only at
    // the window sees every event exactly once.
    if (watched->isWindowType() && isQualifying(event))
        Q_EMIT activity();
    return false;
}
