#!/usr/bin/env bash
# Builds the release zip: Korvane.exe and krvn.exe for x86 and x64 in folders
# named for them, krvn's sample scripts, and the README for Windows users. Reproducible: fixed file times and
# order, PE headers without time stamps.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
version=$(sed -n 's/^project(Korvane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name="Korvane-$version"
stage="build/dist/stage/$name"
rm -rf build/dist/stage
mkdir -p "$stage/x86" "$stage/x64"
for arch in x86 x64; do
    cp "build/$arch/bin/Korvane.exe" "build/$arch/bin/krvn.exe" "$stage/$arch/"
    # Windows line ends for the scripts, as cmd and PowerShell editors expect them.
    for sample in detect.cmd remediate.cmd detect.ps1 remediate.ps1; do
        sed 's/$/\r/' "krvn/samples/$sample" > "$stage/$arch/$sample"
    done
done
sed 's/$/\r/' docs/README-Windows.txt > "$stage/README.txt"
stamp=$(git log -1 --format=%cd --date=format:%Y%m%d%H%M.%S 2>/dev/null || echo 202601010000.00)
find build/dist/stage -exec touch -h -t "$stamp" {} +
rm -f "build/dist/$name.zip"
(cd build/dist/stage && find "$name" -type f | LC_ALL=C sort | TZ=UTC zip -X -q -D "../$name.zip" -@)
rm -rf build/dist/stage
sha256sum "build/dist/$name.zip"
