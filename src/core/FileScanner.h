#pragma once

#include "core/ScanResult.h"
#include "platform/FileURL.h"

namespace quillon::core {

// A detector. Both operations may be called from any thread and never fail outward: a file
// that cannot be read or analysed yields a result with score 0. `scan` is called only after
// `canScan` returned true for the same file, and its result names that file.
class FileScanner {
  public:
    virtual ~FileScanner() = default;
    // Cheap: decides by the file's lowercased extension alone.
    virtual bool canScan(const platform::FileURL& file) const = 0;
    virtual ScanResult scan(const platform::FileURL& file) const = 0;
};

}  // namespace quillon::core
