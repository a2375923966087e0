#pragma once

#include <QPointer>
#include <QToolButton>

class QAction;

// A 28×28 borderless button showing whether protected profiles are unlocked;
// pressing it asks for them all to be locked. Hidden while there is no
// protected data. Screens keep both states up to date from their controller
// and connect lockRequested to it. In a toolbar, visibility goes through the
// toolbar's action:
//     auto *lock = new ProtectedDataLockButton(hasProtected, isUnlocked);
//     lock->setToolBarAction(toolBar->addWidget(lock));
class ProtectedDataLockButton : public QToolButton {
    Q_OBJECT
public:
    ProtectedDataLockButton(bool hasProtectedData, bool isUnlocked, QWidget *parent = nullptr);

    void setHasProtectedData(bool hasProtectedData);
    bool hasProtectedData() const { return m_hasProtectedData; }
    void setUnlocked(bool isUnlocked);
    bool isUnlocked() const { return m_isUnlocked; }
    void setToolBarAction(QAction *action);
    // What the button shows: no, or the locked or unlocked state.
    bool isShown() const { return m_hasProtectedData; }
    QString symbolName() const;

    static QString lockedText() { return QStringLiteral("Protected environment profiles are locked"); }
    static QString unlockedText() { return QStringLiteral("Lock all protected environment profiles"); }

Q_SIGNALS:
    void lockRequested();

protected:
    void changeEvent(QEvent *event) override;

private:
    void refresh();

    bool m_hasProtectedData;
    bool m_isUnlocked;
    QPointer<QAction> m_toolBarAction;
};
