#!/usr/bin/env bash
# Builds Quillon (release) and scans each bundled sample project with quillon-scan.
# With --desktop, then starts the desktop application.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
quillon_require_packages "${QUILLON_BUILD_PACKAGES[@]}"

cmake --preset release >/dev/null
cmake --build --preset release

scanner=build/release/src/cli/quillon-scan
for sample in samples/*/; do
    sample=${sample%/}
    echo "=== quillon-scan ${sample}"
    status=0
    "$scanner" "$sample" || status=$?
    case $status in
        0) verdict="clean" ;;
        1) verdict="THREAT DETECTED" ;;
        *) verdict="error (exit status $status)" ;;
    esac
    echo "=== ${sample}: ${verdict}"
    echo
done
cat <<MSG
The scanner: ${scanner} [--pipeline cycle|classic|xcsset|xcodespy|buildscripts] [--format text|json] FOLDER
MSG
if [ -x build/release/src/ui/quillon ]; then
    echo "The desktop application: build/release/src/ui/quillon"
    if [ "${1:-}" = "--desktop" ]; then
        exec build/release/src/ui/quillon
    fi
fi
