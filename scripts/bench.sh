#!/usr/bin/env bash
# Runs the benchmarks for x86 and x64 under Wine and prints the table. The
# figures go to bench/results/latest.txt (key=value, prefixed by the
# architecture) and to a dated copy with the machine's description.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
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

latest="bench/results/latest.txt"
: > "$latest.tmp"
for arch in $archs; do
    bash scripts/wine-prefix.sh "$arch" >/dev/null
    echo "== $arch: $runs runs per figure after a warm-up" >&2
    KORVANE_TIMEOUT=3600 scripts/wine-run "$arch" "build/$arch/bin/bench.exe" \
        "$(WINEPREFIX="$root/build/wine/$arch" winepath -w "$stores")" "$runs" | tr -d '\r' | sed "s/^/$arch./" >> "$latest.tmp"
    WINEPREFIX="$root/build/wine/$arch" wineserver -k 2>/dev/null || true
done
# Growth: time per folder at 20,000 against 10,000.
for arch in $archs; do
    a=$(sed -n "s/^$arch.scan_us_per_folder_10000=//p" "$latest.tmp")
    b=$(sed -n "s/^$arch.scan_us_per_folder_20000=//p" "$latest.tmp")
    [ -n "$a" ] && [ -n "$b" ] && echo "$arch.growth_20000_vs_10000=$(python3 -c "print(round($b/$a, 4))")" >> "$latest.tmp"
done
mv "$latest.tmp" "$latest"

python3 - "$latest" <<'PY'
import sys
values = dict(line.strip().split("=", 1) for line in open(sys.argv[1]) if "=" in line)
archs = sorted({k.split(".")[0] for k in values})
rows = [
    ("Scan 1,000 folders: Korvane / bare (s)", "scan_korvane_1000_median_s", "scan_bare_1000_median_s", "scan_ratio_1000", None),
    ("Scan 10,000 folders", "scan_korvane_10000_median_s", "scan_bare_10000_median_s", "scan_ratio_10000", 1.3),
    ("Scan 20,000 folders", "scan_korvane_20000_median_s", "scan_bare_20000_median_s", "scan_ratio_20000", None),
    ("Scan flat 5,000 search folders", "scan_korvane_5000_median_s", "scan_bare_5000_median_s", "scan_ratio_5000", None),
    ("Delete 1,000 rows", "delete_korvane_1000_median_s", "delete_bare_1000_median_s", "delete_ratio_1000", 1.3),
    ("Scan 10,000 at trace level 3 / level 0", "trace_level3_median_s", "trace_level0_median_s", "trace_ratio", 2.0),
    ("Start-up, 20 profiles / bare dialog", "startup_korvane_median_s", "startup_bare_median_s", "startup_ratio", 1.5),
]
print("| figure | arch | Korvane (median) | floor (median) | ratio | target |")
print("|---|---|---|---|---|---|")
for title, k, b, r, target in rows:
    for arch in archs:
        g = lambda key: values.get(arch + "." + key)
        if g(r) is None:
            continue
        ok = "" if target is None else ("<= %.1f: %s" % (target, "met" if float(g(r)) <= target else "MISSED"))
        print("| %s | %s | %.4f | %.4f | %.3f | %s |" % (title, arch, float(g(k)), float(g(b)), float(g(r)), ok))
for arch in archs:
    g = lambda key: values.get(arch + "." + key)
    if g("growth_20000_vs_10000"):
        growth = float(g("growth_20000_vs_10000"))
        print("| Time per folder, 20k / 10k | %s | %.1f us | %.1f us | %.3f | within 15%%: %s |" % (
            arch, float(g("scan_us_per_folder_20000")), float(g("scan_us_per_folder_10000")), growth,
            "met" if abs(growth - 1) <= 0.15 else "MISSED"))
    if g("peak_memory_bytes_20000"):
        print("| Peak working set after 20k scan | %s | %.1f MiB | | | %.0f bytes per listed search folder |" % (
            arch, float(g("peak_memory_bytes_20000")) / 1048576, float(g("bytes_per_search_folder_20000"))))
PY
stamp=$(date -u +%Y-%m-%d)
{
    echo "# Korvane benchmarks, $stamp"
    echo "# machine: $(nproc) cores, $(free -g | awk '/Mem:/{print $2}') GiB, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1); $(wine --version); mapisim as MAPI"
    cat "$latest"
} > "bench/results/$stamp.txt"
echo "written: $latest, bench/results/$stamp.txt" >&2
