"""The single environment check run whole (`-m single -p P -h H -t 10` on two
fresh folders): its report compared byte for byte with a golden file, its
exit status, and the folders left empty; nine runs at once on the console,
into a log file, in Japanese and to a reader that goes away, and runs
interrupted by SIGINT at chosen moments.  (A leftover check file is the
first phase of a pair's run in test_double.py: with_leftover.)

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
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import zarnrun  # noqa: E402
from test_unkind import SHIM, faults  # noqa: E402
from zarnrun import HOST, PID_IN_NAME, read, wait_until  # noqa: E402

WINE = zarnrun.UNDER_WINE


def golden(name):
    """The lines of expected/single[.wine].NAME.txt."""
    return zarnrun.golden("single%s.%s" % (".wine" if WINE else "", name))


def with_leftover(lines):
    """The report when the -p folder already holds a file named like its check file."""
    block = golden("leftover.en")  # the -p folder's open test, ended after case 54
    start = lines.index(block[0], lines.index(block[0]) + 1)
    end = lines.index(block[-1].replace("[ NG ]", "[ OK ]"), start) + 1
    return lines[:start] + block + lines[end:-2] + [
        line.replace("[ OK ]", "[ NG ]") for line in lines[-2:]]  # check target and operation


class SingleCase(zarnrun.Case):
    status = zarnrun.FAILED if WINE else 0  # of a run on sound folders

    def start_into_file(self, env=None):
        """The tool started with its standard output in a file; the file's name."""
        out = self.tmp.join("report.txt")  # the folder is not one under test
        with open(out, "wb") as f:
            return zarnrun.start(self, self.single(), f, env=env), out

    def wait_for(self, out, needle, proc):
        """Waits until `needle` is in the output; fails if the tool ends first."""
        wait_until(lambda: needle in read(out).decode() or proc.poll() is not None, needle)
        self.assertIsNone(proc.poll(), "ended before printing %r" % needle)


class WholeRunTest(SingleCase):
    def test_nine_runs_at_once(self):
        # Five on the console, one in Japanese, each printing its own whole
        # report, and two appending to one log file after earlier text, one
        # of them through a symbolic link to it: every line of both there,
        # whole, however their lines meet; all on shared folders.  Two on
        # the console also write a JSON report, English in both.  The ninth
        # prints to a reader that goes away after five lines, as
        # `zarntwchk ... | head -5`: every later line fails to be written,
        # and the run still ends with its verdict and its clean-up.
        if b"ja_JP.utf8" not in subprocess.run(["locale", "-a"], capture_output=True).stdout:
            subprocess.run(["localedef", "-i", "ja_JP", "-f", "UTF-8", "ja_JP.UTF-8"], check=True)
        log = self.tmp.write("single.log", b"earlier text\r\n")
        link = self.tmp.join("link.log")
        os.symlink(log, link)
        documents = {lang: self.tmp.join("single.%s.json" % lang) for lang in ("ja", "en")}
        runs = [("en", [])] * 4 + [("en", ["-j", documents["en"]]), ("ja", ["-j", documents["ja"]]),
                                   ("en", ["-o", log]), ("en", ["-o", link])]
        procs = [zarnrun.start(self, self.single(*extra), subprocess.PIPE,
                               lang="ja_JP.UTF-8" if lang == "ja" else None)
                 for lang, extra in runs]
        gone = zarnrun.start(self, self.single(), subprocess.PIPE)
        for _ in range(5):
            gone.stdout.readline()
        gone.stdout.close()
        gone.stdout = None
        self.assertEqual((None, b""), gone.communicate(timeout=600))
        self.assertEqual(self.status, gone.returncode)
        pids, groups = set(), {}
        for (lang, extra), proc in zip(runs, procs):
            out, err = proc.communicate(timeout=600)
            self.assertEqual((self.status, b""), (proc.returncode, err))
            if "-o" in extra:
                self.assertEqual(b"", out)
                continue
            new, deleted = self.assertReport(out, golden(lang), lang)
            pids |= new
            # The deletions at the end of a paired lock sequence: each of its two files at most once.
            self.assertTrue(all(re.search(r"\.<PID>\.[01]\)\r\n$", line) for _, line in deleted))
            self.assertEqual(len(deleted), len(set(deleted)))
            if "-j" in extra:
                text = out.decode("cp932" if WINE and lang == "ja" else "utf-8")
                doc = zarnrun.assert_json_report(self, documents[lang], text,
                                                 self.single(*extra), self.status, lang)
                groups[lang] = zarnrun.json_groups(doc["groups"])
        self.assertEqual(groups["en"], groups["ja"])
        self.assertEqual(b"earlier text\r\n", read(log)[:14])
        # The log of two runs, line by line in any order: each line whole,
        # each group line there twice.
        raw = read(log)[14:].decode()
        pids |= set(re.findall(PID_IN_NAME, raw))
        lines = re.sub(PID_IN_NAME, ".#ZARLOCK.<HOST>.<PID>.",
                       raw.replace(self.share, "<H>").replace(self.target, "<P>"))
        lines = lines.splitlines(keepends=True)
        expected = golden("en")
        # Either file of a paired lock sequence, by role or deleted at its end.
        whole = {re.sub(r"<ROLE>|<OTHER>|(?<=<PID>\.)0(?=\)\r\n)", digit, line)
                 for line in expected for digit in "01"}
        whole |= {"        %s\r\n" % text for text in zarnrun.TEXTS["en"]["timing"]}
        self.assertEqual([], [line for line in lines if line not in whole])
        groups = [line for line in expected if re.match(r" *Test ", line)]
        self.assertEqual(sorted(groups * 2), sorted(line for line in lines if line in groups))
        self.assertEqual(8, len(pids))
        self.assertFoldersEmpty()
        # A character device is a log file too, as NUL is on Windows.
        self.assertEqual((self.status, b"", b""), zarnrun.run(self.single("-o", "/dev/null")))


@unittest.skipIf(WINE or not SHIM, "the fault shim and the console signals belong to the POSIX build")
class InterruptTest(SingleCase):
    """SIGINT at chosen moments: the console handler releases what the
    running test holds and the process ends by the signal, leaving no check
    file and no synchronisation file behind."""

    def interrupt(self, proc):
        proc.send_signal(signal.SIGINT)
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
        gate = ["/bin/sh", "-c", 'read go && exec "$@"', "sh"] + zarnrun.RUNNER + [zarnrun.EXE]
        proc = zarnrun.start(self, self.single(), write_end, subprocess.DEVNULL,
                             stdin=subprocess.PIPE, program=gate)
        # Up to "The file will now be opened." of case 54.
        before = "".join(golden("en")[:5]).replace("<HOST>.<PID>", "%s.%d" % (HOST, proc.pid))
        before = before.replace("<H>", self.share).encode()
        os.write(write_end, b"\0" * (4096 - len(before)))
        proc.stdin.write(b"go\n")
        proc.stdin.close()
        check_file = os.path.join(self.share, ".#ZARLOCK.%s.%d.0" % (HOST, proc.pid))
        syscall = "/proc/%d/syscall" % proc.pid  # "1": write(2) on x86-64
        wait_until(lambda: os.path.exists(check_file) and read(syscall).split()[:1] == [b"1"],
                   "blocked writing after the creation case")
        self.interrupt(proc)
        os.close(write_end)
        printed = b"".join(iter(lambda: os.read(read_end, 4096), b"")).lstrip(b"\0")
        self.assertEqual(before, printed)

    def test_while_both_threads_wait_at_a_rendezvous(self):
        proc, out = self.start_into_file()
        self.wait_for(out, "A file in the partner process will now be opened.", proc)
        # Hold the guard byte of the master file: every rendezvous of both
        # threads now waits for it.
        [master] = [n for n in self.tmp.entries("H") if n.endswith(".master")]
        fd = os.open(os.path.join(self.share, master), os.O_RDWR)
        self.addCleanup(os.close, fd)
        wait_until(lambda: zarnrun.lock_byte(fd, 0), "the guard byte taken")
        # The main thread ends up waiting for the guard as it enters a
        # rendezvous (109), inside one as its first arrival (82), or for the
        # partner to leave the previous one (80); the partner thread, which
        # prints nothing, waits likewise.
        waiting = tuple("        %s\r\n" % text for text in (
            "Pre-processing for synchronization will now be executed.",
            "Wait until synchronization information of the remote host is set.",
            "The processing state of the remote host will now be checked."))
        wait_until(lambda: zarnrun.settled(out) and read(out).decode().endswith(waiting),
                   "both threads wait for the guard byte")
        # Inside the first paired lock sequence: its files are open, and the
        # lock test has not finished.
        self.assertNotIn(b'"Byte range locking" finished', read(out))
        self.assertEqual(2, len(self.tmp.entries("H")) - 1)
        self.interrupt(proc)

    def test_during_the_read_and_write_test(self):
        # The fault shim holds the tool's one positional write (the test
        # data) for three seconds: the window in which the signal arrives.
        # The handler's clean-up waits for the write to return; the test
        # thread, going on meanwhile, must create nothing that would then be
        # left behind.
        proc, out = self.start_into_file(faults(self.target, ZARN_FAULT_WRITE_MS="3000"))
        writing = "        Data will now be written to the file.\r\n"
        self.wait_for(out, writing, proc)
        time.sleep(0.2)
        self.assertTrue(read(out).decode().endswith(writing))
        self.assertTrue(os.path.exists(
            os.path.join(self.target, ".#ZARLOCK.%s.%d.0" % (HOST, proc.pid))))
        self.interrupt(proc)


if __name__ == "__main__":
    unittest.main()
