"""The single check on unkind folders: a slow share interrupted by SIGINT or
SIGTERM at chosen moments and at random ones (seeded: ZARN_INTERRUPT_SEED),
a share without lock support, a share that refuses to unlink a file its
caller holds open, and check-file names that grow too long once
the host name and process id are added.  The shares' faults come from a shim preloaded into the tool
(tests/support/fault_shim, named by ZARN_FAULT_SHIM): POSIX build only, as
are the console signals.

An interrupted run must end by its signal, leave both folders empty, and
report nothing that the interruption caused: on a slow but sound share no
line of a run is an error ("!") or a group finished NG.  The time from the
signal to the end of the process is printed, not asserted.  Every group that
finishes NG on an unkind share has a "!" line in it that says why.
"""

import json
import os
import pwd
import random
import re
import signal
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import zarnrun  # noqa: E402
from zarnrun import HOST, PID_IN_NAME, TempFolder, read, unexplained_ng  # noqa: E402

SHIM = os.environ.get("ZARN_FAULT_SHIM", "")
OPEN_DELAY_MS = "150"  # every open() on the slow share
SEED = int(os.environ.get("ZARN_INTERRUPT_SEED", "8"))


def faults(share, **more):
    """The environment that puts the shim's faults on the folder `share`."""
    env = {"LD_PRELOAD": SHIM, "ZARN_FAULT_DIR": share}
    env.update(more)
    asan = os.environ.get("ASAN_OPTIONS")  # ASan wants its runtime first otherwise
    env["ASAN_OPTIONS"] = (asan + ":" if asan else "") + "verify_asan_link_order=0"
    return env


@unittest.skipIf(zarnrun.UNDER_WINE or not SHIM,
                 "the fault shim and the console signals belong to the POSIX build")
class UnkindCase(zarnrun.Case):
    def checked_run(self, args, status=zarnrun.FAILED, fault_dir=None, prefix=(), **fault):
        """The report of a run with `args` (behind the command `prefix`), the
        shim's `fault` on `fault_dir` (the case's folder when None), that
        ended with `status`, wrote nothing on standard error and gave every
        NG group its reason."""
        env = faults(fault_dir or self.tmp.path, **fault) if fault else None
        result = zarnrun.run(args, env=env, prefix=prefix)
        self.assertEqual((status, b"", []),
                         (result.status, result.stderr, unexplained_ng(result.stdout)))
        return result.stdout


class SlowShareInterruptTest(UnkindCase):
    # Moments that used to leave the master file or write false NG lines: a
    # report line and how often it must have appeared, then a pause.  Then
    # RANDOM_RUNS moments drawn with SEED: after a number of report lines
    # (a whole run prints some 430) and a pause of up to one and a half opens.
    RANDOM_RUNS = 8
    CHOSEN = [
        ("Initial processing for synchronization ended successfully.", 1, 0.0),
        ("A file in the partner process will now be opened. (", 1, 0.05),
        ("Pre-processing for synchronization will now be executed.", 5, 0.05),
        ("Termination processing for synchronization will now start.", 1, 0.1),
    ]

    def test_interrupts_leave_nothing_and_report_nothing_they_caused(self):
        # Each run on a slow share of its own, the report on the console or
        # (every other run) in a log file: `sig` once `needle` has been
        # reported `count` times and `pause` seconds more.
        rng = random.Random(SEED)
        drawn = [("\r\n", rng.randrange(1, 420), rng.uniform(0, 0.225))
                 for _ in range(self.RANDOM_RUNS)]
        moments = [(needle, count, pause, rng.choice([signal.SIGINT, signal.SIGTERM]))
                   for needle, count, pause in self.CHOSEN + drawn]
        times = []
        for run, (needle, count, pause, sig) in enumerate(moments):
            with self.subTest(run=run, seed=SEED, at=(needle, count, pause), signal=sig.name):
                share, folders = self.tmp.join(str(run)), [self.tmp.mkdir(str(run), n) for n in "HP"]
                report, errors, document = (self.tmp.join("%d.%s" % (run, name))
                                            for name in ("txt", "err", "json"))
                args = self.single("-j", document, *(["-o", report] if run % 2 else []),
                                   target=folders[1], share=folders[0])
                with open(os.devnull if run % 2 else report, "wb") as out, open(errors, "wb") as err:
                    proc = zarnrun.start(self, args, out, err,
                                         env=faults(share, ZARN_FAULT_OPEN_MS=OPEN_DELAY_MS))

                def printed():
                    return read(report).decode("utf-8", "replace")
                zarnrun.wait_until(lambda: printed().count(needle) >= count or proc.poll() is not None,
                                   "the moment", pause=0.005)
                self.assertIsNone(proc.poll(), "the run ended before the moment")
                time.sleep(pause)
                sent = time.monotonic()
                proc.send_signal(sig)
                status = proc.wait(60)  # a bound against a hang only
                times.append(time.monotonic() - sent)
                self.assertEqual(-sig, status, "ended by the signal, not by the end of the run")
                self.assertEqual([[], []], [os.listdir(f) for f in folders])
                self.assertNotRegex(printed(), r"\r\n        ! |\[ NG \]")  # nothing it caused
                self.assertEqual(b"", read(errors))  # a sanitizer's report, say
                # The JSON report, written after the clean-ups: whole, and saying so.
                doc = json.loads(read(document).decode("utf-8"))
                self.assertEqual([True, "aborted", None, []], [doc[key] for key in (
                    "interrupted", "result", "exit_status", "left_behind")])
                self.assertPrintedWithin(zarnrun.report_groups(printed()),
                                         zarnrun.json_groups(doc["groups"]))
                zarnrun.assert_no_temporary(self, document)
        print("\ninterrupt to exit on a share with %s ms opens (seed %d): %s ms"
              % (OPEN_DELAY_MS, SEED, " ".join("%.0f" % (t * 1000) for t in times)))

    def assertPrintedWithin(self, printed, groups):
        """Every group the text report shows is in the JSON report at its
        place, with its result once finished; the JSON may know one line more
        than was printed when the process ended."""
        self.assertLessEqual(len(printed), len(groups))
        for (heading, result, _, children), group in zip(printed, groups):
            self.assertEqual(heading, group[0])
            self.assertIn(group[1], [result] if result else ["OK", "NG"])
            self.assertPrintedWithin(children, group[3])


UNSUPPORTED = " ERRORCODE=50(This request is not supported. )"
NO_WAIT = "        ! Failed to obtain an exclusive lock in non-lock waiting mode." + UNSUPPORTED
WAITING = "        ! Failed to obtain an exclusive lock in lock waiting mode." + UNSUPPORTED
RELEASED = ("Obtain an exclusive lock on an area where %s lock was released, with the setting in "
            "which processing does not wait until the lock is obtained")
HELD_WAITING = ("Obtain an exclusive lock on an area where a shared lock is being placed, with the "
                "setting in which processing waits until the lock is obtained")


class FaultyShareTest(UnkindCase):
    def test_lock_requests_refused_as_unsupported(self):
        # -p on a share without lock support (an NFS mount without its lock
        # daemon), -h sound: every lock request on -p is a request the
        # server does not support, and the unlock that follows a refused
        # lock finds nothing locked.
        args = self.single("-j", self.tmp.join("nolock.json"), target=self.tmp.mkdir("share", "P"))
        report = self.checked_run(args, fault_dir=self.tmp.join("share"), ZARN_FAULT_NOLCK="1")
        report = report.decode()
        self.assertEqual([NO_WAIT, WAITING, "        ! Failed to release the lock. ERRORCODE=158("
                          "That range is not locked by this handle. )", WAITING],
                         re.findall(r"\r\n(        ! [^\r]*)", report))
        zarnrun.assert_json_report(self, args[-1], report, args, zarnrun.FAILED)
        self.assertFoldersEmpty(os.path.join("share", "P"))

    def test_partner_threads_lock_requests_refused(self):
        # Only the lock test's partner thread, which prints nothing, is
        # refused: every request through its handle on the main thread's
        # file.  The main thread prints the partner's reasons, with their
        # codes: in groups 57, 67 and 60, which they make NG; the refusal in
        # 58, kept after the main thread closed 58, and the failed release
        # that ends the partner's run in 60, at the end of the lock test,
        # which goes NG (aborted: the main thread then finds the partner gone).
        report = self.checked_run(self.single(), ZARN_FAULT_NOLCK_SECOND="1").decode()
        shared = "        ! Failed to obtain a shared lock in lock waiting mode." + UNSUPPORTED
        for heading, line in ((RELEASED % "a shared", NO_WAIT), (RELEASED % "an exclusive", NO_WAIT),
                              (HELD_WAITING, WAITING)):
            end = report.index("\r\n", report.rindex(heading))  # of the finish line
            group = report[report.index(heading):end].split("\r\n")
            self.assertIn(line, group)
            self.assertTrue(group[-1].endswith("finished. ... [ NG ]"), group[-1])
        self.assertEqual(1, report.count(shared + "\r\n"))
        self.assertIn('"Byte range locking" finished. ... [ NG ]', report)
        self.assertFoldersEmpty()

    def test_files_held_open_by_the_caller_are_not_unlinked(self):
        # Both folders on a share that refuses to unlink a file its caller
        # still holds open (a FUSE SMB client): every deletion still goes,
        # the report is a sound run's, line for line.
        report = self.checked_run(self.single(), 0, ZARN_FAULT_UNLINK_BUSY="1")
        self.assertReport(report, zarnrun.golden("single.en"))
        self.assertFoldersEmpty()


def plant_links(pairs):
    """Another user of folders all may write, in a child process (nobody):
    keeps a symbolic link at each name of `pairs` (name, target) until it is
    killed.  Its process id."""
    pid = os.fork()
    if pid == 0:
        try:
            nobody = pwd.getpwnam("nobody")
            os.setgid(nobody.pw_gid)
            os.setuid(nobody.pw_uid)
            while True:
                for name, target in pairs:
                    try:
                        os.symlink(target, name)
                    except OSError:
                        pass
                time.sleep(0.0002)
        finally:
            os._exit(1)
    return pid


@unittest.skipIf(not zarnrun.IS_ROOT, "another user and the tool as root")
class PlantedLinkTest(UnkindCase):
    SECRET = b"root's own, mode 600\n" * 3
    OPEN = "        The file will now be opened. (%s)"
    # The operation, the folder that all may write, and the first group that
    # meets a planted link there: its announcement, error and finish lines.
    ROWS = [
        ("single", "H", [
            OPEN % "<H>/.#ZARLOCK.<HOST>.<PID>.0",
            "        ! The file in the path of the environment settings shared by ZARFO products "
            "could not be opened. ERRORCODE=80(A file of that name already exists. )",
            '      Test Processing "Open a new file when no file exists" finished. ... [ NG ]']),
        ("single", "P", [
            OPEN % "<P>/.#ZARLOCK.<HOST>.<PID>.0",
            "        ! An error occurred when the file in the path to be checked was opened. "
            "ERRORCODE=5(Access was refused. )",
            '      Test Processing "Open an existing file when no file exists" finished. ... '
            '[ NG ]']),
        ("double", "P", None),  # its first phase is the single check
        ("userapl", "U", [
            "        A file to be checked will now be created. (<U>/F.txt)",
            "        ! The file in the path to be checked could not be opened. "
            "ERRORCODE=5(Access was refused. )",
            '    Test Processing "Open, from an external application, a file created by the '
            'tool" finished. ... [ NG ]']),
    ]

    def test_links_at_every_name_are_never_gone_through(self):
        # From before the tool's first open to its end, another user keeps a
        # link at every name the tool will use in a folder all may write (the
        # process id is known), each to a file only root may touch, or to a
        # name in a folder only root may write.  The tool, run as root,
        # refuses each such name in its test, and neither writes, truncates,
        # locks, creates nor deletes through any of them.
        for operation, planted, first_ng in self.ROWS:
            with self.subTest(operation=operation, planted=planted):
                first_ng = first_ng or self.ROWS[1][2]
                tmp = TempFolder()
                self.addCleanup(tmp.remove)
                os.chmod(tmp.path, 0o755)
                secret = tmp.write("secret", self.SECRET)
                os.chmod(secret, 0o600)
                sealed = tmp.mkdir("sealed")  # a creation through a link would land here
                os.chmod(sealed, 0o700)
                folders = {name: tmp.mkdir(name) for name in ("H", "P", "U")}
                os.chmod(folders[planted], 0o1777)  # all may write, as /tmp
                f = os.path.join(folders["U"], "F.txt")
                args = ["-m", operation, "-t", "10"] + (["-f", f] if operation == "userapl"
                                                        else ["-p", folders["P"], "-h", folders["H"]])
                report = tmp.join("report.txt")
                # Every open of the tool waits a little: the other user, who
                # plants again at once, is sure to win each race for a name.
                # The tool waits for "go" on its input.
                gate = ["sh", "-c", 'read go && exec "$@"', "sh", zarnrun.EXE]
                with open(report, "wb") as out:
                    proc = zarnrun.start(self, args, out, stdin=subprocess.PIPE, program=gate,
                                         env=faults(tmp.path, ZARN_FAULT_OPEN_MS="20"))
                pid = proc.pid
                folder = folders[planted]
                if planted == "U":
                    pairs = [(os.path.join(folder, "ZARSTOP.stop"), secret),
                             (f, os.path.join(sealed, "made"))]  # F must not exist at the start
                else:
                    pairs = [(os.path.join(folder, name), secret) for name in (
                        ".#ZARLOCK.%s.%d.0" % (HOST, pid), ".#ZARLOCK.%s.%d.1" % (HOST, pid),
                        ".#ZARLOCK.%s.%d.master" % (HOST, pid), "%s.%d.endwaitfile" % (HOST, pid),
                        ".#ZARLOCK.0", ".#ZARLOCK.1", ".#ZARLOCK.master", "endwaitfile")]
                planter = plant_links(pairs)
                stop = lambda: os.kill(planter, signal.SIGKILL) or os.waitpid(planter, 0)  # noqa
                self.addCleanup(lambda: os.path.exists("/proc/%d" % planter) and stop())
                zarnrun.wait_until(lambda: all(os.path.islink(name) for name, _ in pairs),
                                   "every link planted")
                proc.stdin.write(b"go\n")
                proc.stdin.close()
                status = proc.wait(600)  # a bound against a hang only
                stop()

                text = read(report).decode()
                for name, path in folders.items():
                    text = text.replace(path, "<%s>" % name)
                lines = re.sub(PID_IN_NAME, ".#ZARLOCK.<HOST>.<PID>.", text).split("\r\n")
                end = next(i for i, line in enumerate(lines) if line.endswith("[ NG ]"))
                self.assertEqual((self.SECRET, 0o600, []), (read(secret), os.stat(secret).st_mode
                                                            & 0o777, os.listdir(sealed)))
                self.assertEqual((zarnrun.FAILED, first_ng), (status, lines[end - 2:end + 1]))
                # Nothing but the links as planted is left.
                for path in (os.path.join(d, e) for d in folders.values() for e in os.listdir(d)):
                    self.assertIn((path, os.readlink(path) if os.path.islink(path) else None), pairs)


@unittest.skipIf(not zarnrun.IS_ROOT, "a host name of its own needs root")
class LongNameTest(UnkindCase):
    HOST = "a-long-host-name-" + "x" * 43  # 60 characters; Linux allows 64

    def test_check_file_name_too_long_with_host_and_process_id(self):
        # -p of 200 characters (the most allowed) on a host with a long name:
        # each check-file name there is longer than a path may be.  Every
        # open of it is announced with the whole name and refused with the
        # reason (expected/single.longname.en.txt, the host's name as
        # <HOST>); nothing is opened by any shorter name.
        renamed = ["unshare", "-u", "sh", "-c", 'hostname "$0" && exec "$@"', self.HOST]
        if subprocess.run(renamed + ["true"], capture_output=True).returncode != 0:
            self.skipTest("no UTS namespace for a host name of its own")
        target = self.tmp.mkdir("p" * (199 - len(self.tmp.path)))
        self.assertEqual(200, len(target))
        report = self.checked_run(self.single(target=target), prefix=renamed)
        self.assertIn(b".#ZARLOCK.%s." % self.HOST.encode(), report)
        self.assertReport(report.replace(self.HOST.encode(), HOST.encode()),
                          zarnrun.golden("single.longname.en"), target=target)
        self.assertFoldersEmpty(os.path.basename(target))


if __name__ == "__main__":
    unittest.main()
