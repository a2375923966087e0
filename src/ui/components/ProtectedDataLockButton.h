#pragma once

#include <QPointer>
#include <QToolButton>

class ProtectedProfilesLockManager;
class QAction;

// A 28×28 borderless button showing whether protected profiles are unlocked;
// pressing it locks them all. Hidden while there is no protected data. Screens
// pass the lock manager and update hasProtectedData when the profiles change.
// In a toolbar, visibility goes through the toolbar's action:
//     auto *lock = new ProtectedDataLockButton(lockManager, hasProtected);
//     lock->setToolBarAction(toolBar->addWidget(lock));
class ProtectedDataLockButton : public QToolButton {
    Q_OBJECT
public:
    ProtectedDataLockButton(ProtectedProfilesLockManager *lockManager, bool hasProtectedData,
                            QWidget *parent = nullptr);

    void setHasProtectedData(bool hasProtectedData);
    bool hasProtectedData() const { return m_hasProtectedData; }
    void setToolBarAction(QAction *action);
    // What the button shows: no, or the locked or unlocked state.
    bool isShown() const { return m_hasProtectedData; }
    QString symbolName() const;

    static QString lockedText() { return QStringLiteral("Protected environment profiles are locked"); }
    static QString unlockedText() { return QStringLiteral("Lock all protected environment profiles"); }

protected:
    void changeEvent(QEvent *event) override;

private:
    void refresh();

    QPointer<ProtectedProfilesLockManager> m_lockManager;
    bool m_hasProtectedData;
    QPointer<QAction> m_toolBarAction;
};
