#include "ui/components/KeyPressHistory.h"

#include <algorithm>

namespace {

// Answers are looked up a little after the press is noted: as many presses
// as a held key repeats in several seconds of a stalled main thread.
constexpr std::size_t rememberedPresses = 256;

} // namespace

void KeyPressHistory::noteRelease(quint32 key, quint64 time)
{
    if (time == 0)
        return;
    Key &state = m_keys[key];
    state.down = false;
    state.releasedAt = time;
}

bool KeyPressHistory::notePress(quint32 key, quint64 time)
{
    if (time == 0)
        return false;
    if (const std::optional<bool> known = answer(key, time))
        return *known;
    Key &state = m_keys[key];
    const bool repeats = state.down || state.releasedAt == time;
    state.down = true;
    state.presses.emplace_back(time, repeats);
    if (state.presses.size() > rememberedPresses)
        state.presses.pop_front();
    return repeats;
}

std::optional<bool> KeyPressHistory::answer(quint32 key, quint64 time) const
{
    const auto state = m_keys.constFind(key);
    if (time == 0 || state == m_keys.cend())
        return std::nullopt;
    const auto press = std::find_if(state->presses.crbegin(), state->presses.crend(),
                                    [time](const auto &noted) { return noted.first == time; });
    return press == state->presses.crend() ? std::nullopt : std::optional<bool>(press->second);
}

void KeyPressHistory::forgetDownKeys()
{
    for (Key &state : m_keys)
        state.down = false;
}

void KeyPressHistory::noteDownKeys(const QList<quint32> &keys)
{
    forgetDownKeys();
    for (const quint32 key : keys)
        m_keys[key].down = true;
}
