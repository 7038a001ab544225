#!/usr/bin/env python3
"""A backup that fills the disk part way: krvn as a process, its --backup on a small filesystem of its own
(tmpfs, mounted here) that has room for part of the records only. The file goes back to what it was, the
message gives the system's reason, nothing is deleted, exit code 3. Mounting needs root: elsewhere the test
reports itself skipped (exit 77), never passed."""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

SKIPPED = 77
FOLDERS = 40  # about 450 bytes of backup each: far more than the page left free


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
    full = os.path.join(work, "full")
    os.mkdir(full)
    if subprocess.call(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", full]) != 0:
        print("skipped: tmpfs could not be mounted here")
        shutil.rmtree(work)
        return SKIPPED
    try:
        store = os.path.join(work, "s.store")
        text = "profile P default\n  store S default\n    folder Inbox\n    finder F\n" + "".join(
            '      folder "Search %02d" search criteria="exist(subject)" scope=Inbox\n' % i for i in range(FOLDERS))
        with open(store, "w") as f:
            f.write(text)
        # A backup a run appended to before, its last line complete; then no room but the rest of its page.
        backup = os.path.join(full, "b.jsonl")
        earlier = b'{"format": "krvn-backup", "version": 1}\r\n'
        with open(backup, "wb") as f:
            f.write(earlier)
        try:
            with open(os.path.join(full, "filler"), "wb") as f:
                while True:
                    f.write(b"x" * 4096)
                    f.flush()
        except OSError:
            pass
        env = dict(os.environ, MAPISIM_STORE=store, MAPISIM_REPORT=os.path.join(work, "report.txt"), WINEDEBUG="-all")
        env.pop("DISPLAY", None)
        run = subprocess.run([os.path.join(args.root, "scripts", "wine-run"), args.arch, os.path.join(args.bin, "krvn.exe"),
                              "delete", "--all", "--backup", "Z:" + backup.replace("/", "\\")],
                             env=env, capture_output=True, timeout=300)
        err = run.stderr.decode("utf-8", "replace")
        with open(backup, "rb") as f:
            after = f.read()
        with open(store) as f:
            store_after = f.read()
        failures = []
        if run.returncode != 3:
            failures.append("exit code %d, not 3" % run.returncode)
        if "could not be written whole (" not in err or "; nothing was deleted" not in err:
            failures.append("message: %r" % err)
        if "(Success)" in err or "already exists" in err:
            failures.append("the message does not give the reason: %r" % err)
        if after != earlier:
            failures.append("the backup is not as it was: %d bytes, not %d" % (len(after), len(earlier)))
        if store_after != text:
            failures.append("the store changed: something was deleted")
        for failure in failures:
            print("FAILED: " + failure)
        print("%d passed, %d failed" % (5 - len(failures), len(failures)))
        return 1 if failures else 0
    finally:
        subprocess.call(["umount", full])
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
