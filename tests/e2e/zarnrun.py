"""Running zarntwchk from the end-to-end tests.

ZARN_EXE names the tool; ZARN_RUNNER ("wine" for the Windows build, else
empty) is put in front of it.  Wine takes the Linux paths of the tests as
they are (an absolute path lands on drive Z:, the whole file system), so no
path is converted.  Under Wine the process locale comes from the locale
variables as well (ja_JP.UTF-8 gives locale 1041 and code page 932).
"""

import os
import shutil
import signal
import stat
import subprocess
import tempfile
from collections import namedtuple

EXE = os.environ.get("ZARN_EXE", "")
RUNNER = os.environ.get("ZARN_RUNNER", "").split()
UNDER_WINE = bool(RUNNER) and os.path.basename(RUNNER[0]).startswith("wine")
IS_ROOT = hasattr(os, "geteuid") and os.geteuid() == 0

# Exit status -1 as a POSIX parent sees it (Wine passes 0xFFFFFFFF on as 255).
FAILED = 255

Result = namedtuple("Result", "status stdout stderr")


def require_exe():
    """Raises when the tool is not there: a suite that runs nothing must not pass."""
    if not EXE or not os.path.isfile(EXE):
        raise RuntimeError("ZARN_EXE does not name the built tool: %r" % EXE)


# What a run of the tool keeps of the caller's environment: where programs,
# the home folder, temporary files and the Wine prefix are, and the
# sanitizers' settings of the preset.  Nothing else reaches the tool: a
# stray LC_CTYPE (Python itself puts one there when LANG is missing) would
# choose Wine's code page, a WINEDEBUG channel would write to standard error.
KEPT = ("PATH", "HOME", "TMPDIR", "LD_LIBRARY_PATH", "WINEPREFIX", "WINEARCH", "WINESERVER",
        "WINELOADER", "ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS", "LSAN_OPTIONS")


def environment(lang=None, extra=None):
    """The whole environment of one run: the locale `lang` (C.UTF-8 when
    None) for every category, and what KEPT names."""
    env = {name: os.environ[name] for name in KEPT if name in os.environ}
    env["LANG"] = env["LC_ALL"] = lang or "C.UTF-8"
    if UNDER_WINE:
        env["WINEDEBUG"] = "-all"
    if extra:
        env.update(extra)
    return env


def run(args, lang=None, cwd=None, timeout=600, env=None):
    """Runs the tool with `args` (strings) and returns its status and output bytes."""
    require_exe()
    proc = subprocess.run(RUNNER + [EXE] + list(args), stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=cwd,
                          env=environment(lang, env), timeout=timeout)
    return Result(proc.returncode, proc.stdout, proc.stderr)


def default_signals():
    """For preexec_fn: a background job of a non-interactive shell starts with
    SIGINT ignored, and the tool keeps a signal ignored at its start ignored."""
    signal.signal(signal.SIGINT, signal.SIG_DFL)
    signal.signal(signal.SIGTERM, signal.SIG_DFL)


def ansi(text):
    """The bytes the tool prints for `text`: code page 932 under Wine, UTF-8 natively."""
    return text.encode("cp932" if UNDER_WINE else "utf-8")


class TempFolder:
    """A fresh folder, removed with everything in it, read-only entries too."""

    def __init__(self):
        self.path = tempfile.mkdtemp(prefix="zarn-e2e-")

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.remove()

    def join(self, *names):
        return os.path.join(self.path, *names)

    def mkdir(self, *names):
        path = self.join(*names)
        os.makedirs(path, exist_ok=True)
        return path

    def write(self, name, data=b""):
        path = self.join(name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def entries(self, *names):
        return sorted(os.listdir(self.join(*names)))

    def remove(self):
        for root, dirs, _ in os.walk(self.path):
            for name in dirs:
                path = os.path.join(root, name)
                if not os.path.islink(path):
                    os.chmod(path, os.stat(path).st_mode | stat.S_IWUSR | stat.S_IXUSR)
        shutil.rmtree(self.path, ignore_errors=True)


def make_read_only(path):
    """Clears every write bit: the read-only attribute, as the tool sees it."""
    mode = os.stat(path).st_mode
    os.chmod(path, mode & ~(stat.S_IWUSR | stat.S_IWGRP | stat.S_IWOTH))
