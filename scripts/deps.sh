# Sourced by the set-up scripts: installs the Debian packages a step needs when any is missing.
# Safe to run again; does nothing when everything is present.

quillon_require_packages() {
    local missing=()
    local package
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$package")
        fi
    done
    if [ "${#missing[@]}" -eq 0 ]; then
        return 0
    fi
    if [ "$(id -u)" -ne 0 ]; then
        echo "quillon: these Debian packages are missing: ${missing[*]}" >&2
        echo "quillon: install them as root (sudo apt-get install -y --no-install-recommends ${missing[*]}) and run this again." >&2
        exit 1
    fi
    echo "quillon: installing ${missing[*]}" >&2
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# What every build needs: compiler, CMake with Ninja, ICU, the JSON and argument libraries,
# libsystemd for the journal, pugixml for schemes, zlib for compressed payloads, Qt for the
# desktop application.
QUILLON_BUILD_PACKAGES=(g++ cmake ninja-build pkg-config libicu-dev nlohmann-json3-dev
                        libcli11-dev libsystemd-dev libpugixml-dev zlib1g-dev qt6-base-dev)
# What the tests add: GoogleTest, Python with a YAML reader for the action's test, an X server
# and its window lister for the desktop tests, a session bus with Python's D-Bus bindings for
# the alert test's fake notification server and tray host, fonts with the emoji and full-width
# signs of the interface for the screenshots, clang with libFuzzer for the fuzz targets,
# dpkg-dev for the package's dependencies, pre-commit for the hook's test.
QUILLON_TEST_PACKAGES=(libgtest-dev libgmock-dev python3 python3-yaml xvfb xauth x11-utils
                       dbus python3-dbus python3-gi
                       fonts-noto-color-emoji fonts-droid-fallback clang libclang-rt-14-dev
                       dpkg-dev pre-commit)

# `bash scripts/deps.sh install-build` installs what a build needs (the GitHub Action uses it).
if [ "${BASH_SOURCE[0]}" = "$0" ] && [ "${1:-}" = "install-build" ]; then
    quillon_require_packages "${QUILLON_BUILD_PACKAGES[@]}"
fi
