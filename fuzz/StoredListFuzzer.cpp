// Decoding the stored project list and resolving its bookmarks, from any stored bytes.
#include <cstdint>
#include <string>

#include "monitor/URLStore.h"
#include "platform/Bookmarks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quillon;
    const std::string stored(reinterpret_cast<const char*>(data), size);
    if (const auto bookmarks = monitor::URLStore::decode(stored)) {
        for (const auto& bookmark : *bookmarks) {
            (void)platform::systemBookmarks().resolve(bookmark);
        }
        // What decodes must encode back to something that decodes the same.
        if (monitor::URLStore::decode(monitor::URLStore::encode(*bookmarks)) != bookmarks) {
            __builtin_trap();
        }
    }
    (void)platform::systemBookmarks().resolve(stored);
    return 0;
}
