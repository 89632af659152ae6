#!/bin/bash
# Installs the Debian 12 packages that lumbrel's builds, tests, virtual
# machine and floppy image need. Does nothing when everything is there
# already; never prompts.
set -euo pipefail

# Packages installed with their recommendations, then the rest without.
WITH_RECOMMENDS=(cmake make g++ libgtest-dev clang libclang-rt-14-dev
                 g++-mingw-w64-i686 binutils-mingw-w64-i686 mingw-w64-i686-dev)
WITHOUT_RECOMMENDS=(wine wine32:i386 wine64 xvfb xauth imagemagick pciutils
                    mtools zip unzip)

SUDO=()
if [ "$(id -u)" != 0 ]; then SUDO=(sudo -n); fi

missing() {
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}\n' "$pkg" 2>/dev/null | grep -q '^install ok installed$' \
            || echo "$pkg"
    done
}

mapfile -t missing_rec < <(missing "${WITH_RECOMMENDS[@]}")
mapfile -t missing_norec < <(missing "${WITHOUT_RECOMMENDS[@]}")
if [ ${#missing_rec[@]} -eq 0 ] && [ ${#missing_norec[@]} -eq 0 ]; then
    exit 0
fi

echo "setup: installing ${missing_rec[*]} ${missing_norec[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${SUDO[@]}" dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -q
if [ ${#missing_rec[@]} -gt 0 ]; then
    "${SUDO[@]}" apt-get install -y -q "${missing_rec[@]}"
fi
if [ ${#missing_norec[@]} -gt 0 ]; then
    "${SUDO[@]}" apt-get install -y -q --no-install-recommends "${missing_norec[@]}"
fi
