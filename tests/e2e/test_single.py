"""The single environment check run whole (`-m single -p P -h H -t 10` on two
fresh folders): its report compared byte for byte with a golden file, its
exit status, and the folders left empty; on the console, into a log file,
in Japanese, eight runs at once, with a leftover check file, and interrupted
by SIGINT at chosen moments.

The golden files, expected/single[.wine].LANG.txt, hold one report line per
line (CR LF on output) with placeholders for what changes between runs: <H>
and <P> the folders, <HOST> and <PID> in check-file names, <ROLE> and <OTHER>
the numbers of the main thread's and the partner's file in a paired lock
sequence.  The normaliser drops the synchronisation lines that only the first
or only the second party to arrive prints, and the "file deleted" lines of a
sequence's clean-up (the main thread reports the files its own pass deleted).

Under Wine 8 a waiting lock request that cannot be granted at once stays
queued for ever while its zeroed record reads as done: the first group whose
request has to wait (60 on the -h folder, 70 on the -p folder) takes it as
granted, its unlock of the partner's file fails with 33, that participant's
sequence ends with 1 and the run is NG.
"""

import fcntl
import os
import re
import signal
import socket
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import zarnrun  # noqa: E402
from zarnrun import TempFolder  # noqa: E402

WINE = zarnrun.UNDER_WINE
HOST = socket.gethostname()
EXPECTED = os.path.join(os.path.dirname(os.path.abspath(__file__)), "expected")

# Catalogue texts the normaliser looks for: the lines that only one arrival
# order prints (43, 77, 79, 80, 82, 107), then 100, 11, 41 and 86.
TEXTS = {
    "en": {"timing": ("A termination synchronization file will now be created.",
                      "Synchronization information has already been set for the remote host.",
                      "The system waits until processing of the remote host ends.",
                      "The processing state of the remote host will now be checked.",
                      "Wait until synchronization information of the remote host is set.",
                      "Synchronization information will now be reset."),
           "finish": "Termination processing for synchronization will now start.",
           "deleted": "The file was deleted. (",
           "own": "A file of the process on this host will now be opened. (",
           "partner": "A file in the partner process will now be opened. ("},
    "ja": {"timing": ("終了同期ファイルを作成します。", "相手が既に同期情報を設定済みです。",
                      "相手の処理が終了するまで待機します。", "相手の処理状況を確認します。",
                      "相手の同期情報が設定されるまで待機します。", "同期情報を再設定します。"),
           "finish": "同期終了処理を開始します。",
           "deleted": "ファイルを削除しました。(",
           "own": "自プロセスのファイルをオープンします。(",
           "partner": "対向プロセスのファイルをオープンします。("},
}


def golden(name):
    """The lines of expected/single[.wine].NAME.txt, each ending in CR LF."""
    path = os.path.join(EXPECTED, "single%s.%s.txt" % (".wine" if WINE else "", name))
    with open(path, encoding="utf-8", newline="\n") as f:
        return [line[:-1] + "\r\n" for line in f]


def with_leftover(lines):
    """The report when the -p folder already holds a file named like its check file."""
    block = golden("leftover.en")  # the -p folder's open test, ended after case 54
    start = lines.index(block[0], lines.index(block[0]) + 1)
    end = lines.index(block[-1].replace("[ NG ]", "[ OK ]"), start) + 1
    return lines[:start] + block + lines[end:-2] + [
        line.replace("[ OK ]", "[ NG ]") for line in lines[-2:]]  # check target and operation


def normalise(raw, share, target, lang):
    """A run's report as golden lines, the process ids in it, and the dropped
    deletion lines, each as (number of processing types begun so far, line).

    The two files of a paired test are numbered by role, which the order of
    arrival decides: <ROLE> and <OTHER>.  Which party deletes them depends on
    timing too: the deletions in a paired lock sequence's clean-up, and every
    deletion of a file of the mutual phase (named by role alone), are dropped."""
    text = raw.decode("cp932" if WINE and lang == "ja" else "utf-8")
    text = text.replace(share, "<H>").replace(target, "<P>")
    pids = set(re.findall(r"\.#ZARLOCK\.%s\.(\d+)\." % re.escape(HOST), text))
    text = re.sub(r"\.#ZARLOCK\.%s\.\d+\." % re.escape(HOST), ".#ZARLOCK.<HOST>.<PID>.", text)
    t = TEXTS[lang]
    timing = {"        %s\r\n" % entry for entry in t["timing"]}
    lines, deleted, role, in_finish, types = [], [], -1, False, 0
    for line in text.splitlines(keepends=True):
        body = line[8:]
        number = re.search(r"\.#ZARLOCK\.(?:<HOST>\.<PID>\.)?([01])\)\r\n$", line)
        mutual = re.search(r"[\\/]\.#ZARLOCK\.[01]\)\r\n$", line)
        if line in timing:
            continue
        if re.match(r" {4}\S", line) and not line.endswith(("[ OK ]\r\n", "[ NG ]\r\n")):
            types += 1
        if body.startswith(t["own"]) and number:
            role = int(number.group(1))
            line = line[:number.start(1)] + "<ROLE>)\r\n"
        elif body.startswith(t["partner"]) and number and int(number.group(1)) == 1 - role:
            line = line[:number.start(1)] + "<OTHER>)\r\n"
        in_finish = body.startswith(t["finish"]) or in_finish and line.startswith(" " * 8)
        if (in_finish or mutual) and body.startswith(t["deleted"]):
            deleted.append((types, line))
            continue
        lines.append(line)
    return lines, pids, deleted


class SingleCase(unittest.TestCase):
    maxDiff = None

    def setUp(self):
        self.tmp = TempFolder()
        self.addCleanup(self.tmp.remove)
        self.share = self.tmp.mkdir("H")
        self.target = self.tmp.mkdir("P")
        self.status = zarnrun.FAILED if WINE else 0

    def arguments(self, *extra):
        return ["-m", "single", "-p", self.target, "-h", self.share, "-t", "10"] + list(extra)

    def command(self):
        return zarnrun.RUNNER + [zarnrun.EXE] + self.arguments()

    def start(self, stdout, env=None):
        zarnrun.require_exe()
        proc = subprocess.Popen(self.command(), stdin=subprocess.DEVNULL, stdout=stdout,
                                stderr=subprocess.PIPE, env=zarnrun.environment(extra=env))
        self.addCleanup(proc.stderr.close)
        return proc

    def assertReport(self, expected, raw, lang="en"):
        lines, pids, deleted = normalise(raw, self.share, self.target, lang)
        self.assertEqual(expected, lines)
        self.assertEqual(1, len(pids), pids)
        for _, line in deleted:  # each of the sequence's two files, at most once
            self.assertRegex(line, r"\.<PID>\.[01]\)\r\n$")
        self.assertEqual(len(deleted), len(set(deleted)))
        return pids

    # Helpers for runs watched while they go on: standard output into a file.

    def report_file(self):
        out = open(self.tmp.join("report.txt"), "wb")  # the folder is not one under test
        self.addCleanup(out.close)
        return out

    def read(self, out):
        with open(out.name, "rb") as f:
            return f.read()

    def wait_for(self, out, needle, proc, limit=60):
        """The output once `needle` is in it; fails if the tool ends first."""
        end = time.monotonic() + limit
        while needle not in self.read(out).decode("utf-8", "replace"):
            if proc.poll() is not None or time.monotonic() > end:
                self.fail("never printed %r; status %r" % (needle, proc.poll()))
            time.sleep(0.01)
        return self.read(out).decode("utf-8", "replace")

    def wait_until(self, condition, limit=60):
        end = time.monotonic() + limit
        while not condition():
            self.assertLess(time.monotonic(), end, "condition never met")
            time.sleep(0.01)

    def assertFoldersEmpty(self):
        self.assertEqual([], self.tmp.entries("H"))
        self.assertEqual([], self.tmp.entries("P"))


class WholeRunTest(SingleCase):
    def test_console_report(self):
        result = zarnrun.run(self.arguments())
        self.assertReport(golden("en"), result.stdout)
        self.assertEqual((self.status, b""), (result.status, result.stderr))
        self.assertFoldersEmpty()

    def test_log_file_receives_the_report_after_earlier_text(self):
        log = self.tmp.write("single.log", b"earlier text\r\n")
        result = zarnrun.run(self.arguments("-o", log))
        self.assertEqual((self.status, b""), (result.status, result.stdout))
        with open(log, "rb") as f:
            earlier, content = f.read(14), f.read()
        self.assertEqual(b"earlier text\r\n", earlier)
        self.assertReport(golden("en"), content)
        self.assertFoldersEmpty()

    def test_japanese_report(self):
        if b"ja_JP.utf8" not in subprocess.run(["locale", "-a"], capture_output=True).stdout:
            subprocess.run(["localedef", "-i", "ja_JP", "-f", "UTF-8", "ja_JP.UTF-8"], check=True)
        result = zarnrun.run(self.arguments(), lang="ja_JP.UTF-8")
        self.assertReport(golden("ja"), result.stdout, "ja")
        self.assertEqual(self.status, result.status)
        self.assertFoldersEmpty()

    def test_reader_of_the_report_goes_away(self):
        # As `zarntwchk ... | head -5`: every later line fails to be written,
        # and the run still ends with its verdict and its clean-up.
        proc = self.start(subprocess.PIPE)
        for _ in range(5):
            proc.stdout.readline()
        proc.stdout.close()
        proc.stdout = None
        self.assertEqual((None, b""), proc.communicate(timeout=600))
        self.assertEqual(self.status, proc.returncode)
        self.assertFoldersEmpty()

    def test_eight_runs_at_once_share_the_folders(self):
        procs = [self.start(subprocess.PIPE) for _ in range(8)]
        pids = set()
        for proc in procs:
            out, err = proc.communicate(timeout=600)
            pids |= self.assertReport(golden("en"), out)
            self.assertEqual((self.status, b""), (proc.returncode, err))
        self.assertEqual(8, len(pids))
        self.assertFoldersEmpty()

    def test_leftover_check_file_in_the_path_to_be_checked(self):
        out = self.report_file()
        proc = self.start(out)
        # The -h folder's tests run for more than a second before the -p
        # folder's open test; the process id is in the first file name.
        printed = self.wait_for(out, ".#ZARLOCK.", proc)
        self.assertNotIn('Check target "Test for the path to be checked"', printed)
        pid = re.search(r"\.#ZARLOCK\.%s\.(\d+)\." % re.escape(HOST), printed).group(1)
        with open(os.path.join(self.target, ".#ZARLOCK.%s.%s.0" % (HOST, pid)), "wb") as f:
            f.write(b"left behind")
        self.assertEqual(b"", proc.communicate(timeout=600)[1])
        self.assertEqual(zarnrun.FAILED, proc.returncode)
        self.assertReport(with_leftover(golden("en")), self.read(out))
        self.assertFoldersEmpty()


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


@unittest.skipIf(WINE, "console signals are a test of the POSIX build")
class InterruptTest(SingleCase):
    """SIGINT at chosen moments: the console handler releases what the
    running test holds and the process ends by the signal, leaving no check
    file and no synchronisation file behind."""

    def interrupt(self, proc):
        os.kill(proc.pid, signal.SIGINT)
        self.assertEqual(-signal.SIGINT, proc.wait(60))
        self.assertFoldersEmpty()

    def test_during_the_open_test(self):
        # Standard output is a pipe of one page that this test fills in
        # advance, so that the tool blocks writing the finish line of the
        # creation case: the check file then exists and is closed, and only
        # the handler's deletion pass can remove it.
        read_end, write_end = os.pipe()
        self.addCleanup(os.close, read_end)
        fcntl.fcntl(read_end, 1031, 4096)  # F_SETPIPE_SZ
        self.assertEqual(4096, fcntl.fcntl(read_end, 1032))  # F_GETPIPE_SZ
        gate = ["/bin/sh", "-c", 'read go && exec "$@"', "sh"]
        proc = subprocess.Popen(gate + self.command(), stdin=subprocess.PIPE, stdout=write_end,
                                stderr=subprocess.DEVNULL, env=zarnrun.environment())
        # Up to "The file will now be opened." of case 54.
        before = "".join(golden("en")[:5]).replace("<HOST>.<PID>", "%s.%d" % (HOST, proc.pid))
        before = before.replace("<H>", self.share).encode()
        os.write(write_end, b"\0" * (4096 - len(before)))
        proc.stdin.write(b"go\n")
        proc.stdin.close()
        check_file = os.path.join(self.share, ".#ZARLOCK.%s.%d.0" % (HOST, proc.pid))
        self.wait_until(lambda: os.path.exists(check_file) and self.blocked_in_write(proc.pid))
        self.interrupt(proc)
        os.close(write_end)
        printed = b"".join(iter(lambda: os.read(read_end, 4096), b"")).lstrip(b"\0")
        self.assertEqual(before, printed)

    def test_while_both_threads_wait_at_a_rendezvous(self):
        out = self.report_file()
        proc = self.start(out)
        self.wait_for(out, "A file in the partner process will now be opened.", proc)
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
        waiting = tuple("        %s\r\n" % text for text in (
            "Pre-processing for synchronization will now be executed.",
            "Wait until synchronization information of the remote host is set.",
            "The processing state of the remote host will now be checked."))

        def settled():
            printed = self.read(out)
            time.sleep(0.5)  # five polls: a thread that could go on would have printed
            return printed == self.read(out) and printed.decode().endswith(waiting)
        self.wait_until(settled)
        # Inside the first paired lock sequence: its files are open, and the
        # lock test has not finished.
        self.assertNotIn(b'"Byte range locking" finished', self.read(out))
        self.assertEqual(2, len(self.tmp.entries("H")) - 1)
        self.interrupt(proc)

    def test_during_the_read_and_write_test(self):
        # A preloaded wrapper holds the tool's one positional write (the
        # test data) for three seconds: the window in which the signal
        # arrives.  The handler's clean-up waits for the write to return;
        # the test thread, going on meanwhile, must create nothing that
        # would then be left behind.
        source = self.tmp.write("slow_pwrite.c", SLOW_PWRITE_SOURCE)
        shim = self.tmp.join("slow_pwrite.so")
        made = subprocess.run(["cc", "-shared", "-fPIC", "-o", shim, source, "-ldl"],
                              capture_output=True)
        if made.returncode != 0:
            self.skipTest("no C compiler for the write shim: %r" % made.stderr[-200:])
        out = self.report_file()
        proc = self.start(out, {"LD_PRELOAD": shim, "ASAN_OPTIONS": "verify_asan_link_order=0"})
        writing = "        Data will now be written to the file.\r\n"
        self.wait_for(out, writing, proc)
        time.sleep(0.2)
        self.assertTrue(self.read(out).decode().endswith(writing))
        self.assertTrue(os.path.exists(
            os.path.join(self.target, ".#ZARLOCK.%s.%d.0" % (HOST, proc.pid))))
        self.interrupt(proc)

    @staticmethod
    def blocked_in_write(pid):
        with open("/proc/%d/syscall" % pid) as f:
            return f.read().split()[0] == "1"  # write(2) on x86-64

    @staticmethod
    def try_lock_byte(fd, offset):
        try:
            fcntl.lockf(fd, fcntl.LOCK_EX | fcntl.LOCK_NB, 1, offset, os.SEEK_SET)
            return True
        except OSError:
            return False


if __name__ == "__main__":
    unittest.main()
