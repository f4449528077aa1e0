#include "core/ScanEngine.h"

namespace quillon::core {

std::vector<ScanResult> ScanEngine::scanFiles(const std::vector<platform::FileURL>& files) const {
    std::vector<ScanResult> results;
    for (const auto& file : files) {
        for (const auto& scanner : scanners_) {
            if (!scanner->canScan(file)) {
                continue;
            }
            ScanResult result = scanner->scan(file);
            if (result.riskScore > 0) {
                results.push_back(std::move(result));
            }
        }
    }
    return results;
}

}  // namespace quillon::core
