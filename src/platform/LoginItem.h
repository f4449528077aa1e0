#pragma once

#include <string>

namespace quillon::platform {

// Whether the application starts when the user logs in. Main thread only.
class LoginItem {
  public:
    virtual ~LoginItem() = default;
    virtual bool isEnabled() const = 0;
    // False, with `error` set, when the entry could not be written or removed.
    virtual bool setEnabled(bool enabled, std::string& error) = 0;
};

// The XDG autostart entry $XDG_CONFIG_HOME/autostart/quillon.desktop (~/.config when unset),
// starting `executable --background`. Other desktops get a login item of their own later.
class XdgAutostart final : public LoginItem {
  public:
    // `configHome` empty: from the environment.
    explicit XdgAutostart(std::string executable, std::string configHome = {});
    bool isEnabled() const override;
    bool setEnabled(bool enabled, std::string& error) override;
    const std::string& entryPath() const { return path_; }
    // The entry's text.
    std::string entry() const;

  private:
    std::string executable_;
    std::string path_;
};

// Kept in memory, for tests.
class MemoryLoginItem final : public LoginItem {
  public:
    bool isEnabled() const override { return enabled_; }
    bool setEnabled(bool enabled, std::string&) override {
        enabled_ = enabled;
        return true;
    }

  private:
    bool enabled_ = false;
};

}  // namespace quillon::platform
