"""Drives the real Korvane.exe in a Wine virtual desktop under Xvfb, with
xdotool, as a person would; shared by the end-to-end tests and the demo."""
import os
import subprocess
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
# Wine through the project's launcher, which copes with kernels without 32-bit support.
os.environ["PATH"] = os.path.join(ROOT, "scripts", "wine-bin") + os.pathsep + os.environ.get("PATH", "")


def wait_for(predicate, timeout=20.0, step=0.1):
    end = time.time() + timeout
    while time.time() < end:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    return predicate()


class Desktop:
    """One Xvfb display and one Wine prefix whose programs run in a virtual desktop."""

    def __init__(self, arch, bin_dir, work_dir, prefix_name=None):
        self.arch = arch
        self.bin = bin_dir
        self.work = work_dir
        os.makedirs(work_dir, exist_ok=True)
        self.prefix = os.path.join(ROOT, "build", "wine", prefix_name or ("e2e-" + arch))
        env = dict(os.environ, KORVANE_WINEPREFIX=self.prefix, WINEPREFIX=self.prefix)
        env.pop("DISPLAY", None)
        # A Wine server left from an earlier run would keep its desktop on a display that is gone.
        subprocess.run(["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL)
        subprocess.run(["bash", os.path.join(ROOT, "scripts", "wine-prefix.sh"), arch,
                        os.path.join(bin_dir, "mapisim.dll")], env=env, check=True, stdout=subprocess.DEVNULL)
        self.display = self._start_xvfb()
        self.env = dict(os.environ, WINEPREFIX=self.prefix, DISPLAY=self.display, WINEDEBUG="-all")
        for key in ("MAPISIM_STORE", "MAPISIM_LOG", "MAPISIM_REPORT", "LC_ALL", "LANG"):
            self.env.pop(key, None)
        self.env["LANG"] = "en_US.UTF-8"
        # Every program of this prefix runs in one virtual desktop, which draws the window frames.
        self.reg("HKCU\\Software\\Wine\\Drivers", "Graphics", "x11")
        self.reg("HKCU\\Software\\Wine\\Explorer", "Desktop", "Default")
        self.reg("HKCU\\Software\\Wine\\Explorer\\Desktops", "Default", "1024x768")
        # The desktop belongs to whichever display its first program had: start afresh on ours,
        # and keep the server running between the cases.
        subprocess.run(["wineserver", "-k"], env=self.env, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=self.env, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-p"], env=self.env)
        self.windows_dir = os.path.join(self.prefix, "drive_c", "windows")

    def _start_xvfb(self):
        for number in range(91, 160):
            lock = "/tmp/.X%d-lock" % number
            if os.path.exists(lock):
                try:
                    os.kill(int(open(lock).read().strip()), 0)
                    continue  # a live server has it
                except (OSError, ValueError):
                    for stale in (lock, "/tmp/.X11-unix/X%d" % number):
                        try:
                            os.remove(stale)
                        except OSError:
                            pass
            display = ":%d" % number
            self.xvfb = subprocess.Popen(["Xvfb", display, "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            ready = wait_for(lambda: self.xvfb.poll() is None and subprocess.run(
                ["xdpyinfo", "-display", display], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0, 15)
            if ready:
                return display
            self.xvfb.kill()
        raise RuntimeError("no free X display")

    def close(self):
        subprocess.run(["wineserver", "-k"], env=self.env, stderr=subprocess.DEVNULL)
        self.xvfb.terminate()
        try:
            self.xvfb.wait(10)
        except subprocess.TimeoutExpired:
            self.xvfb.kill()

    def reg(self, key, name, value):
        subprocess.run(["wine", "reg", "add", key, "/v", name, "/d", value, "/f"], env=self.env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    # --- files ------------------------------------------------------------
    def path(self, name):
        return os.path.join(self.work, name)

    @staticmethod
    def windows_path(unix_path):
        return "Z:" + unix_path.replace("/", "\\")

    def write(self, name, text):
        path = self.path(name)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        return path

    def read(self, path):
        try:
            with open(path, encoding="utf-8", errors="replace") as f:
                return f.read()
        except OSError:
            return ""

    def set_ini(self, level=3, log_name="korvane.log"):
        """krvn.ini in the prefix's Windows folder; returns the log file's Unix path."""
        log = self.path(log_name)
        if os.path.exists(log):
            os.remove(log)
        with open(os.path.join(self.windows_dir, "krvn.ini"), "w") as f:
            f.write("[SV]\r\nDebugLevel=%d\r\nDebugFile=%s\r\n" % (level, self.windows_path(log)))
        return log

    def remove_ini(self):
        try:
            os.remove(os.path.join(self.windows_dir, "krvn.ini"))
        except OSError:
            pass

    # --- programs ---------------------------------------------------------
    def start(self, store_path, report_name="report.txt", extra_env=None, stderr=None):
        env = dict(self.env)
        env["MAPISIM_STORE"] = store_path
        env["MAPISIM_REPORT"] = self.path(report_name)
        env["MAPISIM_LOG"] = self.path("calls.log")
        for name in ("calls.log", report_name):
            if os.path.exists(self.path(name)):
                os.remove(self.path(name))
        env.update(extra_env or {})
        process = subprocess.Popen(["timeout", "120", "wine", os.path.join(self.bin, "Korvane.exe")], env=env,
                                   stdout=subprocess.DEVNULL, stderr=stderr or subprocess.DEVNULL)
        state = wait_for(lambda: self.probe_if_shown(), 30)
        if not state:
            process.kill()
            raise RuntimeError("Korvane's window did not appear")
        self.focus_desktop()
        return process

    def probe(self, title="Korvane", extra_env=None):
        env = dict(self.env)
        env.update(extra_env or {})
        # Output through a file, not a pipe: Wine's helper processes inherit pipes and keep them open.
        out_path = self.path("probe.txt")
        with open(out_path, "wb") as out_file:
            subprocess.run(["timeout", "30", "wine", os.path.join(self.bin, "korvane_probe.exe"), title],
                           env=env, stdout=out_file, stderr=subprocess.DEVNULL)
        out = self.read(out_path)
        state = {}
        for line in out.splitlines():
            key, _, value = line.strip().partition("=")
            state[key] = value
        return state

    def probe_if_shown(self, title="Korvane"):
        state = self.probe(title)
        return state if state.get("found") == "1" else None

    def wait_exit(self, process, timeout=30):
        try:
            return process.wait(timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            return None

    # --- input --------------------------------------------------------------
    def xdotool(self, *args):
        return subprocess.run(["xdotool"] + list(args), env=self.env, capture_output=True,
                              timeout=30).stdout.decode().strip()

    def focus_desktop(self):
        ids = wait_for(lambda: self.xdotool("search", "--onlyvisible", "--name", "Wine desktop"), 10)
        if ids:
            self.desktop = ids.split()[0]
            self.xdotool("windowfocus", "--sync", self.desktop)

    def key(self, *keys, pause=0.4):
        for k in keys:
            self.xdotool("key", "--clearmodifiers", k)
            time.sleep(pause)

    def click(self, x, y):
        self.xdotool("mousemove", "--sync", str(x), str(y))
        time.sleep(0.2)
        self.xdotool("click", "1")
        time.sleep(0.4)

    def click_control(self, state, control_id):
        left, top, right, bottom = [int(v) for v in state["rect.%d" % control_id].split(",")]
        self.click((left + right) // 2, (top + bottom) // 2)

    def screenshot(self, path):
        subprocess.run(["import", "-display", self.display, "-window", "root", path], env=self.env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return path


def read_report(text):
    report = {}
    for line in text.splitlines():
        key, _, value = line.partition("=")
        if not line.startswith("leak"):
            report[key] = value
    return report


def folder_names(store_text):
    names = []
    for line in store_text.splitlines():
        stripped = line.lstrip(" ")
        if not stripped.startswith("folder "):
            continue
        rest = stripped[len("folder "):]
        if rest.startswith('"'):
            name, i = "", 1
            while i < len(rest) and rest[i] != '"':
                if rest[i] == "\\":
                    i += 1
                name += rest[i]
                i += 1
        else:
            name = rest.split(" ")[0]
        names.append(name)
    return names
