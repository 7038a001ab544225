#!/usr/bin/env python3
"""End-to-end tests: what only the real Korvane.exe in a Wine desktop under Xvfb can show, driven by keys and
clicks from xdotool: ways to close it and their exit codes, a whole job by keys and accelerators in German,
the About box by its mnemonic, the log without an INI file."""
import os
import shutil
import sys
import traceback

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "scripts"))
from wine_desktop import Desktop, folder_names, read_report, wait_for  # noqa: E402

STORE = ('profile P default\n  store S default\n    finder Finder\n      folder "Unread Mail" search class=IPF.Note\n'
         '      folder one search\n      folder Projects\n        folder two search\n      folder three search\n  store "Zed archive"\n')


def clean_report(d):
    report = read_report(d.read(d.path("report.txt")))
    assert all(report.get(key) == "0" for key in ("live_objects", "live_allocations", "sessions_open")), "report: %s" % report


def exit_codes(d):
    for how, expected in (("OK button", 1), ("close box", 2)):  # Escape: in the other cases
        log = d.set_ini()
        process = d.start(d.write("exit.store", STORE))
        state = d.probe()
        if how == "OK button":
            d.click_control(state, 1)
        else:
            left, top, right, bottom = [int(v) for v in state["rect"].split(",")]
            d.click(right - 12, top + 11)
        assert d.wait_exit(process) == expected, "%s: exit code %s" % (how, expected)
        trace = d.read(log)
        assert " C[SV-Korvane.cpp:20] -->Run()" in trace and "<--Run(), ret = %d" % expected in trace, how + ": Run's lines"
        clean_report(d)


def german_job(d):
    """In German, by keys: the Delete key on a profile, expand, select the store, F5, Ctrl+R, Ctrl+A, the Delete key, Escape."""
    store = d.write("job.store", STORE)
    log = d.set_ini()
    process = d.start(store, extra_env={"LC_ALL": "de_DE.UTF-8", "LANG": "de_DE.UTF-8"})
    state = d.probe()
    for control, text in {1002: "&Löschen", 1003: "A&ktualisieren", 57664: "Info &über..."}.items():
        assert state.get("text.%d" % control) == text, "control %d: %r" % (control, state.get("text.%d" % control))
    assert state["focus"] == "1000" and state["enabled.1002"] == "0", "the tree has the focus, Delete is disabled"
    d.key("Home", "Delete", "Right")
    wait_for(lambda: int(d.probe().get("tree.count", "0")) > 1, 10)
    d.key("Down")
    assert wait_for(lambda: d.probe().get("list.count") == "3", 10), "three search folders listed"
    d.key("F5", "ctrl+r")
    assert wait_for(lambda: d.read(log).count("-->InitSearchList()") == 3, 10), "F5 and Ctrl+R scan again"
    d.key("ctrl+a")
    state = d.probe()
    assert state["enabled.1002"] == "1" and state["focus"] == "1001", "Ctrl+A selects and moves the focus to the list"
    d.key("Delete")
    assert wait_for(lambda: d.probe().get("list.count") == "0", 10), "the list emptied by the deletion"
    d.key("Escape")
    assert d.wait_exit(process) == 2, "exit code 2"
    assert folder_names(d.read(store)) == ["Unread Mail", "Projects"], "the store file afterwards"
    clean_report(d)


def about_box_without_ini(d):
    """Alt+A opens the About box and Escape closes it; without an INI file errors go to the
    debugger channel only, and no log file is written."""
    d.set_ini(log_name="noini.log")  # removes an earlier log file of that name
    d.remove_ini()
    with open(d.path("debugstr.txt"), "wb") as stderr:
        process = d.start(d.write("noini.store", "profile P default\n  store S default fail=OpenMsgStore:0x80040115\n"),
                          extra_env={"WINEDEBUG": "-all,+debugstr"}, stderr=stderr)
        d.key("Home", "Right", "Down")
        before = d.probe()
        d.key("alt+a")
        assert wait_for(lambda: d.probe_if_shown("About"), 10), "Alt+A opens the About box"
        d.key("Escape")
        assert wait_for(lambda: not d.probe_if_shown("About"), 10), "Escape closes it"
        # Under load the main window can be a moment away from the probe after the box goes: wait for it.
        after = wait_for(lambda: d.probe_if_shown(), 10)
        assert after and after.get("rect") == before.get("rect"), "the main window is back as it was"
        d.key("Escape")
        assert d.wait_exit(process) == 2, "exit code"
    out = d.read(d.path("debugstr.txt"))
    assert "E[SV-" in out and "OpenMsgStore() failed: hr=80040115" in out, "the error line on the debugger channel"
    assert "C[SV-" not in out and not os.path.exists(d.path("noini.log")), "no call lines, no log file"


def main():
    args = dict(zip(sys.argv[1::2], sys.argv[2::2]))  # --arch A --bin DIR --root DIR
    work = os.path.join(args["--root"], "build", "e2e", args["--arch"])
    shutil.rmtree(work, ignore_errors=True)
    d = Desktop(args["--arch"], args["--bin"], work)
    failed = []
    try:
        for case in (exit_codes, german_job, about_box_without_ini):
            try:
                case(d)
                print("PASS", case.__name__, flush=True)
            except Exception:
                failed.append(case.__name__)
                print("FAIL", case.__name__, flush=True)
                traceback.print_exc()
                d.screenshot(d.path(case.__name__ + "-failure.png"))
            finally:
                d.remove_ini()
    finally:
        d.close()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
