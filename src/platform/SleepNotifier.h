#pragma once

#include <QDBusUnixFileDescriptor>
#include <QObject>

// Tells when the machine is about to sleep, from logind's PrepareForSleep on the
// system bus. A delay inhibitor is held while awake, so the handlers of
// `aboutToSleep` run before the machine sleeps; it is released right after them.
// Without a system bus or logind there is simply no notice.
class SleepNotifier : public QObject {
    Q_OBJECT
public:
    explicit SleepNotifier(QObject *parent = nullptr);

Q_SIGNALS:
    void aboutToSleep();

private Q_SLOTS:
    void prepareForSleep(bool starting);

private:
    void takeInhibitor();

    QDBusUnixFileDescriptor m_inhibitor;
};
