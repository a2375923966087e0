#pragma once

#include "records/AppSettings.h"

#include <functional>
#include <memory>

// The application's current settings as the service manager reads them at each
// start: the value last applied from settings.json or the Settings window, the
// defaults (the login shell, system appearance) until then. Main thread only.
class SettingsBridge {
public:
    using Provider = std::function<AppSettings()>;

    AppSettings current() const { return *m_settings; }
    void apply(const AppSettings &settings) { *m_settings = settings; }

    // A provider that never fails and stays valid after the bridge is gone,
    // answering with the settings last applied.
    Provider provider() const
    {
        return [settings = m_settings] { return *settings; };
    }

private:
    std::shared_ptr<AppSettings> m_settings = std::make_shared<AppSettings>();
};
