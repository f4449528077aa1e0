#!/usr/bin/env bash
# Builds Quillon and runs every test suite: the whole suite with AddressSanitizer and
# UndefinedBehaviorSanitizer, the monitor under ThreadSanitizer, the hostile-input suite against
# the optimised scanner, and the fuzz targets over their corpora.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
quillon_require_packages "${QUILLON_BUILD_PACKAGES[@]}" "${QUILLON_TEST_PACKAGES[@]}"

cmake --preset dev >/dev/null
cmake --build --preset dev

# The SARIF Multitool (an npm package), which validates the scanner's SARIF in the suite.
multitool=build/tools/node_modules/@microsoft/sarif-multitool-linux/Sarif.Multitool
if [ ! -x "$multitool" ]; then
    command -v npm >/dev/null || quillon_require_packages npm
    npm install --prefix build/tools --no-audit --no-fund --loglevel=error \
        @microsoft/sarif-multitool-linux@5.7.0
    chmod u+x "$multitool"
fi

# The monitor's threads under ThreadSanitizer.
cmake --preset tsan >/dev/null
cmake --build --preset tsan --target monitor_tests
ctest --preset tsan

# Hostile project folders against the optimised scanner, under time and memory limits.
cmake --preset hostile >/dev/null
cmake --build --preset hostile
ctest --preset hostile

# The Debian package, installed and removed again; the pre-commit hook and the GitHub Action,
# run as their users would run them, with the release scanner.
bash tests/integration/package.sh
bash tests/integration/pre-commit.sh build/release/src/cli
/usr/bin/python3 tests/integration/action_test.py build/release/src/cli

# The fuzz targets, replaying their corpora.
bash fuzz/run.sh replay

# The whole suite last, so that its summary closes the output.
ctest --preset dev
