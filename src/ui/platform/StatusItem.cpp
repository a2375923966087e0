#include "ui/platform/StatusItem.h"

#include <QCursor>
#include <QSignalBlocker>
#include <QSystemTrayIcon>
#include <QToolButton>

namespace {
// The box taken around the pointer when the tray does not say where its icon is.
constexpr int pointerBoxSize = 16;
} // namespace

bool StatusItem::contains(const QPoint &globalPosition) const
{
    const QRect anchor = anchorRect();
    return anchor.isValid() && anchor.contains(globalPosition);
}

void StatusItem::setHighlighted(bool) {}

TrayStatusItem::TrayStatusItem(const QIcon &icon, QObject *parent)
    : StatusItem(parent),
      m_tray(new QSystemTrayIcon(icon, this))
{
    m_tray->setToolTip(QStringLiteral("Velmora"));
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        // A double click already toggled on its first click.
        if (reason == QSystemTrayIcon::Unknown || reason == QSystemTrayIcon::DoubleClick)
            return;
        m_lastActivationPosition = QCursor::pos();
        Q_EMIT activated();
    });
    m_tray->show();
}

TrayStatusItem::~TrayStatusItem()
{
    m_tray->hide();
}

QRect TrayStatusItem::anchorRect() const
{
    const QRect geometry = m_tray->geometry();
    if (geometry.isValid() && !geometry.isEmpty())
        return geometry;
    if (m_lastActivationPosition.isNull())
        return {};
    return {m_lastActivationPosition - QPoint(pointerBoxSize / 2, pointerBoxSize / 2),
            QSize(pointerBoxSize, pointerBoxSize)};
}

ToolButtonStatusItem::ToolButtonStatusItem(const QIcon &icon, QObject *parent)
    : StatusItem(parent)
{
    auto *created = new QToolButton;
    m_button = created;
    created->setIcon(icon);
    created->setIconSize(QSize(18, 18));
    created->setAutoRaise(true);
    created->setCheckable(true);
    created->setToolTip(QStringLiteral("Velmora"));
    created->setAccessibleName(QStringLiteral("Velmora"));
    // The panel decides the checked state; a click or an assistive
    // technology's toggle only asks for the panel to toggle.
    connect(created, &QToolButton::toggled, this, [this, created](bool checked) {
        {
            const QSignalBlocker blocker(created);
            created->setChecked(!checked);
        }
        Q_EMIT activated();
    });
    // A right click toggles the panel like a left one; there is no menu.
    created->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(created, &QToolButton::customContextMenuRequested, this, &StatusItem::activated);
}

ToolButtonStatusItem::~ToolButtonStatusItem()
{
    // A button never placed in a window is still ours.
    QToolButton *button = m_button.data();
    if (button && !button->parent())
        delete button;
}

QRect ToolButtonStatusItem::anchorRect() const
{
    const QToolButton *button = m_button.data();
    if (!button || !button->isVisible())
        return {};
    return {button->mapToGlobal(QPoint(0, 0)), button->size()};
}

void ToolButtonStatusItem::setHighlighted(bool highlighted)
{
    if (QToolButton *button = m_button.data()) {
        const QSignalBlocker blocker(button);
        button->setChecked(highlighted);
    }
}
