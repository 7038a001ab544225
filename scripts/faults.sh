#!/usr/bin/env bash
# The fault campaign: runs faults.exe over SEEDS seeds from FIRST under Wine,
# carrying on past a crash or a hang (each is counted and its seed printed),
# and ends with one line: runs=N crashes=N hangs=N leaks=N wrong_deletions=N.
# Usage: faults.sh x86|x64 SEEDS FIRST
set -uo pipefail
arch=${1:-x86}; seeds=${2:-1000}; first=${3:-1}
root=$(cd "$(dirname "$0")/.." && pwd)
export PATH="$root/scripts/wine-bin:$PATH"
exe="$root/build/$arch/bin/faults.exe"
work="$root/build/faults/$arch"
mkdir -p "$work"
bash "$root/scripts/wine-prefix.sh" "$arch" >/dev/null
progress="$work/progress.txt"
out="$work/campaign.log"
: > "$out"
last=$((first + seeds - 1))
next=$first
crashes=0; hangs=0
while [ "$next" -le "$last" ]; do
    rm -f "$progress"
    KORVANE_TIMEOUT=$((seeds * 60 + 60)) "$root/scripts/wine-run" "$arch" "$exe" --first "$next" --seeds $((last - next + 1)) \
        --limit 60 --progress "$(WINEPREFIX="$root/build/wine/$arch" winepath -w "$progress" 2>/dev/null)" > "$work/run.txt" 2>&1
    rc=$?
    tr -d '\r' < "$work/run.txt" | grep -E '^(FAIL|HANG|RESULT)' >> "$out"
    if grep -q '^RESULT' "$work/run.txt"; then
        break
    fi
    seed=$(tr -d '\r\n' < "$progress" 2>/dev/null)
    [ -n "$seed" ] || { echo "faults: the campaign did not start (exit code $rc)"; exit 2; }
    if grep -q "^HANG seed=$seed" "$work/run.txt"; then
        hangs=$((hangs + 1)); echo "hang: seed $seed"
    else
        crashes=$((crashes + 1)); echo "crash: seed $seed (exit code $rc)"
        echo "CRASH seed=$seed" >> "$out"
    fi
    next=$((seed + 1))
done
leaks=$(grep -c '^FAIL.* leak' "$out")
wrong=$(grep -c '^FAIL.* wrong_deletion' "$out")
listing=$(grep -c '^FAIL.* wrong_listing' "$out")
heap=$(grep -c '^FAIL.* heap' "$out")
deep=$(grep -c '^FAIL.* deep_scan' "$out")
grep -E '^FAIL' "$out" | cut -c1-300
grep -E '^RESULT' "$out" | sed 's/^RESULT/last stretch:/'
echo "failures by kind: leak=$leaks wrong_deletion=$wrong wrong_listing=$listing heap=$heap deep_scan=$deep crash=$crashes hang=$hangs"
echo "runs=$seeds crashes=$crashes hangs=$hangs leaks=$leaks wrong_deletions=$wrong"
[ $((crashes + hangs + leaks + wrong + listing + heap + deep)) -eq 0 ]
