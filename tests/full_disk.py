#!/usr/bin/env python3
"""krvn's backup writer on a file system that fills up: krvn as a process, its --backup on a small
tmpfs of its own (mounted here for each case), with room for part of the records only, and in some
cases a second process appending to the same file. A run whose records do not fit deletes nothing
and exits 3, and the file keeps every byte any other run wrote: put back to what it was, or removed
when the run made it and nobody else wrote to it or has it open. (Two krvn runs at once on a disk that
fills are drawn by the way back's campaign.) Mounting needs root: elsewhere the test reports itself
skipped (exit 77), never passed."""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

SKIPPED = 77
EARLIER = b'{"format": "krvn-backup", "version": 1}\r\n'  # a record an earlier run left, its line whole
OTHER = '{"format": "krvn-backup", "other": "run"}\r\n'   # what the second process appends


def store_text(count):
    return "profile P default\n  store S default\n    folder Inbox\n    finder F\n" + "".join(
        '      folder "Search %04d" search criteria="exist(subject)" scope=Inbox\n' % i for i in range(count))


class Disk:
    """A tmpfs of 256 KiB, filled so that only |room| is left: "page" leaves what the last page of
    the file already there holds, "one page" one free page."""

    def __init__(self, work):
        self.path = os.path.join(work, "full")
        os.mkdir(self.path)
        self.mounted = subprocess.call(["mount", "-t", "tmpfs", "-o", "size=256k", "tmpfs", self.path]) == 0

    def prepare(self, earlier, room):
        for name in os.listdir(self.path):
            os.remove(os.path.join(self.path, name))
        self.backup = os.path.join(self.path, "b.jsonl")
        if earlier is not None:
            with open(self.backup, "wb") as f:
                f.write(earlier)
        filler = os.path.join(self.path, "filler")
        try:
            with open(filler, "wb") as f:
                while True:
                    f.write(b"x" * 4096)
                    f.flush()
        except OSError:
            pass
        if room == "one page":
            os.truncate(filler, (os.path.getsize(filler) // 4096 - 1) * 4096)

    def contents(self, path=None):
        path = path or self.backup
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return f.read()

    def close(self):
        if self.mounted:
            subprocess.call(["umount", self.path])


class Krvn:
    """krvn (by default delete --all --backup FILE) on a store of |count| folders of its own, started at once."""

    def __init__(self, args, work, name, count, backup, command=None, latency_us=0):
        self.store = os.path.join(work, name + ".store")
        self.text = store_text(count)
        with open(self.store, "w") as f:
            f.write(self.text)
        env = dict(os.environ, MAPISIM_STORE=self.store, MAPISIM_REPORT=os.path.join(work, name + ".report"), WINEDEBUG="-all",
                   MAPISIM_LATENCY_US=str(latency_us))
        env.pop("DISPLAY", None)
        command = command or ["delete", "--all", "--format", "json", "--backup"]
        # Output to files: a Wine server this process starts keeps pipes open after it ends.
        self.files = [open(os.path.join(work, name + ".out"), "w+b"), open(os.path.join(work, name + ".err"), "w+b")]
        self.process = subprocess.Popen([os.path.join(args.root, "scripts", "wine-run"), args.arch, os.path.join(args.bin, "krvn.exe")] +
                                        command + [windows(backup)], env=env, stdout=self.files[0], stderr=self.files[1])

    def wait(self):
        self.code = self.process.wait(timeout=300)
        self.out, self.err = [(f.seek(0), f.read().decode("utf-8", "replace"), f.close())[1] for f in self.files]
        with open(self.store) as f:
            self.changed = f.read() != self.text
        return self


def windows(path):
    return "Z:" + path.replace("/", "\\")


class Appender:
    """The second process: appends OTHER to the file in its turn as soon as it is there (and |go| is, where
    given); Said() is what it has said so far ("open", "appended")."""

    def __init__(self, args, work, path, go=None):
        env = dict(os.environ, WINEDEBUG="-all")
        env.pop("DISPLAY", None)
        self.said = os.path.join(work, "appender.out")
        with open(self.said, "wb") as out:
            self.process = subprocess.Popen([os.path.join(args.root, "scripts", "wine-run"), args.arch, os.path.join(args.bin, "test_backup.exe"),
                                             "--append-once-there", windows(path), OTHER] + ([windows(go)] if go else []), env=env, stdout=out)

    def Said(self):
        with open(self.said, "rb") as f:
            return f.read().decode()

    def wait(self, timeout):
        try:
            self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        return self.Said()


def refused(run, failures):
    """A run whose records did not fit: exit 3, the reason given, nothing deleted."""
    if run.code != 3:
        failures.append("exit code %d, not 3: %r" % (run.code, run.err))
    if "could not be written whole (" not in run.err or "; nothing was deleted" not in run.err or "(Success)" in run.err:
        failures.append("message: %r" % run.err)
    if run.changed:
        failures.append("the store changed: something was deleted")


def case_earlier_record(args, work, disk, failures):
    """An earlier run's record, then no room for this run's: the file as it was."""
    disk.prepare(EARLIER, "page")
    run = Krvn(args, work, "a", 40, disk.backup).wait()
    refused(run, failures)
    if "; it is as it was;" not in run.err:
        failures.append("the message does not say the file is as it was: %r" % run.err)
    if disk.contents() != EARLIER:
        failures.append("the file is not as it was: %r" % disk.contents())


def case_new_file_shared(args, work, disk, failures):
    """The run makes the file, another process appends to it as soon as it is there: what the other
    appended stays, whichever came first; the file goes only where the other never had it."""
    disk.prepare(None, "one page")
    other = Appender(args, work, disk.backup)
    run = Krvn(args, work, "a", 2000, disk.backup).wait()
    out = other.wait(5)
    refused(run, failures)
    appended = "appended" in out and "not appended" not in out
    after = disk.contents()
    if appended and after != OTHER.encode():
        failures.append("the other process's record is not kept whole: %r" % after)
    if not appended and after not in (None, b""):
        failures.append("the file holds what nobody appended: %r" % after)
    said = "; it stays, as another run appends to it too;" if after is not None else "; it was removed, as it held nothing else;"
    if said not in run.err:
        failures.append("the message does not say what became of the file (%s): %r" % ("kept" if after is not None else "removed", run.err))


def log_shared(args, work, disk, failures, held):
    """The audit log a run made at its start is appended to by another process while the run works, which
    then lets it go or (|held|) holds it open and appends only after the run. The run's own record finds no
    room: the file stays, with what the other appended."""
    disk.prepare(None, "one page")
    log, go = os.path.join(disk.path, "audit.log"), os.path.join(work, "go")
    if os.path.exists(go):
        os.remove(go)
    # A slow server (slow enough that the other process, started after, is there before the run ends,
    # however loaded the machine); a pattern that makes the record longer than the page left.
    run = Krvn(args, work, "a", 3, log, ["check", "--over", "100", "--name", "x" * 5000, "--log"], latency_us=150000)
    while not os.path.exists(log) and run.process.poll() is None:
        time.sleep(0.01)
    other = Appender(args, work, log, go if held else None)
    while "open" not in other.Said() and other.process.poll() is None:
        time.sleep(0.01)
    if not held:
        other.wait(60)
    run.wait()
    open(go, "w").close()
    said = other.wait(60)
    if "open" not in said or "appended" not in said or run.code != 4:
        failures.append("not as staged: the other process %r, the run's exit code %d: %r" % (said, run.code, run.err))
    elif "; it stays, as another run appends to it too" not in run.err or disk.contents(log) != OTHER.encode():
        failures.append("the log the other appended to: %r, message %r" % (disk.contents(log), run.err))


def case_log_appended_to(args, work, disk, failures):
    log_shared(args, work, disk, failures, False)


def case_log_held(args, work, disk, failures):
    log_shared(args, work, disk, failures, True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--arch", required=True)
    parser.add_argument("--bin", required=True)
    parser.add_argument("--root", required=True)
    args = parser.parse_args()
    if os.geteuid() != 0:
        print("skipped: mounting a full filesystem needs root")
        return SKIPPED
    work = tempfile.mkdtemp(prefix="krvn-full-")
    disk = Disk(work)
    try:
        if not disk.mounted:
            print("skipped: tmpfs could not be mounted here")
            return SKIPPED
        failed = 0
        for case in (case_earlier_record, case_new_file_shared, case_log_appended_to, case_log_held):
            failures = []
            case(args, work, disk, failures)
            for failure in failures:
                print("FAILED %s: %s" % (case.__name__, failure))
            failed += bool(failures)
            print("%s: %s" % (case.__name__, "failed" if failures else "passed"))
        return 1 if failed else 0
    finally:
        disk.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
