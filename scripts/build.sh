#!/usr/bin/env bash
# Configures and builds the given architectures (x86, x64) under build/ARCH.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
[ $# -gt 0 ] || set -- x86 x64
for arch in "$@"; do
    case $arch in
        x86) toolchain=cmake/toolchain-i686.cmake ;;
        x64) toolchain=cmake/toolchain-x86_64.cmake ;;
        *) echo "unknown architecture $arch" >&2; exit 2 ;;
    esac
    if [ ! -f "build/$arch/CMakeCache.txt" ]; then
        cmake -S . -B "build/$arch" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release >/dev/null
    fi
    cmake --build "build/$arch" -j"$(nproc)"
done
