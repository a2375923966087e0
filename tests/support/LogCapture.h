#pragma once

#include <QStringList>
#include <QtGlobal>

// Records every log message (as "category: text") while it is alive.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList messages() const;
    bool contains(const QString &fragment) const;
    void clear();

private:
    QtMessageHandler m_previous;
};
