#pragma once

#include <QObject>

// Sees the application's own qualifying input — mouse presses and drags of any
// button, key presses other than lone modifiers, scroll wheel — once per event,
// and never consumes it. Moves without a button, releases and modifier keys
// do not count.
class UserActivityFilter : public QObject {
    Q_OBJECT
public:
    explicit UserActivityFilter(QObject *parent = nullptr);
    ~UserActivityFilter() override;

    bool eventFilter(QObject *watched, QEvent *event) override;
    static bool isQualifying(const QEvent *event);

Q_SIGNALS:
    void activity();
};
