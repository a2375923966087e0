#include "ui/components/ProtectedDataLockButton.h"

#include "profiles/ProtectedProfilesLockManager.h"
#include "ui/components/Palette.h"
#include "ui/components/SymbolIcon.h"
#include "ui/components/ThemeColor.h"

#include <QAction>
#include <QEvent>

ProtectedDataLockButton::ProtectedDataLockButton(ProtectedProfilesLockManager *lockManager, bool hasProtectedData,
                                                 QWidget *parent)
    : QToolButton(parent),
      m_lockManager(lockManager),
      m_hasProtectedData(hasProtectedData)
{
    setAutoRaise(true);
    setFixedSize(28, 28);
    setIconSize(QSize(16, 16));
    setToolButtonStyle(Qt::ToolButtonIconOnly);
    if (lockManager)
        connect(lockManager, &ProtectedProfilesLockManager::isUnlockedChanged, this, &ProtectedDataLockButton::refresh);
    connect(this, &QToolButton::clicked, this, [this] {
        if (ProtectedProfilesLockManager *manager = m_lockManager.data())
            manager->lock();
    });
    refresh();
}

void ProtectedDataLockButton::setHasProtectedData(bool hasProtectedData)
{
    if (hasProtectedData == m_hasProtectedData)
        return;
    m_hasProtectedData = hasProtectedData;
    refresh();
}

void ProtectedDataLockButton::setToolBarAction(QAction *action)
{
    m_toolBarAction = action;
    refresh();
}

QString ProtectedDataLockButton::symbolName() const
{
    return property(symbolNameProperty).toString();
}

void ProtectedDataLockButton::refresh()
{
    const ProtectedProfilesLockManager *manager = m_lockManager.data();
    const bool unlocked = manager != nullptr && manager->isUnlocked();
    const QString text = unlocked ? unlockedText() : lockedText();
    const QColor color = unlocked ? Palette::orange() : ThemeColor::secondary().resolve(this);
    setButtonSymbol(this, unlocked ? QStringLiteral("lock.open.fill") : QStringLiteral("lock.fill"), color, 16);
    setEnabled(unlocked);
    setToolTip(text);
    setAccessibleName(text);
    if (m_toolBarAction)
        m_toolBarAction->setVisible(m_hasProtectedData);
    else
        setVisible(m_hasProtectedData);
}

void ProtectedDataLockButton::changeEvent(QEvent *event)
{
    QToolButton::changeEvent(event);
    // The symbol is drawn in theme colours: draw it again after a switch.
    if (event->type() == QEvent::PaletteChange)
        refresh();
}
