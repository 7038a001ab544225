#!/usr/bin/env bash
# The way back's fault campaign: faults_wayback.exe once per seed, SEEDS seeds from FIRST (and any
# SEED given after them), two at a time, each in a folder of its own. A run that crashes or hangs is
# counted and the campaign goes on. As root the backups are sometimes written to a small file system
# of their own that fills (a tmpfs mounted here); elsewhere that dimension is skipped, and said so.
# Prints each violation with its seed and the line that reproduces it, then one line:
# runs=N violations=V crashes=C hangs=H leaks=L
# Usage: faults-wayback.sh x86|x64 SEEDS FIRST [SEED...]
set -uo pipefail
arch=${1:-x64}; seeds=${2:-1000}; first=${3:-1}
shift $(( $# < 3 ? $# : 3 ))
root=$(cd "$(dirname "$0")/.." && pwd)
export PATH="$root/scripts/wine-bin:$PATH"
exe="$root/build/$arch/bin/faults_wayback.exe"
work="$root/build/faults-wayback/$arch"
# A campaign killed outright left its small file systems mounted: let them go first.
for m in "$work"/full*; do while mountpoint -q "$m" 2>/dev/null && umount "$m"; do :; done; done
rm -rf "$work" && mkdir -p "$work"
bash "$root/scripts/wine-prefix.sh" "$arch" >/dev/null
windows() { printf 'Z:%s' "${1//\//\\}"; }  # Wine's drive Z: is the root

# One small file system per worker, where it can be mounted.
workers=2
mounted=()
full_note="full disk: drawn in about 15% of the seeds, on a tmpfs of 2 MiB"
cleanup() { for m in "${mounted[@]}"; do umount "$m" 2>/dev/null; done; }
trap cleanup EXIT
for w in $(seq 1 $workers); do
    mkdir -p "$work/full$w"
    if [ "$(id -u)" -eq 0 ] && mount -t tmpfs -o size=2m tmpfs "$work/full$w" 2>/dev/null; then
        mounted+=("$work/full$w")
    else
        full_note="full disk: not drawn (mounting a small file system needs root)"
    fi
done

seed_list() { seq "$first" $((first + seeds - 1)); for s in "$@"; do echo "$s"; done; }
run_seed() {  # run_seed WORKER SEED: the seed's lines in $work/seed-SEED.txt
    local w=$1 seed=$2 dir="$work/w$1" full=()
    rm -rf "$dir" && mkdir -p "$dir"
    [ ${#mounted[@]} -eq $workers ] && full=(--full "$(windows "$work/full$w")")
    KORVANE_TIMEOUT=400 "$root/scripts/wine-run" "$arch" "$exe" --seed "$seed" --work "$(windows "$dir")" "${full[@]}" \
        > "$work/seed-$seed.raw" 2>&1
    local rc=$?
    tr -d '\r' < "$work/seed-$seed.raw" | grep -E '^(VIOLATION|  reproduce|RESULT)' > "$work/seed-$seed.txt"
    if ! grep -q '^RESULT' "$work/seed-$seed.txt"; then
        if [ $rc -eq 124 ]; then echo "RESULT seed=$seed violations=0 crashes=0 hangs=1 leaks=0 restarts=0" >> "$work/seed-$seed.txt"
        else echo "RESULT seed=$seed violations=0 crashes=1 hangs=0 leaks=0 restarts=0" >> "$work/seed-$seed.txt"; fi
        echo "VIOLATION seed=$seed invariant=campaign: the seed's run ended with exit code $rc" >> "$work/seed-$seed.txt"
    fi
}
i=0
for seed in $(seed_list "$@"); do
    w=$(( i % workers + 1 ))
    run_seed "$w" "$seed" &
    i=$((i + 1))
    if [ $(( i % workers )) -eq 0 ]; then wait; fi
done
wait
runs=0 violations=0 crashes=0 hangs=0 leaks=0 restarts=0
for seed in $(seed_list "$@"); do
    file="$work/seed-$seed.txt"
    grep -E '^(VIOLATION|  reproduce)' "$file" | cut -c1-600
    read -r v c h l s < <(sed -n 's/^RESULT seed=[0-9]* violations=\([0-9]*\) crashes=\([0-9]*\) hangs=\([0-9]*\) leaks=\([0-9]*\) restarts=\([0-9]*\)$/\1 \2 \3 \4 \5/p' "$file")
    runs=$((runs + 1)); violations=$((violations + v)); crashes=$((crashes + c)); hangs=$((hangs + h)); leaks=$((leaks + l))
    restarts=$((restarts + s))
done
echo "$full_note"
echo "runs that hung before they opened their log, started once more: $restarts"
echo "runs=$runs violations=$violations crashes=$crashes hangs=$hangs leaks=$leaks"
[ $((violations + crashes + hangs + leaks)) -eq 0 ]
