#pragma once

#include <QDBusMessage>
#include <QObject>

#include <optional>

// The desktop's colour-scheme preference from the freedesktop settings portal
// (org.freedesktop.appearance color-scheme: 1 prefers dark, 2 prefers light),
// read once without blocking and followed through SettingChanged. Absent while
// unknown: no session bus, no portal, or "no preference".
class ColorSchemePortal : public QObject {
    Q_OBJECT
public:
    explicit ColorSchemePortal(QObject *parent = nullptr);

    std::optional<bool> prefersDark() const { return m_prefersDark; }

    // The portal's value as a preference: 1 dark, 2 light, anything else none.
    static std::optional<bool> preferenceFromValue(uint value);

Q_SIGNALS:
    void prefersDarkChanged();

private Q_SLOTS:
    // Takes the whole message: a slot with a variant parameter does not connect.
    void onSettingChanged(const QDBusMessage &message);

private:
    void setPreference(std::optional<bool> prefersDark);

    std::optional<bool> m_prefersDark;
};
