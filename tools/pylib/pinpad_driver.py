"""Fills the PIN pad's PIN dialogs from outside, the way a user does with the mouse on the
on-screen keyboard, and takes screenshots of the display. Runs the harness program
pad_driver.exe (tests/harness/pad_driver.c) under Wine beside the program that asks for the PIN.

    with PadDriver(driver_exe, "123456", pause=True) as pad:   # start before the request
        host.send(sign_request)
        box = pad.typed()                       # the PIN is in the field, the dialog still open
        screenshot("dialog.png", box)
        pad.press("enter")                      # or "cancel"
        pad.wait()                              # the dialog has closed

The change and initialisation dialogs take one PIN per field, in the order a user fills them:

    PadDriver(("123456", "a1b2c3d4", "a1b2c3d4"), dialog="change", weak="ok")
    PadDriver(("a1b2c3d4", "a1b2c3d4"), dialog="init")

With weak="ok" or "cancel" the driver answers the change dialog's question whether to keep a
weak new PIN (after "cancel" it gives the dialog up with Cancel); `asked_weak()` tells whether
the question came.

After a wrong PIN the PIN pad tells how many tries are left in its information box:
`acknowledge_info()` reads that text and presses OK; `information_box()` gives the box's title
too.
"""
import os
import subprocess
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WINE_RUN = os.path.join(ROOT, "tools", "wine-run")
DEFAULT_EXE = os.path.join(ROOT, "build", "win64", "tests", "pad_driver.exe")
IMPORT = "/usr/bin/import"   # ImageMagick's; /usr/local/bin/convert is not ImageMagick
CONVERT = "/usr/bin/convert"


class DriverError(RuntimeError):
    pass


DIALOGS = ("verify", "change", "init")


class PadDriver:
    """One PIN entry: waits for the dialog, opens the keyboard and types `pin` (a string for the
    verify dialog, a sequence of one string per field for the others); then presses Enter, or
    Cancel with cancel=True, or waits for `press` with pause=True. With pin None it waits for
    the information box instead and presses its OK."""

    def __init__(self, pin, exe=DEFAULT_EXE, cancel=False, pause=False, timeout=60, env=None,
                 dialog="verify", weak=None):
        if dialog not in DIALOGS or weak not in (None, "ok", "cancel"):
            raise ValueError("no such dialog or answer: %r, %r" % (dialog, weak))
        self.timeout = timeout
        # Output through a file: Wine's background processes may inherit a pipe and hold it.
        self.out = tempfile.NamedTemporaryFile(prefix="pad-driver-", suffix=".txt")
        self.err = tempfile.TemporaryFile()
        args = [WINE_RUN, exe, "--timeout-ms", str(timeout * 1000)]
        args += ["--cancel"] if cancel else []
        args += ["--pause"] if pause else []
        args += ["--dialog", dialog]
        args += ["--weak", weak] if weak else []
        args += ["--info"] if pin is None else [pin] if isinstance(pin, str) else list(pin)
        self.proc = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=self.out,
                                     stderr=self.err, env=env)

    def lines(self):
        """What the driver has printed so far."""
        with open(self.out.name, encoding="utf-8", errors="replace") as f:
            return f.read().splitlines()

    def _failure(self, what):
        self.err.seek(0)
        return DriverError("%s (driver status %s, printed %r): %s" % (
            what, self.proc.poll(), self.lines(),
            self.err.read().decode("utf-8", "replace").strip()))

    def wait_line(self, word, timeout=None):
        """Polls the driver's output until a line starting with `word`; returns it split."""
        # The driver keeps its own deadline; a little longer here lets it say what went wrong.
        end = time.monotonic() + (timeout or self.timeout + 15)
        while True:
            for line in self.lines():
                if line.split()[:1] == [word]:
                    return line.split()
            if self.proc.poll() is not None or time.monotonic() > end:
                # A last look: the line may have come with the exit.
                for line in self.lines():
                    if line.split()[:1] == [word]:
                        return line.split()
                raise self._failure("no %r from the PIN pad driver" % word)
            time.sleep(0.02)

    def typed(self):
        """Waits until the PIN is in the field; returns the dialog's (x, y, width, height)."""
        return tuple(int(v) for v in self.wait_line("typed")[1:5])

    def press(self, key):
        """With pause=True: presses the keyboard's "enter" or "cancel" key."""
        self.proc.stdin.write(key.encode() + b"\n")
        self.proc.stdin.flush()

    def wait(self):
        """Waits until the dialog has closed; raises unless the driver did its whole job."""
        try:
            status = self.proc.wait(self.timeout + 15)
        except subprocess.TimeoutExpired:
            raise self._failure("the PIN pad driver did not finish")
        if status != 0:
            raise self._failure("the PIN pad driver failed")
        return self.lines()

    def asked_weak(self):
        """After wait(): the weak-PIN question's text, or None when it did not come."""
        for line in self.lines():
            if line.startswith("weak "):
                return line[5:]
        return None

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.proc.stdin.close()
        self.out.close()
        self.err.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def information_box(exe=DEFAULT_EXE, timeout=60):
    """Waits for the PIN pad's information box, presses its OK; returns its (text, title)."""
    with PadDriver(None, exe=exe, timeout=timeout) as pad:
        lines = pad.wait()
    found = {}
    for line in lines:
        word, _, text = line.partition(" ")
        if word in ("info", "title"):
            found[word] = text
    if "info" not in found:
        raise DriverError("the driver printed no information text: %r" % lines)
    return found["info"], found.get("title", "")


def acknowledge_info(exe=DEFAULT_EXE, timeout=60):
    """Waits for the PIN pad's information box, presses its OK; returns the text it showed."""
    return information_box(exe, timeout)[0]


def show_chinese_texts():
    """Lets the prefix's dialogs draw Chinese texts for screenshots: Wine's stand-ins for the
    Windows UI fonts have no CJK glyphs, so the dialog font is replaced by Debian's WenQuanYi
    Micro Hei and the caption and signing-display fonts link to it. Affects programs started afterwards."""
    font = "WenQuanYi Micro Hei"
    settings = [
        (r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes", "MS Shell Dlg",
         "REG_SZ", font),
        (r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes",
         "MS Shell Dlg 2", "REG_SZ", font),
        (r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink", "Tahoma",
         "REG_MULTI_SZ", "wqy-microhei.ttc," + font),
        # The signing display's font, linked as Windows links it to its CJK fonts.
        (r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink",
         "Microsoft Sans Serif", "REG_MULTI_SZ", "wqy-microhei.ttc," + font),
    ]
    for key, name, kind, value in settings:
        # Output to a file, not a pipe: a Wine background process may inherit it.
        with tempfile.TemporaryFile() as out:
            p = subprocess.run([WINE_RUN, "reg", "add", key, "/v", name, "/t", kind, "/d", value,
                                "/f"], stdin=subprocess.DEVNULL, stdout=out,
                               stderr=subprocess.STDOUT, timeout=60)
            if p.returncode != 0:
                out.seek(0)
                raise RuntimeError("reg add %s %s: exit %d, %s" % (
                    key, name, p.returncode, out.read().decode("utf-8", "replace")))


def screenshot(path, box=None, margin=8):
    """Saves the display (DISPLAY) as a PNG; with box (x, y, width, height) only that part."""
    whole = path if box is None else path + ".full.png"
    subprocess.run([IMPORT, "-window", "root", whole], check=True, capture_output=True)
    if box is not None:
        x, y, w, h = box
        x, y = max(0, x - margin), max(0, y - margin)
        subprocess.run([CONVERT, whole, "-crop", "%dx%d+%d+%d" % (w + 2 * margin, h + 2 * margin,
                                                                   x, y), "+repage", path],
                       check=True, capture_output=True)
        os.remove(whole)
    return path
