#!/usr/bin/env bash
# Builds the release: the zip (Korvane.exe and krvn.exe for x86 and x64 in
# folders named for them, krvn's sample scripts, the README for Windows
# users), a Windows Installer package per architecture and their SHA-256
# checksums, all named with the version. Reproducible: fixed file times and
# order, PE headers without time stamps. With SIGN_PFX (password in
# SIGN_PASS, optional SIGN_TIMESTAMP URL) the programs are signed before they
# are packed, and the packages after.
# Whole or absent: everything is made in a stage folder and moved into
# build/dist only when all of it succeeded; a failure leaves no artifact of
# the version there (an earlier one of the same version goes first) and no stage.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
version=$(bash scripts/version.sh) || exit 2
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
artifacts=("$name.zip" "$name-x86.msi" "$name-x64.msi" "$name.sha256")
mkdir -p build/dist
for artifact in "${artifacts[@]}"; do rm -f "build/dist/$artifact"; done
stage=$(mktemp -d build/dist/stage.XXXXXX)
trap 'rm -rf "$stage"' EXIT
files="$stage/$name"
mkdir -p "$files/x86" "$files/x64"
for arch in x86 x64; do
    cp "build/$arch/bin/Korvane.exe" "build/$arch/bin/krvn.exe" "$files/$arch/"
    sign "$files/$arch/Korvane.exe" "$files/$arch/krvn.exe"
    # Windows line ends for the scripts, as cmd and PowerShell editors expect them.
    for sample in detect.cmd remediate.cmd detect.ps1 remediate.ps1; do
        sed 's/$/\r/' "krvn/samples/$sample" > "$files/$arch/$sample"
    done
done
sed 's/$/\r/' docs/README-Windows.txt > "$files/README.txt"
stamp=$(git log -1 --format=%cd --date=format:%Y%m%d%H%M.%S 2>/dev/null || echo 202601010000.00)
find "$files" -exec touch -h -t "$stamp" {} +
(cd "$stage" && find "$name" -type f | LC_ALL=C sort | TZ=UTC zip -X -q -D "$name.zip" -@)
for arch in x86 x64; do
    mkdir -p "$stage/msi-$arch"
    cp "$files/$arch/"* "$files/README.txt" "$stage/msi-$arch/"
    bash scripts/msi.sh "$arch" "$version" "$stage/msi-$arch" "$stage/$name-$arch.msi"
    sign "$stage/$name-$arch.msi"
done
(cd "$stage" && sha256sum "$name.zip" "$name-x86.msi" "$name-x64.msi" > "$name.sha256")
# All of it made: into build/dist, the checksums last.
for artifact in "${artifacts[@]}"; do mv "$stage/$artifact" "build/dist/$artifact"; done
cat "build/dist/$name.sha256"
