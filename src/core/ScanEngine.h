#pragma once

#include <memory>
#include <vector>

#include "core/FileScanner.h"
#include "core/ScanResult.h"

namespace quillon::core {

// Runs a fixed list of detectors over files and keeps the results with a positive score, file
// by file and, within a file, in detector order. Runs on the calling thread; the detector list
// never changes after construction.
class ScanEngine {
  public:
    explicit ScanEngine(std::vector<std::shared_ptr<const FileScanner>> scanners)
        : scanners_(std::move(scanners)) {}

    std::vector<ScanResult> scanFiles(const std::vector<platform::FileURL>& files) const;

    const std::vector<std::shared_ptr<const FileScanner>>& scanners() const { return scanners_; }

  private:
    std::vector<std::shared_ptr<const FileScanner>> scanners_;
};

}  // namespace quillon::core
