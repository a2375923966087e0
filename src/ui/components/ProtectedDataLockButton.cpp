#include "ui/components/ProtectedDataLockButton.h"

#include "ui/components/Palette.h"
#include "ui/components/SymbolIcon.h"
#include "ui/components/ThemeColor.h"

#include <QAction>
#include <QEvent>

ProtectedDataLockButton::ProtectedDataLockButton(bool hasProtectedData, bool isUnlocked, QWidget *parent)
    : QToolButton(parent),
      m_hasProtectedData(hasProtectedData),
      m_isUnlocked(isUnlocked)
{
    setAutoRaise(true);
    setFixedSize(28, 28);
    setIconSize(QSize(16, 16));
    setToolButtonStyle(Qt::ToolButtonIconOnly);
    connect(this, &QToolButton::clicked, this, &ProtectedDataLockButton::lockRequested);
    refresh();
}

void ProtectedDataLockButton::setHasProtectedData(bool hasProtectedData)
{
    if (hasProtectedData == m_hasProtectedData)
        return;
    m_hasProtectedData = hasProtectedData;
    refresh();
}

void ProtectedDataLockButton::setUnlocked(bool isUnlocked)
{
    if (isUnlocked == m_isUnlocked)
        return;
    m_isUnlocked = isUnlocked;
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
    const bool unlocked = m_isUnlocked;
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
