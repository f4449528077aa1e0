#!/usr/bin/env bash
# Builds the libFuzzer targets (clang) and runs them.
#
#   fuzz/run.sh replay             each target once over its corpus in fuzz/corpus (CI does this)
#   fuzz/run.sh SECONDS [TARGET..] each target (default: all) for SECONDS, new inputs kept in
#                                  build/fuzz/findings/<target>
set -euo pipefail
cd "$(dirname "$0")/.."
targets=(XCSSETScanFuzzer XcodeSpyScanFuzzer DeobfuscateFuzzer MatcherFuzzer StoredListFuzzer
         ProjectFileFuzzer ShellFuzzer)
mode=${1:?usage: fuzz/run.sh replay | SECONDS [TARGET...]}
shift
[ $# -gt 0 ] && targets=("$@")
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
for target in "${targets[@]}"; do
    binary=build/fuzz/fuzz/$target
    if [ "$mode" = replay ]; then
        echo "== $target: replaying fuzz/corpus/$target"
        "$binary" -runs=0 "fuzz/corpus/$target"
    else
        findings=build/fuzz/findings/$target
        mkdir -p "$findings"
        echo "== $target: $mode seconds"
        "$binary" -max_total_time="$mode" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
            -print_final_stats=1 "$findings" "fuzz/corpus/$target"
    fi
done
