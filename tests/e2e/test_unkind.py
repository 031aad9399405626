"""The single check on unkind folders: a slow share interrupted by SIGINT or
SIGTERM at chosen moments and at random ones (seeded: ZARN_INTERRUPT_SEED),
a share without lock support, and check-file names that grow too long once
the host name and process id are added.  The shares' faults come from a shim preloaded into the tool
(tests/support/fault_shim, named by ZARN_FAULT_SHIM): POSIX build only, as
are the console signals.

An interrupted run must end by its signal, leave both folders empty, and
report nothing that the interruption caused: on a slow but sound share no
line of a run is an error ("!") or a group finished NG.  The time from the
signal to the end of the process is printed, not asserted.
"""

import json
import os
import random
import re
import signal
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import zarnrun  # noqa: E402
from zarnrun import TempFolder, read  # noqa: E402

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
    def arguments(self, target, share, *extra):
        return ["-m", "single", "-p", target, "-h", share, "-t", "10"] + list(extra)


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
        rng = random.Random(SEED)
        drawn = [(None, rng.randrange(1, 420), rng.uniform(0, 0.225))
                 for _ in range(self.RANDOM_RUNS)]
        moments = [(needle, count, pause, rng.choice([signal.SIGINT, signal.SIGTERM]))
                   for needle, count, pause in self.CHOSEN + drawn]
        times = []
        for run, (needle, count, pause, sig) in enumerate(moments):
            with self.subTest(run=run, seed=SEED, at=(needle, count, pause), signal=sig.name):
                times.append(self.interrupted_run(needle, count, pause, sig, run % 2 == 1))
        print("\ninterrupt to exit on a share with %s ms opens (seed %d): %s ms"
              % (OPEN_DELAY_MS, SEED, " ".join("%.0f" % (t * 1000) for t in times)))

    def interrupted_run(self, needle, count, pause, sig, to_log):
        """Runs the tool on a slow share, sends `sig` once `needle` has been
        reported `count` times (or, without a needle, once `count` lines have)
        and `pause` seconds more, checks what the run left; the seconds from
        the signal to the end."""
        tmp = TempFolder()
        self.addCleanup(tmp.remove)
        share, report, errors = tmp.mkdir("share"), tmp.join("report.txt"), tmp.join("stderr")
        folders = [tmp.mkdir("share", "H"), tmp.mkdir("share", "P")]
        document = tmp.join("report.json")
        args = self.arguments(folders[1], folders[0], "-j", document,
                              *(["-o", report] if to_log else []))
        with open(os.devnull if to_log else report, "wb") as out, open(errors, "wb") as err:
            proc = zarnrun.start(self, args, out, err,
                                 env=faults(share, ZARN_FAULT_OPEN_MS=OPEN_DELAY_MS))

        def printed():
            return read(report).decode("utf-8", "replace")

        def came():
            return (printed().count(needle) if needle else printed().count("\r\n")) >= count
        zarnrun.wait_until(lambda: came() or proc.poll() is not None, "the moment", pause=0.005)
        self.assertIsNone(proc.poll(), "the run ended before the moment")
        time.sleep(pause)
        sent = time.monotonic()
        proc.send_signal(sig)
        status = proc.wait(60)  # a bound against a hang only
        took = time.monotonic() - sent

        self.assertEqual(-sig, status, "ended by the signal, not by the end of the run")
        self.assertEqual([[], []], [os.listdir(f) for f in folders])
        caused = [line for line in printed().split("\r\n")
                  if line.startswith("        ! ") or line.endswith("[ NG ]")]
        self.assertEqual([], caused)
        self.assertEqual(b"", read(errors))  # a sanitizer's report, say
        # The JSON report, written after the clean-ups: whole, and saying so.
        doc = json.loads(read(document).decode("utf-8"))
        self.assertEqual((True, "aborted", None), (doc["interrupted"], doc["result"],
                                                   doc["exit_status"]))
        self.assertEqual([], doc["left_behind"])
        self.assertPrintedWithin(zarnrun.report_groups(printed()), zarnrun.json_groups(doc["groups"]))
        zarnrun.assert_no_temporary(self, document)
        return took


    def assertPrintedWithin(self, printed, groups):
        """Every group the text report shows is in the JSON report at its
        place, with its result once finished; the JSON may know one line more
        than was printed when the process ended."""
        self.assertLessEqual(len(printed), len(groups))
        for (heading, result, _, children), group in zip(printed, groups):
            self.assertEqual(heading, group[0])
            self.assertIn(group[1], [result] if result else ["OK", "NG"])
            self.assertPrintedWithin(children, group[3])


class NoLockShareTest(UnkindCase):
    def test_lock_requests_refused_as_unsupported(self):
        # -p on a share without lock support (an NFS mount without its lock
        # daemon), -h sound: every lock request on -p is a request the
        # server does not support, and the unlock that follows a refused
        # lock finds nothing locked.
        share = self.tmp.mkdir("share")
        target = self.tmp.mkdir("share", "P")
        args = self.arguments(target, self.share, "-j", self.tmp.join("nolock.json"))
        result = zarnrun.run(args, env=faults(share, ZARN_FAULT_NOLCK="1"))
        unsupported = "ERRORCODE=50(This request is not supported. )"
        self.assertEqual([
            "        ! Failed to obtain an exclusive lock in non-lock waiting mode. " + unsupported,
            "        ! Failed to obtain an exclusive lock in lock waiting mode. " + unsupported,
            "        ! Failed to release the lock. ERRORCODE=158(That range is not locked by this "
            "handle. )",
            "        ! Failed to obtain an exclusive lock in lock waiting mode. " + unsupported,
        ], [line for line in result.stdout.decode().split("\r\n") if line.startswith("        !")])
        self.assertEqual((zarnrun.FAILED, b""), (result.status, result.stderr))
        zarnrun.assert_json_report(self, args[-1], result.stdout.decode(), args, zarnrun.FAILED)
        self.assertFoldersEmpty()
        self.assertEqual([], os.listdir(target))


@unittest.skipIf(zarnrun.UNDER_WINE or not zarnrun.IS_ROOT,
                 "a host name of its own needs root and the POSIX build")
class LongNameTest(zarnrun.Case):
    HOST = "a-long-host-name-" + "x" * 43  # 60 characters; Linux allows 64

    def test_check_file_name_too_long_with_host_and_process_id(self):
        # -p of 200 characters (the most allowed) on a host with a long name:
        # each check-file name there is longer than a path may be.  Every
        # open of it is announced with the whole name and refused with the
        # reason; nothing is opened by any shorter name.
        renamed = ["unshare", "-u", "sh", "-c", 'hostname "$0" && exec "$@"', self.HOST]
        if subprocess.run(renamed + ["true"], capture_output=True).returncode != 0:
            self.skipTest("no UTS namespace for a host name of its own")
        target = self.tmp.mkdir("p" * (199 - len(self.tmp.path)))
        self.assertEqual(200, len(target))
        proc = subprocess.run(renamed + zarnrun.RUNNER + [zarnrun.EXE, "-m", "single", "-p", target,
                                                          "-h", self.share, "-t", "10"],
                              stdin=subprocess.DEVNULL, capture_output=True,
                              env=zarnrun.environment(), timeout=600)
        report = proc.stdout.decode()
        pid = re.search(r"\.#ZARLOCK\.%s\.(\d+)\.0\)" % self.HOST, report).group(1)
        opened = "        The file will now be opened. (%s/.#ZARLOCK.%s.%s.0)\r\n" % (
            target, self.HOST, pid)
        too_long = "ERRORCODE=206(The name or the path is too long. )\r\n"
        not_opened = "        ! The file in the path to be checked could not be opened. " + too_long

        def group(heading, *body):
            return ("    Test Processing type \"%s\" will now start. \r\n" % heading + "".join(body)
                    + "    Test Processing type \"%s\" finished. ... [ NG ]\r\n" % heading)

        def case(heading, *body):
            return ("      Test Processing \"%s\" will now start. \r\n" % heading + "".join(body)
                    + "      Test Processing \"%s\" finished. ... [ NG ]\r\n" % heading)
        start = '  Test Check target "Test for the path to be checked" will now start. \r\n'
        self.assertEqual(
            start
            + group("File open processing",
                    case("Open an existing file when no file exists", opened,
                         "        ! An error occurred when the file in the path to be checked was "
                         "opened. " + too_long),
                    case("Open a new file when no file exists", opened, not_opened))
            + group("File read and write processing", opened, not_opened)
            + group("Byte range locking", opened, not_opened)
            + group("File deletion processing", opened, not_opened)
            + '  Test Check target "Test for the path to be checked" finished. ... [ NG ]\r\n'
            + 'Test Operation "Single environment check" finished. ... [ NG ]\r\n',
            report[report.index(start):])
        self.assertEqual((zarnrun.FAILED, b""), (proc.returncode, proc.stderr))
        self.assertFoldersEmpty()
        self.assertEqual([], os.listdir(target))


if __name__ == "__main__":
    unittest.main()
