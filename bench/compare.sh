#!/usr/bin/env bash
# Times one monitoring cycle of quillon-scan over a corpus against ripgrep and YARA doing the
# same searches, alternating the tools, and prints medians, ratios and peak memory.
#
#   bench/compare.sh CORPUS [DOUBLE_CORPUS] [RUNS]
#
# CORPUS comes from bench/make_corpus.py; DOUBLE_CORPUS, made with --scale 2, adds the scaling
# check. Needs the Debian packages ripgrep, yara and time; builds the release preset, and the
# bench preset's quillon_cycle_floor when Google Benchmark is installed.
set -euo pipefail
cd "$(dirname "$0")/.."
corpus=${1:?usage: bench/compare.sh CORPUS [DOUBLE_CORPUS] [RUNS]}
double=${2:-}
runs=${3:-7}
for tool in rg yara /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "compare.sh: $tool is missing (apt-get install ripgrep yara time)" >&2; exit 2; }
done
cmake --preset release >/dev/null
cmake --build --preset release --target quillon-scan >/dev/null
scanner=build/release/src/cli/quillon-scan

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The detectors' whole-file patterns and keywords, for ripgrep (multi-line, over the file types
# the detectors read) and for YARA (which reads every file).
q="'"
cat > "$work/rg.sh" <<RG
exec rg -uu --no-ignore -U --count-matches "\$@" \\
  --iglob '*.pbxproj' --iglob '*.xcconfig' --iglob '*.sh' \\
  -e '[A-Za-z0-9+/=]{40,}' \\
  -e "(?i)echo\\\\s+[\\"$q]([A-Za-z0-9+/=\\\\n\\\\r ]{20,})[\\"$q]" \\
  -e "(?i)printf\\\\s+.*[\\"$q]([A-Za-z0-9+/=\\\\n\\\\r ]{20,})[\\"$q]" \\
  -e '(?is)shellScript\\s*=\\s*"(.*?)";' \\
  -e '(?i)curl|bash|base64|echo|chmod \\+x|chmod 777|https?://|shellscript|runscript|launchctl|launchagents|launchdaemons' \\
  "$corpus"
RG
cat > "$work/rules.yar" <<'YARA'
rule quillon_equivalent {
    strings:
        $run = /[A-Za-z0-9+\/=]{40,}/
        $echo = /echo\s+["'][A-Za-z0-9+\/=\n\r ]{20,}["']/ nocase
        $printf = /printf\s+.*["'][A-Za-z0-9+\/=\n\r ]{20,}["']/ nocase
        $block = /shellScript\s*?=\s*?"[\s\S]*?";/ nocase
        $k1 = "curl" nocase
        $k2 = "bash" nocase
        $k3 = "base64" nocase
        $k4 = "chmod +x" nocase
        $k5 = "chmod 777" nocase
        $k6 = "http://" nocase
        $k7 = "https://" nocase
        $k8 = "launchctl" nocase
        $k9 = "launchagents" nocase
        $k10 = "launchdaemons" nocase
    condition:
        any of them
}
YARA

declare -A commands=(
    [quillon]="$scanner --pipeline cycle $corpus"
    [rg_j1]="bash $work/rg.sh -j1"
    [rg]="bash $work/rg.sh"
    [yara]="yara -w -r $work/rules.yar $corpus"
)
order=(quillon rg_j1 rg yara)
if [ -n "$double" ]; then
    commands[quillon_double]="$scanner --pipeline cycle $double"
    order+=(quillon_double)
fi
# The cycle's walks and reads alone, when the benchmark preset builds (Google Benchmark).
if cmake --preset bench >/dev/null 2>&1 &&
    cmake --build --preset bench --target quillon_cycle_floor >/dev/null 2>&1; then
    commands[floor]="build/bench/bench/quillon_cycle_floor $corpus"
    order+=(floor)
fi

# Warm the page cache, then alternate the tools run by run.
for name in "${order[@]}"; do ${commands[$name]} >/dev/null 2>&1 || true; done
# Wall time from the shell's microsecond clock (time's own figure has two decimals, too coarse
# for runs of a fifth of a second); peak RSS from time.
for ((run = 1; run <= runs; run++)); do
    for name in "${order[@]}"; do
        start=$EPOCHREALTIME
        /usr/bin/time -f "%M" -o "$work/rss.$name.$run" ${commands[$name]} >/dev/null 2>&1 || true
        end=$EPOCHREALTIME
        awk -v a="$start" -v b="$end" 'BEGIN {printf "%.4f\n", b - a}' > "$work/time.$name.$run"
    done
done

median() { sort -n | awk '{v[NR]=$1} END {print (NR%2 ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2)}'; }
declare -A seconds rss
for name in "${order[@]}"; do
    seconds[$name]=$(cat "$work/time.$name".* | median)
    rss[$name]=$(grep -h -v '^Command' "$work/rss.$name".* | sort -n | tail -1)
done
largest=$(find "$corpus" -type f -printf '%s\n' | sort -n | tail -1)
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", (b > 0 ? a / b : 0)}'; }

echo "corpus: $corpus ($(find "$corpus" | wc -l) entries, largest file $((largest / 1024)) KiB), $runs runs, median"
printf '%-16s %8s %10s\n' tool seconds "peak KiB"
for name in "${order[@]}"; do
    printf '%-16s %8.3f %10s\n' "$name" "${seconds[$name]}" "${rss[$name]}"
done
echo "quillon / rg -j1:      $(ratio "${seconds[quillon]}" "${seconds[rg_j1]}")  (target <= 0.50)"
echo "quillon / rg:          $(ratio "${seconds[quillon]}" "${seconds[rg]}")  (target <= 0.90)"
echo "quillon / yara:        $(ratio "${seconds[quillon]}" "${seconds[yara]}")  (target <= 0.25)"
echo "quillon peak RSS:      ${rss[quillon]} KiB  (target <= $(( (3 * largest) / 1024 + 65536 )) KiB)"
if [ -n "$double" ]; then
    echo "double corpus / corpus: $(ratio "${seconds[quillon_double]}" "${seconds[quillon]}")  (target <= 2.10)"
fi
if [ -n "${seconds[floor]:-}" ]; then
    echo "floor / rg -j1:        $(ratio "${seconds[floor]}" "${seconds[rg_j1]}")  (one walk and one read of what the analyses read, no analysis: the least a cycle can take)"
    echo "quillon / floor:       $(ratio "${seconds[quillon]}" "${seconds[floor]}")  (target <= 2.00)"
fi
