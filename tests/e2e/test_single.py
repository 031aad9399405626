"""The single environment check run whole: `-m single -p P -h H` on two fresh
folders, its report compared byte for byte with the one the plan gives
(single_report.py), its exit status, and the folders left empty; on the
console, into a log file, in Japanese, eight runs at once, with a leftover
check file, and interrupted by SIGINT at chosen moments.

Under Wine (ZARN_RUNNER "wine") the same runs expect what Wine 8 makes of
the paired lock sequence: a waiting lock request that cannot be granted at
once stays queued for ever while its zeroed record reads as done, so the
first group whose request has to wait (60 on the -h folder, 70 on the -p
folder) takes it as granted and its unlock of the partner's file then fails
with 33; that participant's sequence ends with 1 and the run is NG.
"""

import fcntl
import os
import re
import signal
import subprocess
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import single_report  # noqa: E402
import zarnrun  # noqa: E402
from single_report import MESSAGES, SingleRun, Normalised  # noqa: E402
from zarnrun import TempFolder  # noqa: E402

WINE = zarnrun.UNDER_WINE
SEP = "\\" if WINE else "/"
TIMEOUT = ["-t", "10"]  # bounds every wait of a run that goes wrong
F_SETPIPE_SZ = 1031
F_GETPIPE_SZ = 1032


def arguments(share, target, *extra):
    return ["-m", "single", "-p", target, "-h", share] + TIMEOUT + list(extra)


def command(share, target, *extra):
    return zarnrun.RUNNER + [zarnrun.EXE] + arguments(share, target, *extra)


def pid_in(raw):
    """The process id in the check-file names of a report."""
    match = re.search(rb"\.#ZARLOCK\.[^.()]+\.(\d+)\.", raw)
    if match is None:
        raise AssertionError("no check-file name in %r" % raw[-300:])
    return int(match.group(1))


def start(argv, lang=None, env_extra=None, **kwargs):
    zarnrun.require_exe()
    kwargs.setdefault("stdout", subprocess.PIPE)
    return subprocess.Popen(argv, stdin=subprocess.DEVNULL, stderr=subprocess.PIPE,
                            env=zarnrun.environment(lang, env_extra), **kwargs)


# Makes every positional write wait three seconds before it is made.
SLOW_PWRITE_SOURCE = b"""
#define _GNU_SOURCE
#include <dlfcn.h>
#include <sys/types.h>
#include <unistd.h>

static ssize_t slow(const char* name, int fd, const void* data, size_t size, off_t offset) {
  ssize_t (*real)(int, const void*, size_t, off_t) = dlsym(RTLD_NEXT, name);
  sleep(3);
  return real(fd, data, size, offset);
}
ssize_t pwrite(int fd, const void* d, size_t n, off_t o) { return slow("pwrite", fd, d, n, o); }
ssize_t pwrite64(int fd, const void* d, size_t n, off_t o) { return slow("pwrite64", fd, d, n, o); }
"""


class OutputReader:
    """Collects a running tool's standard output on a thread of its own."""

    def __init__(self, stream):
        self.data = b""
        self._lock = threading.Lock()
        self._thread = threading.Thread(target=self._read, args=(stream,), daemon=True)
        self._thread.start()

    def _read(self, stream):
        for chunk in iter(lambda: stream.read1(4096), b""):
            with self._lock:
                self.data += chunk

    def text(self):
        with self._lock:
            return self.data.decode("utf-8", "replace")

    def wait_for(self, needle, proc, limit=60):
        """Waits until `needle` has been printed; fails if the tool ends first."""
        end = time.monotonic() + limit
        while needle not in self.text():
            if proc.poll() is not None or time.monotonic() > end:
                raise AssertionError("never printed %r; status %r; output:\n%s"
                                     % (needle, proc.poll(), self.text()))
            time.sleep(0.01)

    def join(self):
        self._thread.join(30)
        return self.data


def progress(msg_id):
    return "        %s\r\n" % MESSAGES[msg_id][0]


class SingleCase(unittest.TestCase):
    def setUp(self):
        self.tmp = TempFolder()
        self.addCleanup(self.tmp.remove)
        self.share = self.tmp.mkdir("H")
        self.target = self.tmp.mkdir("P")
        self.host = single_report.host_name()

    def expected(self, **kwargs):
        return SingleRun(self.share, self.target, SEP, wine=WINE, **kwargs)

    def assertReport(self, expected, raw, japanese=False):
        got = Normalised(raw, japanese=japanese, wine=WINE)
        self.assertEqual(expected.lines, got.lines)
        self.assertEqual({self.host}, got.hosts)
        self.assertEqual(1, len(got.pids), got.pids)
        # The main thread reports the sequence's files its own pass deleted.
        for line in got.deleted_after_sequence:
            self.assertRegex(line, r"\.#ZARLOCK\.HOST\.PID\.[01]\)\r\n$")
        self.assertEqual(len(got.deleted_after_sequence), len(set(got.deleted_after_sequence)))
        return got

    def assertFoldersEmpty(self):
        self.assertEqual([], self.tmp.entries("H"))
        self.assertEqual([], self.tmp.entries("P"))


class WholeRunTest(SingleCase):
    def test_console_report(self):
        result = zarnrun.run(arguments(self.share, self.target))
        expected = self.expected()
        self.assertReport(expected, result.stdout)
        self.assertEqual(b"", result.stderr)
        self.assertEqual(expected.status, result.status)
        self.assertFoldersEmpty()

    def test_log_file_receives_the_report_after_earlier_text(self):
        logs = TempFolder()
        self.addCleanup(logs.remove)
        log = logs.write("single.log", b"earlier text\r\n")
        result = zarnrun.run(arguments(self.share, self.target, "-o", log))
        self.assertEqual(b"", result.stdout)
        with open(log, "rb") as f:
            content = f.read()
        self.assertTrue(content.startswith(b"earlier text\r\n"), content[:40])
        expected = self.expected()
        self.assertReport(expected, content[len(b"earlier text\r\n"):])
        self.assertEqual(expected.status, result.status)
        self.assertFoldersEmpty()

    def test_japanese_report(self):
        if b"ja_JP.utf8" not in subprocess.run(["locale", "-a"], capture_output=True).stdout:
            subprocess.run(["localedef", "-i", "ja_JP", "-f", "UTF-8", "ja_JP.UTF-8"], check=True)
        result = zarnrun.run(arguments(self.share, self.target), lang="ja_JP.UTF-8")
        expected = self.expected(japanese=True)
        self.assertReport(expected, result.stdout, japanese=True)
        self.assertEqual(expected.status, result.status)
        self.assertFoldersEmpty()

    def test_eight_runs_at_once_share_the_folders(self):
        procs = [start(command(self.share, self.target)) for _ in range(8)]
        outputs = [p.communicate(timeout=600) for p in procs]
        expected = self.expected()
        pids = set()
        for proc, (out, err) in zip(procs, outputs):
            self.assertEqual(b"", err)
            got = self.assertReport(expected, out)
            pids |= got.pids
            self.assertEqual(expected.status, proc.returncode)
        self.assertEqual(8, len(pids))
        self.assertFoldersEmpty()

    def test_leftover_check_file_in_the_path_to_be_checked(self):
        proc = start(command(self.share, self.target))
        reader = OutputReader(proc.stdout)
        # The -h folder's tests run for more than a second before the -p
        # folder's open test; the process id is in the first file name.
        reader.wait_for(".#ZARLOCK.", proc)
        pid = pid_in(reader.data)
        self.assertNotIn(MESSAGES[21][0], reader.text())
        leftover = os.path.join(self.target, ".#ZARLOCK.%s.%s.0" % (self.host, pid))
        with open(leftover, "wb") as f:
            f.write(b"left behind")
        proc.wait(600)
        expected = self.expected(leftover=True)
        self.assertReport(expected, reader.join())
        self.assertEqual(255, proc.returncode)
        self.assertFoldersEmpty()


@unittest.skipIf(WINE, "console signals are a test of the POSIX build")
class InterruptTest(SingleCase):
    """SIGINT at chosen moments: the console handler releases what the
    running test holds and the process ends by the signal, leaving no check
    file and no synchronisation file behind."""

    def assertEndedBySigint(self, proc):
        proc.wait(60)
        self.assertEqual(-signal.SIGINT, proc.returncode)
        self.assertFoldersEmpty()

    def test_during_the_open_test(self):
        # Standard output is a pipe of one page that this test fills in
        # advance, so that the tool blocks writing the finish line of the
        # creation case: the check file then exists and is closed, and only
        # the handler's deletion pass can remove it.
        read_end, write_end = os.pipe()
        self.addCleanup(os.close, read_end)
        fcntl.fcntl(read_end, F_SETPIPE_SZ, 4096)
        self.assertEqual(4096, fcntl.fcntl(read_end, F_GETPIPE_SZ))
        gate = ["/bin/sh", "-c", 'read go && exec "$@"', "sh"]
        proc = subprocess.Popen(gate + command(self.share, self.target), stdin=subprocess.PIPE,
                                stdout=write_end, stderr=subprocess.DEVNULL,
                                env=zarnrun.environment())
        before = self.expected().lines[:5]  # up to "The file will now be opened." of case 54
        before = [line.replace("HOST.PID", "%s.%d" % (self.host, proc.pid)) for line in before]
        os.write(write_end, b"\0" * (4096 - len("".join(before).encode())))
        proc.stdin.write(b"go\n")
        proc.stdin.close()
        check_file = os.path.join(self.share, ".#ZARLOCK.%s.%d.0" % (self.host, proc.pid))
        self.wait_until(lambda: os.path.exists(check_file) and self.blocked_in_write(proc.pid))
        os.kill(proc.pid, signal.SIGINT)
        self.assertEndedBySigint(proc)
        os.close(write_end)
        printed = b"".join(iter(lambda: os.read(read_end, 4096), b"")).lstrip(b"\0")
        self.assertEqual("".join(before).encode(), printed)

    def test_while_both_threads_wait_at_a_rendezvous(self):
        proc = start(command(self.share, self.target))
        reader = OutputReader(proc.stdout)
        reader.wait_for(MESSAGES[86][0].split("(")[0], proc)
        # Hold the guard byte of the master file: every rendezvous of both
        # threads now waits for it.
        master = [n for n in self.tmp.entries("H") if n.endswith(".master")]
        self.assertEqual(1, len(master), master)
        fd = os.open(os.path.join(self.share, master[0]), os.O_RDWR)
        self.addCleanup(os.close, fd)
        self.wait_until(lambda: self.try_lock_byte(fd, 0))
        # The main thread ends up waiting for the guard as it enters a
        # rendezvous (109), inside one as its first arrival (82), or for the
        # partner to leave the previous one (80); the partner thread, which
        # prints nothing, waits likewise.
        waiting = (progress(109), progress(82), progress(80))

        def settled():
            printed = reader.text()
            time.sleep(0.5)  # five polls: a thread that could go on would have printed
            return printed == reader.text() and printed.endswith(waiting)
        self.wait_until(settled)
        printed = reader.text()
        # Inside the first paired lock sequence: its files are open, and the
        # lock test has not finished.
        self.assertNotIn(MESSAGES[1][0] % (4, "", MESSAGES[71][0], "OK"), printed)
        self.assertEqual(2, len(self.tmp.entries("H")) - 1)
        os.kill(proc.pid, signal.SIGINT)
        self.assertEndedBySigint(proc)

    def test_during_the_read_and_write_test(self):
        # A preloaded wrapper holds the tool's one positional write (the
        # test data) for three seconds: the window in which the signal
        # arrives.  The handler's clean-up waits for the write to return;
        # the test thread, going on meanwhile, must create nothing that
        # would then be left behind.
        shim = self.slow_write_shim()
        proc = start(command(self.share, self.target),
                     env_extra={"LD_PRELOAD": shim, "ASAN_OPTIONS": "verify_asan_link_order=0"})
        reader = OutputReader(proc.stdout)
        reader.wait_for(progress(9), proc)
        time.sleep(0.2)
        self.assertTrue(reader.text().endswith(progress(9)), reader.text()[-500:])
        check_file = os.path.join(self.target, ".#ZARLOCK.%s.%d.0" % (self.host, proc.pid))
        self.assertTrue(os.path.exists(check_file))
        os.kill(proc.pid, signal.SIGINT)
        self.assertEndedBySigint(proc)

    def slow_write_shim(self):
        build = TempFolder()
        self.addCleanup(build.remove)
        source = build.write("slow_pwrite.c", SLOW_PWRITE_SOURCE)
        shim = build.join("slow_pwrite.so")
        made = subprocess.run(["cc", "-shared", "-fPIC", "-o", shim, source, "-ldl"],
                              capture_output=True)
        if made.returncode != 0:
            self.skipTest("no C compiler for the write shim: %r" % made.stderr[-200:])
        return shim

    # Helpers.

    def wait_until(self, condition, limit=60):
        end = time.monotonic() + limit
        while not condition():
            self.assertLess(time.monotonic(), end, "condition never met")
            time.sleep(0.01)

    @staticmethod
    def blocked_in_write(pid):
        try:
            with open("/proc/%d/syscall" % pid) as f:
                return f.read().split()[0] == "1"  # write(2) on x86-64
        except OSError:
            return False

    @staticmethod
    def try_lock_byte(fd, offset):
        try:
            fcntl.lockf(fd, fcntl.LOCK_EX | fcntl.LOCK_NB, 1, offset, os.SEEK_SET)
            return True
        except OSError:
            return False


if __name__ == "__main__":
    unittest.main()
