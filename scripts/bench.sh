#!/usr/bin/env bash
# Runs the benchmarks for x86 and x64 under Wine and prints the table. The
# figures go to bench/results/latest.txt (key=value, prefixed by the
# architecture) and to a dated copy with the machine's description.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export PATH="$root/scripts/wine-bin:$PATH"
cd "$root"
runs=${RUNS:-5}
archs=${ARCHS:-x86 x64}
stores="$root/build/bench/stores"
mkdir -p "$stores" bench/results
gen() { python3 bench/storegen.py "$@"; }
gen --folders 1000 --search 500 --depth 4 --seed 1 --out "$stores/scan_1000.store"
gen --folders 10000 --search 5000 --depth 4 --seed 2 --out "$stores/scan_10000.store"
gen --folders 20000 --search 10000 --depth 4 --seed 3 --out "$stores/scan_20000.store"
gen --folders 5000 --search 5000 --flat --seed 4 --out "$stores/flat_5000.store"
gen --folders 1000 --search 1000 --flat --seed 5 --out "$stores/delete_1000.store"
gen --folders 10 --search 5 --profiles 20 --seed 6 --out "$stores/profiles_20.store"
gen --folders 10000 --search 10000 --flat --seed 7 --out "$stores/siblings_10000.store"

latest="bench/results/latest.txt"
: > "$latest.tmp"
notrun=""
for arch in $archs; do
    bash scripts/wine-can-run.sh "$arch" || { notrun+="$arch "; echo "== $arch: not run, Wine cannot run $arch programs here" >&2; continue; }
    bash scripts/wine-prefix.sh "$arch" >/dev/null
    echo "== $arch: $runs runs per figure after a warm-up" >&2
    KORVANE_TIMEOUT=3600 scripts/wine-run "$arch" "build/$arch/bin/bench.exe" \
        "$(WINEPREFIX="$root/build/wine/$arch" winepath -w "$stores")" "$runs" | tr -d '\r' | sed "s/^/$arch./" >> "$latest.tmp"
    WINEPREFIX="$root/build/wine/$arch" wineserver -k 2>/dev/null || true
done
# The way back's campaign, timed (WAYBACK_SEEDS=1000 make bench): how long that many seeds take.
if [ -n "${WAYBACK_SEEDS:-}" ]; then
    for arch in $archs; do
        bash scripts/wine-can-run.sh "$arch" || continue
        start=$(date +%s)
        { bash scripts/faults-wayback.sh "$arch" "$WAYBACK_SEEDS" 1 || true; } | tail -1 | sed "s/^/$arch.wayback_$WAYBACK_SEEDS: /" >&2
        echo "$arch.wayback_seconds_$WAYBACK_SEEDS=$(( $(date +%s) - start ))" >> "$latest.tmp"
    done
fi
# Growth: time per folder at 20,000 against 10,000.
for arch in $archs; do
    a=$(sed -n "s/^$arch.scan_us_per_folder_10000=//p" "$latest.tmp")
    b=$(sed -n "s/^$arch.scan_us_per_folder_20000=//p" "$latest.tmp")
    [ -n "$a" ] && [ -n "$b" ] && echo "$arch.growth_20000_vs_10000=$(python3 -c "print(round($b/$a, 4))")" >> "$latest.tmp"
done
mv "$latest.tmp" "$latest"

python3 bench/table.py "$latest" | tee build/bench/table.md
stamp=$(date -u +%Y-%m-%d)
{
    echo "# Korvane benchmarks, $stamp"
    [ -z "$notrun" ] || echo "# not run: ${notrun% } (Wine cannot run those programs on this machine); no figures for it"
    echo "# machine: $(nproc) cores, $(free -g | awk '/Mem:/{print $2}') GiB, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1); $(wine --version); mapisim as MAPI"
    echo
    cat build/bench/table.md
    echo
    cat "$latest"
} > "bench/results/$stamp.txt"
echo "written: $latest, bench/results/$stamp.txt" >&2
