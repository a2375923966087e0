#include "ui/components/PaletteFollower.h"

#include <QEvent>
#include <QWidget>

PaletteFollower::PaletteFollower(QWidget *widget, std::function<void()> apply)
    : QObject(widget),
      m_apply(std::move(apply))
{
    widget->installEventFilter(this);
    run();
}

bool PaletteFollower::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::PaletteChange && watched == parent())
        run();
    return QObject::eventFilter(watched, event);
}

void PaletteFollower::run()
{
    if (m_applying)
        return;
    m_applying = true;
    m_apply();
    m_applying = false;
}

void followPalette(QWidget *widget, std::function<void()> apply)
{
    new PaletteFollower(widget, std::move(apply));
}
