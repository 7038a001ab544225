#!/usr/bin/env bash
# Prints the release's version: VERSION from the environment where it is set,
# else the default, as CMakeLists.txt writes it (the one place it is written).
# A version is A.B.C.D in decimal (A and B at most 255, C and D at most
# 65535); a field with a leading zero is refused, as tools disagree on it
# (windres and printf read 0042 as octal, Windows Installer as 42).
set -euo pipefail
version=${VERSION:-$(sed -n 's/^set(KORVANE_VERSION \([0-9.]*\) .*/\1/p' "$(cd "$(dirname "$0")/.." && pwd)/CMakeLists.txt")}
field='(0|[1-9][0-9]{0,4})'
if ! [[ $version =~ ^$field\.$field\.$field\.$field$ ]]; then
    echo "version '$version' is not A.B.C.D in decimal: four numbers, none with a leading zero (write 1.0.0.42, not 1.0.0.0042)" >&2
    exit 2
fi
IFS=. read -r a b c d <<<"$version"
if [ "$a" -gt 255 ] || [ "$b" -gt 255 ] || [ "$c" -gt 65535 ] || [ "$d" -gt 65535 ]; then
    echo "version '$version' is out of range: A and B at most 255, C and D at most 65535" >&2
    exit 2
fi
echo "$version"
