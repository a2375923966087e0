#pragma once

#include <QHash>
#include <QList>

#include <deque>
#include <optional>
#include <utility>

// Tells a held key's repeats from new presses by the time stamps the window
// system gives its presses and releases, whatever its own repeat flag says: a
// press repeats while an earlier press of the key is down (no release since),
// or when it comes at the very time of the key's last release (an X server
// sends each repeat as a release and a press at one time). An event without
// a time stamp (0) is left out: such a press never repeats.
class KeyPressHistory {
public:
    void noteRelease(quint32 key, quint64 time);
    // Whether the press of `key` at `time` repeats. A press noted before (the
    // same key and time, seen again on its way through the application)
    // keeps the answer it had then.
    bool notePress(quint32 key, quint64 time);
    // The answer notePress gave for that press, while it is remembered.
    std::optional<bool> answer(quint32 key, quint64 time) const;
    // From now on no key counts as down; the times of the releases stay.
    void forgetDownKeys();
    // From now on exactly these keys count as down, as if pressed before: the
    // window system's word after a time the keys were out of sight.
    void noteDownKeys(const QList<quint32> &keys);

private:
    struct Key {
        bool down = false;
        quint64 releasedAt = 0;
        std::deque<std::pair<quint64, bool>> presses; // time, repeats; the latest last
    };
    QHash<quint32, Key> m_keys;
};
