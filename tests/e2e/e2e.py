#!/usr/bin/env python3
"""End-to-end tests: the real Korvane.exe in a Wine desktop under Xvfb,
driven only by keys and clicks from xdotool. Each case checks the exit code,
the store file afterwards, the trace file and mapisim's report."""
import argparse
import os
import shutil
import sys
import time
import traceback

sys.path.insert(0, os.path.dirname(__file__))
from korvane_e2e import Desktop, folder_names, read_report, wait_for  # noqa: E402

STORE = """profile P default
  store S default
    finder Finder
      folder "Unread Mail" search class=IPF.Note
      folder one search
      folder Projects
        folder two search
      folder three search
  store "Zed archive"
"""

passed, failed = [], []


def case(function):
    def run(d):
        name = function.__name__.replace("_", " ")
        try:
            function(d)
            passed.append(name)
            print("PASS", name, flush=True)
        except Exception:
            failed.append(name)
            print("FAIL", name, flush=True)
            traceback.print_exc()
            d.screenshot(d.path(function.__name__ + "-failure.png"))
        finally:
            d.remove_ini()
    run.__name__ = function.__name__
    return run


def check(condition, what):
    if not condition:
        raise AssertionError(what)


def clean_report(d, name="report.txt"):
    report = read_report(d.read(d.path(name)))
    check(report.get("live_objects") == "0", "live objects: %s" % report)
    check(report.get("live_allocations") == "0", "live allocations: %s" % report)
    check(report.get("sessions_open") == "0", "open sessions: %s" % report)
    return report


def expand_and_select_store(d, down=1):
    """The tree has the focus: select the first profile, expand it, go down to a store."""
    d.key("Home", "Right")
    wait_for(lambda: int(d.probe().get("tree.count", "0")) > 1, 10)
    d.key(*(["Down"] * down))


@case
def exit_codes(d):
    store = d.write("exit.store", STORE)
    # Alt+F4 is pressed with the focus on the OK button: Wine's tree-view keeps Alt+F4 to
    # itself when it has the focus, where Windows' passes it on to close the window.
    for how, expected in (("OK button", 1), ("Enter", 1), ("Escape", 2), ("close box", 2), ("Alt+F4", 2)):
        log = d.set_ini()
        process = d.start(store)
        state = d.probe()
        if how == "OK button":
            d.click_control(state, 1)
        elif how == "Enter":
            d.key("Return")
        elif how == "Escape":
            d.key("Escape")
        elif how == "close box":
            left, top, right, bottom = [int(v) for v in state["rect"].split(",")]
            d.click(right - 12, top + 11)  # the close box, at the caption's right end
        else:
            d.key("shift+Tab")  # from the tree back to OK
            check(d.probe()["focus"] == "1", "the focus is on OK")
            d.key("alt+F4")
        code = d.wait_exit(process)
        check(code == expected, "%s: exit code %s, expected %s" % (how, code, expected))
        check("<--Run(), ret = %d" % expected in d.read(log), "%s: Run's exit line" % how)
        clean_report(d)


def whole_job(d, extra_env=None, check_texts=None):
    """Start, expand, select the store, Ctrl+A, Delete key, Escape; then the exit code,
    the store file, the trace file and the report."""
    store = d.write("job.store", STORE)
    log = d.set_ini()
    process = d.start(store, extra_env=extra_env)
    state = d.probe()
    if check_texts:
        check_texts(state)
    check(state["focus"] == "1000", "the tree has the focus")
    check(state["enabled.1002"] == "0", "Delete starts disabled")
    expand_and_select_store(d)
    check(wait_for(lambda: d.probe().get("list.count") == "3", 10), "three search folders listed")
    d.key("ctrl+a")
    check(d.probe()["enabled.1002"] == "1", "Delete enabled after Ctrl+A")
    d.key("Delete")
    check(wait_for(lambda: d.probe().get("list.count") == "0", 10), "list emptied by the deletion")
    d.key("Escape")
    check(d.wait_exit(process) == 2, "exit code 2")
    names = folder_names(d.read(store))
    check(names == ["Unread Mail", "Projects"], "store file afterwards: %s" % names)
    trace = d.read(log)
    for line in ("-->OnInitDialog()", "-->OnTreeSelChanged()", "<--OnTreeSelChanged()", "-->OnSelectAll()",
                 "<--OnSelectAll()", "-->OnDelete()", "<--OnDelete()", "-->OnListItemChanged()",
                 "<--DeleteSelection(), ret = 0"):
        check(line in trace, "trace has " + line)
    clean_report(d)


@case
def full_job(d):
    whole_job(d)


@case
def refused_deletion(d):
    store = d.write("refused.store", "profile P default\n  store S default\n    finder F\n"
                    "      folder a search\n      folder b search fail=DeleteFolder:0x80070005\n"
                    "      folder c search\n")
    log = d.set_ini()
    process = d.start(store)
    expand_and_select_store(d)
    wait_for(lambda: d.probe().get("list.count") == "3", 10)
    d.key("ctrl+a", "Delete")
    state = wait_for(lambda: (lambda s: s if s.get("list.count") == "2" else None)(d.probe()), 10)
    check(state, "two rows left")
    check(state["list.selected"] == "0,1,", "both left selected: %s" % state["list.selected"])
    check(state["enabled.1002"] == "1", "Delete stays enabled")
    d.key("Escape")
    check(d.wait_exit(process) == 2, "exit code")
    check(folder_names(d.read(store)) == ["b", "c"], "only a deleted")
    check("DeleteFolder() failed: hr=80070005" in d.read(log), "failure traced")
    clean_report(d)


@case
def failed_logon(d):
    store = d.write("logon.store", "profile Locked default fail=Logon:0x80040111\n  store Hidden\n"
                    "profile Open\n  store S\n    finder F\n      folder x search\n")
    d.set_ini()
    process = d.start(store)
    d.key("Home", "Right")
    time.sleep(0.5)
    check(d.probe()["tree.count"] == "2", "no stores under the locked profile")
    d.key("Down", "Right")
    check(wait_for(lambda: d.probe().get("tree.count") == "3", 10), "the other profile still expands")
    d.key("Down")
    check(wait_for(lambda: d.probe().get("list.count") == "1", 10), "and its store lists")
    d.key("Escape")
    check(d.wait_exit(process) == 2, "exit code")
    clean_report(d)


@case
def no_ini_and_held_log(d):
    store = d.write("noini.store", "profile P default\n  store S default fail=OpenMsgStore:0x80040115\n")
    d.remove_ini()
    if os.path.exists(d.path("korvane.log")):
        os.remove(d.path("korvane.log"))
    stderr_path = d.path("debugstr.txt")
    with open(stderr_path, "wb") as stderr:
        process = d.start(store, extra_env={"WINEDEBUG": "-all,+debugstr"}, stderr=stderr)
        expand_and_select_store(d)
        time.sleep(0.5)
        d.key("Escape")
        check(d.wait_exit(process) == 2, "exit code")
    out = d.read(stderr_path)
    check("E[SV-" in out and "OpenMsgStore() failed: hr=80040115" in out, "level-0 line on the debugger channel")
    check("C[SV-" not in out, "no call lines without an INI file")
    check(not os.path.exists(d.path("korvane.log")), "no log file")

    # Two Korvane.exe with the same log file: the second one writes the fallback name.
    log = d.set_ini(log_name="shared.log")
    quiet = d.write("quiet.store", "profile P default\n")
    first = d.start(quiet)
    check(wait_for(lambda: "-->Run()" in d.read(log), 10), "the first instance writes the log")
    second = d.start(quiet, report_name="report2.txt")
    check(wait_for(lambda: "-->OnInitDialog()" in d.read(log + "0"), 20), "the second instance writes shared.log0")
    d.key("Escape")
    d.key("Escape")
    codes = (d.wait_exit(first), d.wait_exit(second))
    check(codes == (2, 2), "both ended with 2: %s" % (codes,))
    check("<--Run(), ret = 2" in d.read(log) and "<--Run(), ret = 2" in d.read(log + "0"), "both logs complete")
    check(d.read(log).count("-->Run()") == 1, "the first file has one run only")


@case
def german(d):
    def german_texts(state):
        check(state.get("text.1002") == "&Löschen", "Delete button: %r" % state.get("text.1002"))
        check(state.get("text.1003") == "A&ktualisieren", "Reload button: %r" % state.get("text.1003"))
        check(state.get("text.57664") == "Info &über...", "About button: %r" % state.get("text.57664"))
    whole_job(d, {"LC_ALL": "de_DE.UTF-8", "LANG": "de_DE.UTF-8"}, german_texts)


@case
def reload_after_change_between_runs(d):
    store = d.write("reload.store", STORE)
    d.set_ini()
    process = d.start(store)
    expand_and_select_store(d)
    wait_for(lambda: d.probe().get("list.count") == "3", 10)
    d.key("ctrl+a", "Delete", "Escape")
    d.wait_exit(process)
    # The store now lacks the three search folders; add one on disk between the runs.
    with open(store, "a", encoding="utf-8") as f:
        f.write("profile Q\n  store T\n    finder F\n      folder fresh search\n")
    process = d.start(store)
    expand_and_select_store(d)
    check(wait_for(lambda: d.probe().get("list.count") == "0", 10), "nothing left in S")
    d.key("F5")
    check(d.probe().get("list.count") == "0", "F5 shows the same")
    d.key("Home", "Left", "End", "Right")
    check(wait_for(lambda: int(d.probe().get("tree.count", "0")) == 3, 10), "P collapsed, Q expanded")
    d.key("Down", "F5", "ctrl+r")
    check(wait_for(lambda: d.probe().get("list.count") == "1", 10), "the new folder after Reload")
    d.key("Escape")
    check(d.wait_exit(process) == 2, "exit code")
    clean_report(d)


@case
def about_box(d):
    store = d.write("about.store", STORE)
    d.set_ini()
    process = d.start(store)
    before = d.probe()
    d.key("alt+a")
    about = wait_for(lambda: d.probe_if_shown("About"), 10)
    check(about, "About box opened by Alt+A")
    d.screenshot(d.path("about.png"))
    d.key("Escape")
    check(wait_for(lambda: not d.probe_if_shown("About"), 10), "Escape closed it")
    after = d.probe()
    check(after["rect"] == before["rect"] and after["enabled.1002"] == before["enabled.1002"], "main dialog unchanged")
    d.key("Escape")
    check(d.wait_exit(process) == 2, "exit code")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--arch", required=True)
    parser.add_argument("--bin", required=True)
    parser.add_argument("--root", required=True)
    parser.add_argument("cases", nargs="*")
    args = parser.parse_args()
    work = os.path.join(args.root, "build", "e2e", args.arch)
    shutil.rmtree(work, ignore_errors=True)
    d = Desktop(args.arch, args.bin, work)
    try:
        for run in (exit_codes, full_job, refused_deletion, failed_logon, no_ini_and_held_log, german,
                    reload_after_change_between_runs, about_box):
            if not args.cases or run.__name__ in args.cases:
                run(d)
    finally:
        d.close()
    print("%d passed, %d failed" % (len(passed), len(failed)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
