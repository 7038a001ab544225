#!/usr/bin/env bash
# Builds the release: the zip (Korvane.exe and krvn.exe for x86 and x64 in
# folders named for them, krvn's sample scripts, the README for Windows
# users) and a Windows Installer package per architecture, all named with the
# version. Reproducible: fixed file times and order, PE headers without time
# stamps. With SIGN_PFX (password in SIGN_PASS, optional SIGN_TIMESTAMP URL)
# the programs are signed before they are packed, and the packages after.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
version=${VERSION:-$(bash scripts/version.sh)}
# The programs must carry this version: a build at another one is not packed.
for arch in x86 x64; do
    grep -qx "KORVANE_VERSION:STRING=$version" "build/$arch/CMakeCache.txt" ||
        { echo "dist: build/$arch is not at version $version (run make dist, which builds it)" >&2; exit 2; }
done
sign() {  # sign FILE...: Authenticode, SHA-256, in place
    [ -n "${SIGN_PFX:-}" ] || return 0
    for file in "$@"; do
        osslsigncode sign -pkcs12 "$SIGN_PFX" -pass "${SIGN_PASS:-}" -h sha256 -n Korvane \
            ${SIGN_TIMESTAMP:+-t "$SIGN_TIMESTAMP"} -in "$file" -out "$file.signed" >/dev/null
        mv "$file.signed" "$file"
    done
}
name="Korvane-$version"
stage="build/dist/stage/$name"
rm -rf build/dist/stage
mkdir -p "$stage/x86" "$stage/x64"
for arch in x86 x64; do
    cp "build/$arch/bin/Korvane.exe" "build/$arch/bin/krvn.exe" "$stage/$arch/"
    sign "$stage/$arch/Korvane.exe" "$stage/$arch/krvn.exe"
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
for arch in x86 x64; do
    package="build/dist/$name-$arch.msi"
    mkdir -p "build/dist/stage/msi-$arch"
    cp "$stage/$arch/"* "$stage/README.txt" "build/dist/stage/msi-$arch/"
    bash scripts/msi.sh "$arch" "$version" "build/dist/stage/msi-$arch" "$package"
    sign "$package"
done
rm -rf build/dist/stage
(cd build/dist && sha256sum "$name.zip" "$name-x86.msi" "$name-x64.msi")
