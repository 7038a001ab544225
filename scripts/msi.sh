#!/usr/bin/env bash
# Builds Korvane's Windows Installer package for ARCH from a folder holding
# what it installs (Korvane.exe, krvn.exe, the four samples, README.txt).
# Usage: msi.sh x86|x64 VERSION STAGE OUT.msi
set -euo pipefail
arch=${1:?usage: msi.sh x86|x64 VERSION STAGE OUT}; version=${2:?version}; stage=${3:?stage}; out=${4:?out}
root=$(cd "$(dirname "$0")/.." && pwd)
VERSION=$version bash "$root/scripts/version.sh" >/dev/null || exit 2
IFS=. read -r a b c d <<<"$version"
# A new product code for every version and architecture, always the same for the same ones.
product=$(python3 -c "import uuid, sys; print(str(uuid.uuid5(uuid.NAMESPACE_URL, 'korvane:' + sys.argv[1] + ':' + sys.argv[2])).upper())" "$arch" "$version")
# Text order is version order: the fourth field, which Windows Installer does not compare, is compared so.
sortable=$(printf '%03d.%03d.%05d.%05d' "$a" "$b" "$c" "$d")
# Every earlier package of the first three fields (and of the same three fields) is replaced: up to, not including, A.B.C+1.
upgrade_below="$a.$b.$((c + 1))"
[ "$c" -lt 65535 ] || upgrade_below="$a.$((b + 1)).0"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$root/packaging/Korvane.wxs" "$stage"/* "$work/"
(cd "$work" && wixl -a "$arch" -D Arch="$arch" -D Version="$version" -D Sortable="$sortable" -D UpgradeBelow="$upgrade_below" \
     -D ProductCode="$product" -D Stage=. -o package.msi Korvane.wxs)
mv "$work/package.msi" "$out"
