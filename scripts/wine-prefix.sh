#!/usr/bin/env bash
# Makes (or reuses) the Wine prefix of one architecture under build/wine/ARCH:
# win32 for x86, win64 for x64; headless null graphics driver, no crash dialog,
# and mapisim registered as the default mail client's MAPI provider.
# Usage: wine-prefix.sh x86|x64 [DLL]   (prints the prefix path)
set -euo pipefail
export PATH="$(cd "$(dirname "$0")" && pwd)/wine-bin:$PATH"
arch=${1:?usage: wine-prefix.sh x86|x64 [mapisim.dll]}
root=$(cd "$(dirname "$0")/.." && pwd)
prefix=${KORVANE_WINEPREFIX:-$root/build/wine/$arch}
dll=${2:-$root/build/$arch/bin/mapisim.dll}
case $arch in
    x86) winearch=win32 ;;
    x64) winearch=win64 ;;
    *) echo "unknown architecture $arch" >&2; exit 2 ;;
esac
export WINEPREFIX=$prefix WINEARCH=$winearch WINEDEBUG=-all
unset DISPLAY

if [ ! -f "$prefix/.korvane-ready" ]; then
    rm -rf "$prefix"
    mkdir -p "$(dirname "$prefix")"
    timeout 300 wineboot -i >/dev/null 2>&1 || true
    timeout 120 wineserver -w || true
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
    timeout 120 wineserver -w || true
    touch "$prefix/.korvane-ready"
fi
# The caption buttons are drawn with Wine's Marlett font (Debian's fonts-wine),
# which this Wine finds only among the prefix's own fonts.
if [ -f /usr/share/wine/fonts/marlett.ttf ]; then
    mkdir -p "$prefix/drive_c/windows/Fonts"
    cp -n /usr/share/wine/fonts/marlett.ttf "$prefix/drive_c/windows/Fonts/"
fi
"$root/scripts/register-mapisim.sh" "$arch" "$prefix" "$dll" >/dev/null
echo "$prefix"
