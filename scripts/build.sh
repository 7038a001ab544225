#!/usr/bin/env bash
# Configures and builds the given architectures (x86, x64) under build/ARCH,
# at the version VERSION names (A.B.C.D), or the default of CMakeLists.txt.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
[ $# -gt 0 ] || set -- x86 x64
version=$(bash scripts/version.sh) || exit 2
for arch in "$@"; do
    case $arch in
        x86) toolchain=cmake/toolchain-i686.cmake ;;
        x64) toolchain=cmake/toolchain-x86_64.cmake ;;
        *) echo "unknown architecture $arch" >&2; exit 2 ;;
    esac
    cache="build/$arch/CMakeCache.txt"
    # A build at another version is configured again: only what carries the version is built anew.
    if [ ! -f "$cache" ] || ! grep -qx "KORVANE_VERSION:STRING=$version" "$cache"; then
        cmake -S . -B "build/$arch" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release -DKORVANE_VERSION="$version" >/dev/null
    fi
    cmake --build "build/$arch" -j"$(nproc)"
done
