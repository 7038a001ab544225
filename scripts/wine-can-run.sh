#!/usr/bin/env bash
# Tells whether Wine can run programs of ARCH on this machine (exit code 0).
# The x86 build needs Wine's 32-bit loader, a 32-bit Linux program: a kernel
# booted without IA-32 emulation refuses it ("Exec format error").
# Usage: wine-can-run.sh x86|x64
case ${1:?usage: wine-can-run.sh x86|x64} in
    x86) /usr/lib/wine/wine --version >/dev/null 2>&1 ;;
    x64) /usr/lib/wine/wine64 --version >/dev/null 2>&1 ;;
    *) exit 2 ;;
esac
