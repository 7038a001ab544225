#!/usr/bin/env bash
# Runs every test of the given architectures under Wine with ctest. An
# architecture that Wine cannot run on this machine (see wine-can-run.sh) is
# reported and skipped; one that can run must pass.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export PATH="$root/scripts/wine-bin:$PATH"
cd "$root"
[ $# -gt 0 ] || set -- x86 x64
status=0
ran=0
for arch in "$@"; do
    if ! bash scripts/wine-can-run.sh "$arch"; then
        echo "== $arch: built, but not run: this machine cannot run $arch programs under Wine" \
             "(the kernel refuses 32-bit Linux programs such as Wine's 32-bit loader)"
        continue
    fi
    bash scripts/wine-prefix.sh "$arch" >/dev/null
    echo "== $arch"
    (cd "build/$arch" && ctest --output-on-failure -j2) || status=1
    ran=$((ran + 1))
done
# Leave no Wine server behind.
for arch in "$@"; do WINEPREFIX="$root/build/wine/$arch" wineserver -k 2>/dev/null || true; done
[ "$ran" -gt 0 ] || { echo "no architecture could be run here"; status=1; }
exit $status
