#pragma once

#include <QString>

#include "platform/Defaults.h"

namespace quillon::platform::qt {

// The user-defaults database on QSettings: on macOS the application's defaults domain, on
// Linux the settings file under the XDG configuration folder. Every write is synced at once;
// QSettings writes the file through a temporary file and a rename, so a crash leaves the old
// value or the new one. Main thread only.
class QSettingsDefaults final : public Defaults {
  public:
    QSettingsDefaults(QString organization = "Quillon", QString application = "Quillon");
    std::optional<std::string> data(const std::string& key) const override;
    void setData(const std::string& key, const std::string& value) override;

  private:
    QString organization_;
    QString application_;
};

}  // namespace quillon::platform::qt
