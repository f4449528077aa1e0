#!/usr/bin/env bash
# Validates quillon-scan's SARIF for every sample with the SARIF Multitool: no result at error
# level may come back. Exits 77 (skipped) when the Multitool is not installed; the test script
# installs it.
set -euo pipefail
scanner=$1
samples=$2
tool=${QUILLON_SARIF_MULTITOOL:-$3}
if [ ! -x "$tool" ]; then
    echo "SARIF Multitool not installed at $tool; skipped"
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for sample in "$samples"/*/; do
    name=$(basename "$sample")
    "$scanner" --format sarif "$sample" > "$work/$name.sarif" || true
    DOTNET_SYSTEM_GLOBALIZATION_INVARIANT=1 "$tool" validate "$work/$name.sarif" \
        --output "$work/$name.validation.sarif" > "$work/$name.log" 2>&1 || {
        echo "$name: the Multitool failed"; cat "$work/$name.log"; status=1; continue; }
    errors=$(python3 - "$work/$name.validation.sarif" <<'PY'
import json, sys
log = json.load(open(sys.argv[1]))
bad = [r for run in log["runs"] for r in run.get("results", []) if r.get("level", "warning") == "error"]
for r in bad:
    print(r["ruleId"], r["message"])
print(len(bad))
PY
)
    count=$(echo "$errors" | tail -n 1)
    echo "$name: $count errors"
    if [ "$count" != 0 ]; then
        echo "$errors"
        status=1
    fi
done
exit $status
