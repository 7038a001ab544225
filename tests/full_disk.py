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

    def contents(self):
        if not os.path.exists(self.backup):
            return None
        with open(self.backup, "rb") as f:
            return f.read()

    def close(self):
        if self.mounted:
            subprocess.call(["umount", self.path])


class Krvn:
    """krvn delete --all --backup FILE on a store of |count| folders of its own, started at once."""

    def __init__(self, args, work, name, count, backup):
        self.store = os.path.join(work, name + ".store")
        self.text = store_text(count)
        with open(self.store, "w") as f:
            f.write(self.text)
        env = dict(os.environ, MAPISIM_STORE=self.store, MAPISIM_REPORT=os.path.join(work, name + ".report"), WINEDEBUG="-all")
        env.pop("DISPLAY", None)
        self.process = subprocess.Popen([os.path.join(args.root, "scripts", "wine-run"), args.arch, os.path.join(args.bin, "krvn.exe"),
                                         "delete", "--all", "--format", "json", "--backup", "Z:" + backup.replace("/", "\\")],
                                        env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def wait(self):
        out, err = self.process.communicate(timeout=300)
        self.code, self.out, self.err = self.process.returncode, out.decode("utf-8", "replace"), err.decode("utf-8", "replace")
        with open(self.store) as f:
            self.changed = f.read() != self.text
        return self


def appender(args, backup):
    """The second process: appends OTHER to the file in its turn as soon as the file is there."""
    env = dict(os.environ, WINEDEBUG="-all")
    env.pop("DISPLAY", None)
    return subprocess.Popen([os.path.join(args.root, "scripts", "wine-run"), args.arch, os.path.join(args.bin, "test_backup.exe"),
                             "--append-once-there", "Z:" + backup.replace("/", "\\"), OTHER], env=env, stdout=subprocess.PIPE)


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
    other = appender(args, disk.backup)
    run = Krvn(args, work, "a", 2000, disk.backup).wait()
    try:
        out = other.communicate(timeout=5)[0]
    except subprocess.TimeoutExpired:
        other.kill()
        out = other.communicate()[0]
    refused(run, failures)
    appended = b"appended" in out and b"not" not in out
    after = disk.contents()
    if appended and after != OTHER.encode():
        failures.append("the other process's record is not kept whole: %r" % after)
    if not appended and after not in (None, b""):
        failures.append("the file holds what nobody appended: %r" % after)
    said = "; it stays, as another run appends to it too;" if after is not None else "; it was removed, as it held nothing else;"
    if said not in run.err:
        failures.append("the message does not say what became of the file (%s): %r" % ("kept" if after is not None else "removed", run.err))


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
        for case in (case_earlier_record, case_new_file_shared):
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
