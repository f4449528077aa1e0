#include "platform/Defaults.h"

namespace quillon::platform {

std::optional<std::string> MemoryDefaults::data(const std::string& key) const {
    std::lock_guard lock(mutex_);
    const auto found = values_.find(key);
    if (found == values_.end()) {
        return std::nullopt;
    }
    return found->second;
}

void MemoryDefaults::setData(const std::string& key, const std::string& value) {
    std::lock_guard lock(mutex_);
    values_[key] = value;
    ++writes_;
}

int MemoryDefaults::writeCount() const {
    std::lock_guard lock(mutex_);
    return writes_;
}

}  // namespace quillon::platform
