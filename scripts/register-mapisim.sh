#!/usr/bin/env bash
# Registers mapisim.dll as the default mail client's Extended MAPI DLL in a
# Wine prefix, in the registry view that a program of ARCH reads.
# Usage: register-mapisim.sh x86|x64 PREFIX DLL
set -euo pipefail
export PATH="$(cd "$(dirname "$0")" && pwd)/wine-bin:$PATH"
arch=${1:?usage: register-mapisim.sh x86|x64 PREFIX DLL}
prefix=${2:?prefix}
dll=${3:?dll}
export WINEPREFIX=$prefix WINEDEBUG=-all
unset DISPLAY
windows_path=$(winepath -w "$dll" 2>/dev/null)
views=()
if [ -d "$prefix/drive_c/windows/syswow64" ]; then
    # win64 prefix: the x86 DLL belongs in the 32-bit view, the x64 DLL in the 64-bit one.
    [ "$arch" = x86 ] && views=(/reg:32) || views=(/reg:64)
fi
wine reg add 'HKLM\Software\Clients\Mail' /ve /d mapisim /f "${views[@]}" >/dev/null 2>&1
wine reg add 'HKLM\Software\Clients\Mail\mapisim' /v DLLPathEx /d "$windows_path" /f "${views[@]}" >/dev/null 2>&1
echo "registered $windows_path in $prefix ${views[*]}"
