#!/usr/bin/env bash
# Prints the default version, as CMakeLists.txt writes it (the one place it is written).
sed -n 's/^set(KORVANE_VERSION \([0-9.]*\) .*/\1/p' "$(cd "$(dirname "$0")/.." && pwd)/CMakeLists.txt"
