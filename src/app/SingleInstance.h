#pragma once

#include <QObject>
#include <QString>

// Keeps Velmora to one running process per session. The first process owns
// the session-bus name com.tolvenix.Velmora and answers OpenMainWindow; a
// later start asks it to show its main window and then ends. Without a
// session bus every start counts as the first here; the lock on the data
// folder then keeps a second process out.
class SingleInstance final : public QObject {
    Q_OBJECT

public:
    static inline const QString serviceName = QStringLiteral("com.tolvenix.Velmora");
    static inline const QString objectPath = QStringLiteral("/com/tolvenix/Velmora");
    static inline const QString interfaceName = QStringLiteral("com.tolvenix.Velmora");

    enum class Claim {
        primary,         // this process is the one instance
        anotherInstance, // another process is running (and was asked for its window)
    };

    explicit SingleInstance(QObject *parent = nullptr);
    ~SingleInstance() override;

    Claim claim();

Q_SIGNALS:
    // Another start asked for the main window.
    void openMainWindowRequested();

private:
    bool m_ownsBusName = false;
};
