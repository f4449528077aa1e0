#!/usr/bin/env bash
# Builds Quillon with AddressSanitizer and UndefinedBehaviorSanitizer and runs the whole test
# suite.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
quillon_require_packages "${QUILLON_BUILD_PACKAGES[@]}" "${QUILLON_TEST_PACKAGES[@]}"

cmake --preset dev >/dev/null
cmake --build --preset dev
ctest --preset dev

# The monitor's threads once more under ThreadSanitizer.
cmake --preset tsan >/dev/null
cmake --build --preset tsan --target monitor_tests
ctest --preset tsan

# Hostile project folders against the optimised scanner, under time and memory limits.
cmake --preset hostile >/dev/null
cmake --build --preset hostile
ctest --preset hostile

# The fuzz targets, replaying their corpora.
bash fuzz/run.sh replay
