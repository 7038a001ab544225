#!/usr/bin/env bash
# Runs every test of the given architectures under Wine with ctest.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
[ $# -gt 0 ] || set -- x86 x64
status=0
for arch in "$@"; do
    bash scripts/wine-prefix.sh "$arch" >/dev/null
    echo "== $arch"
    (cd "build/$arch" && ctest --output-on-failure -j2) || status=1
done
# Leave no Wine server behind.
for arch in "$@"; do WINEPREFIX="$root/build/wine/$arch" wineserver -k 2>/dev/null || true; done
exit $status
