#!/usr/bin/env bash
# Builds the Debian package from the release build, installs it with apt, runs the installed
# scanner on the samples, and removes it again. Needs root for apt; skipped otherwise.
set -euo pipefail
cd "$(dirname "$0")/../.."
if [ "$(id -u)" -ne 0 ]; then
    echo "package: not root, so apt cannot install; skipped"
    exit 0
fi
source scripts/deps.sh
quillon_require_packages "${QUILLON_BUILD_PACKAGES[@]}" dpkg-dev
cmake --preset release >/dev/null
cmake --build --preset release
rm -f build/release/quillon_*.deb
(cd build/release && cpack -G DEB >/dev/null)
deb=$(ls build/release/quillon_*.deb)
export DEBIAN_FRONTEND=noninteractive
apt-get install -y -qq "./$deb" >/dev/null
trap 'apt-get remove -y -qq quillon >/dev/null' EXIT
/usr/bin/quillon-scan --version
status=0
/usr/bin/quillon-scan samples/SettingPayload >/dev/null || status=$?
if [ "$status" -ne 1 ]; then
    echo "package: the installed scanner gave $status for an infected sample, not 1" >&2
    exit 1
fi
/usr/bin/quillon-scan samples/CleanApp >/dev/null
for file in /usr/bin/quillon /usr/share/man/man1/quillon-scan.1.gz /usr/share/man/man1/quillon.1.gz \
            /usr/share/applications/quillon.desktop \
            /usr/share/icons/hicolor/scalable/apps/quillon.svg /usr/share/doc/quillon/README.md; do
    test -e "$file" || { echo "package: $file is missing" >&2; exit 1; }
done
dpkg-query -W -f='${Depends}\n' quillon
echo "package: $(basename "$deb") installs, runs and is removed"
