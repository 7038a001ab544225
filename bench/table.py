#!/usr/bin/env python3
"""Prints the benchmark table (Markdown) from the key=value figures of a run."""
import sys
values = dict(line.strip().split("=", 1) for line in open(sys.argv[1]) if "=" in line)
archs = sorted({k.split(".")[0] for k in values})
rows = [
    ("Scan 1,000 folders: Korvane / bare (s)", "scan_korvane_1000_median_s", "scan_bare_1000_median_s", "scan_ratio_1000", None),
    ("Scan 10,000 folders", "scan_korvane_10000_median_s", "scan_bare_10000_median_s", "scan_ratio_10000", 1.3),
    ("Scan 20,000 folders", "scan_korvane_20000_median_s", "scan_bare_20000_median_s", "scan_ratio_20000", None),
    ("Scan flat 5,000 search folders", "scan_korvane_5000_median_s", "scan_bare_5000_median_s", "scan_ratio_5000", None),
    ("Delete 1,000 rows", "delete_korvane_1000_median_s", "delete_bare_1000_median_s", "delete_ratio_1000", 1.3),
    # The platform sets what tracing costs (see the floor below): this row only shows it.
    ("Scan 10,000 at trace level 3 / level 0", "trace_level3_median_s", "trace_level0_median_s", "trace_ratio", None),
    ("Start-up, 20 profiles / bare dialog", "startup_korvane_median_s", "startup_bare_median_s", "startup_ratio", 1.5),
    ("Scan 10,000 at trace level 3 / its floor", "trace_level3_median_s", "trace_floor_s", "trace_floor_ratio", 1.2),
    ("krvn scan 10,000, 0.2 ms per call: deep table / walk", "krvn_scan_fast_10000_median_s",
     "krvn_scan_walk_10000_median_s", "krvn_scan_ratio_fast_to_walk", 0.2),
    ("krvn scan 10,000 in process: deep table / walk", "krvn_scan_fast_in_process_10000_median_s",
     "krvn_scan_walk_in_process_10000_median_s", "krvn_scan_ratio_fast_to_walk_in_process", None),
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
        print("| Time per folder, 20k / 10k | %s | %.1f us | %.1f us | %.3f | at most 15%% more: %s |" % (
            arch, float(g("scan_us_per_folder_20000")), float(g("scan_us_per_folder_10000")), growth,
            "met" if growth <= 1.15 else "MISSED"))
    if g("krvn_calls_per_folder_fast"):
        fast = float(g("krvn_calls_per_folder_fast"))
        print("| krvn MAPI calls per folder with evidence, 10k: deep table / walk | %s | %.4f | %.4f | | deep <= 0.02: %s |" % (
            arch, fast, float(g("krvn_calls_per_folder_walk")), "met" if fast <= 0.02 else "MISSED"))
    if g("krvn_criteria_calls_per_folder"):
        per = float(g("krvn_criteria_calls_per_folder"))
        print("| krvn --criteria: MAPI calls per folder, 1,000 searching 3 folders | %s | %.0f calls | | %.4f | <= 2.05: %s |" % (
            arch, float(g("krvn_criteria_calls_1000")), per, "met" if per <= 2.05 else "MISSED"))
    for key, title, goal in (("krvn_delete", "--no-backup", 1.01), ("krvn_delete_backup", "with its backup", 3.01)):
        if g(key + "_calls_per_folder"):
            per = float(g(key + "_calls_per_folder"))
            print("| krvn delete 10,000 siblings %s: MAPI calls per folder (%.1f s) | %s | %.0f calls | | %.4f | <= %.2f: %s |" % (
                title, float(g(key + "_s")), arch, float(g(key + "_calls_10000_siblings")), per, goal, "met" if per <= goal else "MISSED"))
    if g("krvn_restore_calls_per_folder"):
        print("| krvn restore 1,000 from that backup: MAPI calls per folder | %s | %.1f s | | %.4f | %.0f bytes of backup per folder |" % (
            arch, float(g("krvn_restore_1000_s")), float(g("krvn_restore_calls_per_folder")), float(g("krvn_backup_bytes_per_folder"))))
    if g("peak_memory_bytes_20000"):
        print("| Peak working set after 20k scan | %s | %.1f MiB | | | %.0f bytes per listed search folder |" % (
            arch, float(g("peak_memory_bytes_20000")) / 1048576, float(g("bytes_per_search_folder_20000"))))
for arch in archs:
    for key, seconds in values.items():
        if key.startswith(arch + ".wayback_seconds_"):
            seeds = int(key.rsplit("_", 1)[1])
            print("| krvn's way back: %d seeds of the campaign, two at a time | %s | %.1f min | | | <= 30 min for 1,000: %s |" % (
                seeds, arch, float(seconds) / 60, "met" if float(seconds) * 1000 / seeds <= 1800 else "MISSED"))
