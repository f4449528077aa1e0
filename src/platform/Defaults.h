#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace quillon::platform {

// The user-defaults database: one byte value per key. A write replaces the whole value
// atomically (readers see the old value or the new one, never a mix). Implementations are
// used from the main thread only unless they say otherwise.
class Defaults {
  public:
    virtual ~Defaults() = default;
    virtual std::optional<std::string> data(const std::string& key) const = 0;
    virtual void setData(const std::string& key, const std::string& value) = 0;
};

// Kept in memory only, for tests; thread-safe.
class MemoryDefaults final : public Defaults {
  public:
    std::optional<std::string> data(const std::string& key) const override;
    void setData(const std::string& key, const std::string& value) override;
    int writeCount() const;

  private:
    mutable std::mutex mutex_;
    std::map<std::string, std::string> values_;
    int writes_ = 0;
};

}  // namespace quillon::platform
