#!/usr/bin/env python3
"""Korvane's demo: runs Korvane.exe on a fresh copy of the demo store.
With a display the window opens for you; without one a scripted walk-through
runs under Xvfb and leaves a screenshot of each step in build/demo/."""
import os
import shutil
import subprocess
import sys

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(ROOT, "scripts"))
from wine_desktop import Desktop, folder_names, read_report, wait_for  # noqa: E402

ARCH = os.environ.get("DEMO_ARCH", "x86")
os.environ["PATH"] = os.path.join(ROOT, "scripts", "wine-bin") + os.pathsep + os.environ.get("PATH", "")
BIN = os.path.join(ROOT, "build", ARCH, "bin")
WORK = os.path.join(ROOT, "build", "demo")


def search_folders_of(store_text, profile, store):
    """The search folders without a container class below the store's finder."""
    names, inside = [], False
    for line in store_text.splitlines():
        depth = (len(line) - len(line.lstrip(" "))) // 2
        words = line.strip()
        if depth == 0:
            current_profile = words
        if depth == 1:
            inside = words.startswith('store "%s"' % store) and current_profile.startswith('profile "%s"' % profile)
        if inside and depth >= 3 and " search" in words and "class=" not in words:
            names.append(folder_names(line)[0])
    return names


def interactive(store, log):
    prefix = os.path.join(ROOT, "build", "wine", "demo-" + ARCH)
    env = dict(os.environ, KORVANE_WINEPREFIX=prefix, WINEPREFIX=prefix)
    subprocess.run(["bash", os.path.join(ROOT, "scripts", "wine-prefix.sh"), ARCH, os.path.join(BIN, "mapisim.dll")],
                   env=dict(env, DISPLAY=""), check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["wine", "reg", "add", "HKCU\\Software\\Wine\\Drivers", "/v", "Graphics", "/d", "x11", "/f"],
                   env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(os.path.join(prefix, "drive_c", "windows", "krvn.ini"), "w") as f:
        f.write("[SV]\r\nDebugLevel=3\r\nDebugFile=%s\r\n" % Desktop.windows_path(log))
    env.update(MAPISIM_STORE=store, MAPISIM_REPORT=os.path.join(WORK, "report.txt"), WINEDEBUG="-all")
    # The set-up ran without a display; a Wine server left from it would keep its windows off screen.
    subprocess.run(["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-w"], env=env, stderr=subprocess.DEVNULL)
    code = subprocess.run(["wine", os.path.join(BIN, "Korvane.exe")], env=env).returncode
    print("Korvane ended with exit code %d." % code)
    return code


def walk_through(store, log_name):
    d = Desktop(ARCH, BIN, WORK, prefix_name="demo-xvfb-" + ARCH)
    shots = []

    def shot(name):
        shots.append(d.screenshot(d.path(name)))

    try:
        log = d.set_ini(log_name=log_name)
        before = d.read(store)
        found = search_folders_of(before, "Mail", "Mailbox - Anna Berg")
        process = d.start(store)
        shot("01-start.png")
        d.key("Home", "Down", "Down", "Right")  # the default profile, "Mail", is third
        wait_for(lambda: int(d.probe().get("tree.count", "0")) > 4, 10)
        shot("02-profile-expanded.png")
        d.key("Down", "Down")  # its default store, "Mailbox - Anna Berg"
        wait_for(lambda: d.probe().get("list.count") == str(len(found)), 10)
        shot("03-store-selected.png")
        d.key("ctrl+a")
        shot("04-all-selected.png")
        d.key("Delete")
        wait_for(lambda: d.probe().get("list.count") == "0", 10)
        shot("05-deleted.png")
        d.key("alt+a")
        wait_for(lambda: d.probe_if_shown("About"), 10)
        shot("06-about.png")
        d.key("Escape")
        d.key("Escape")
        code = d.wait_exit(process)
        after = d.read(store)
        deleted = [n for n in folder_names(before) if n not in folder_names(after)]

        # The same dialog in German.
        german = d.write("german.store", before)
        process = d.start(german, report_name="report-de.txt", extra_env={"LC_ALL": "de_DE.UTF-8", "LANG": "de_DE.UTF-8"})
        d.key("Home", "Down", "Down", "Right", "Down", "Down")
        wait_for(lambda: d.probe().get("list.count") == str(len(found)), 10)
        shot("07-german.png")
        d.click_control(d.probe(), 57664)  # "Info &über...": its mnemonic is not on a US keyboard
        wait_for(lambda: d.probe_if_shown("Info über"), 10)
        shot("08-about-german.png")
        d.key("Escape")
        d.key("Escape")
        d.wait_exit(process)
    finally:
        d.close()

    print("Search folders found in Mail / Mailbox - Anna Berg (%d):" % len(found))
    for name in found:
        print("  " + name)
    print("Deleted (%d):" % len(deleted))
    for name in deleted:
        print("  " + name)
    print("Exit code: %s" % code)
    report = read_report(d.read(d.path("report.txt")))
    print("mapisim: live objects %s, live allocations %s, open sessions %s" % (
        report.get("live_objects"), report.get("live_allocations"), report.get("sessions_open")))
    print("Trace log: %s" % log)
    print("Store file after the run: %s" % store)
    print("Screenshots:")
    for path in shots:
        print("  " + path)
    # The README's pictures: the dialog cut out of the screen.
    docs = os.path.join(ROOT, "docs")
    os.makedirs(docs, exist_ok=True)
    for shot_name, doc_name in (("04-all-selected.png", "main-dialog.png"), ("07-german.png", "main-dialog-de.png"),
                                ("06-about.png", "about.png"), ("08-about-german.png", "about-de.png")):
        subprocess.run(["convert", d.path(shot_name), "-crop", "770x508+127+130", "+repage",
                        os.path.join(WORK, doc_name)], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    print("Cut-outs for docs/: %s/main-dialog*.png, about*.png" % WORK)
    return 0 if code == 2 and len(deleted) == len(found) else 1


def main():
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    store = os.path.join(WORK, "demo.store")
    shutil.copyfile(os.path.join(ROOT, "mapisim", "demo.store"), store)
    if os.environ.get("DISPLAY"):
        return interactive(store, os.path.join(WORK, "korvane.log"))
    return walk_through(store, "korvane.log")


if __name__ == "__main__":
    sys.exit(main())
