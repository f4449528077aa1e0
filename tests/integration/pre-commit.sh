#!/usr/bin/env bash
# Debian's pre-commit with this repository's hook, in throwaway git repositories: the commit of
# an infected sample is blocked, the commit of a clean one goes through.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
scanner_dir=$(cd "$1" && pwd)
export PATH="$scanner_dir:$PATH"
rev=$(git -C "$root" rev-parse HEAD)
if ! git -C "$root" cat-file -e "$rev:.pre-commit-hooks.yaml" 2>/dev/null; then
    echo "pre-commit: .pre-commit-hooks.yaml is not committed yet; skipped"
    exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export PRE_COMMIT_HOME="$work/cache" GIT_AUTHOR_NAME=test GIT_AUTHOR_EMAIL=test@example.invalid \
       GIT_COMMITTER_NAME=test GIT_COMMITTER_EMAIL=test@example.invalid
attempt() {
    local sample=$1 repo="$work/$1"
    git init -q "$repo"
    cp -r "$root/samples/$sample/." "$repo/"
    cat > "$repo/.pre-commit-config.yaml" <<YAML
repos:
  - repo: $root
    rev: $rev
    hooks:
      - id: quillon-scan
YAML
    (cd "$repo" && pre-commit install >/dev/null && git add -A &&
        git commit -q -m "Add $sample" > "$work/$sample.log" 2>&1)
}
if attempt SettingPayload; then
    echo "pre-commit: the infected sample was committed" >&2
    cat "$work/SettingPayload.log" >&2
    exit 1
fi
grep -q "Build setting run as a script" "$work/SettingPayload.log" ||
    { echo "pre-commit: the hook's output does not name the finding" >&2; cat "$work/SettingPayload.log" >&2; exit 1; }
attempt CleanApp || { echo "pre-commit: the clean sample was blocked" >&2; cat "$work/CleanApp.log" >&2; exit 1; }
echo "pre-commit: the infected commit is blocked, the clean one goes through"
