"""The mutual environment check run whole: `-m double -p P -h H` started
twice on this machine against the same two fresh folders, as two hosts
start it.  Each report is compared byte for byte with golden files: the
single check's (expected/single*, the first phase) followed by
expected/double[.wine].LANG.txt, the mutual phase (group 89), normalised as
for the single check (zarnrun.normalise).  The mutual phase names its
check files by role (<ROLE> and <OTHER>) and either party's clean-up may be
the one that deletes them: those lines are dropped and counted across both
reports, once per file and test.

Then what the other party does to a pair: a leftover check file that makes
one single phase NG, a third process turned away (at a chosen moment and
at random ones, also on a slow share), the partner killed at a random
moment and in the closing handshake of the last test, and Ctrl+C in one
process while the other waits for it, also while it waits in the closing
handshake.

Under Wine 8 two processes step together as two hosts do, but a waiting
lock request that cannot be granted at once stays queued for ever while its
zeroed record reads as done: in groups 60 (-h) and 70 (-p) both parties
take their requests as granted, their unlocks of the partner's file fail
with 33, both lock tests end NG at the same step and the pair goes on
together (expected/double.wine.*).
"""

import fcntl
import os
import random
import re
import signal
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import zarnrun  # noqa: E402
from rig_shares import LOCKING, phases  # noqa: E402
from test_single import WINE, golden, with_leftover  # noqa: E402
from test_unkind import HELD_WAITING, OPEN_DELAY_MS, SHIM, faults  # noqa: E402
from zarnrun import HOST, PID_IN_NAME, lock_byte, wait_until  # noqa: E402

LIMIT = 10  # -t: every wait for the partner ends within it
SEED = int(os.environ.get("ZARN_INTERRUPT_SEED", "8"))
SEP = "\\" if WINE else "/"
MUTUAL_START = 'Test Operation "Mutual environment check" will now start. \r\n'
# The processing types, counted through the whole report, whose clean-up
# deletes the two check files of the mutual phase: its open and lock tests
# on -h, then on -p (the deletion test deletes them in its body).
DELETING_TYPES = {7: "<H>", 8: "<H>", 9: "<P>", 10: "<P>"}
# The texts of the errors that a partner gone can cause.
PARTNER_GONE = ("The processing waiting time exceeded the timeout time.",
                "The process on the remote host has already ended.")
STOP_AND_WAIT = "        The remote host will now be checked for whether it can accept the termination processing.\r\n"
# The last line of a process turned away, besides the one of
# expected/double*.refused.* (a pair formed): a pair met in its closing
# handshake or in another test (it gives way), nobody met (it came after).
THIRD_ENDS = ["        ! %s\r\n" % text for text in (
    "Another process took part in the synchronization.",
    "The processing waiting time exceeded the timeout time.")]


def mutual_golden(name):
    """The lines of expected/double[.wine].NAME.txt."""
    return zarnrun.golden("double%s.%s" % (".wine" if WINE else "", name))


class Party:
    """One process of a pair, its report in a file of its own (`path`)."""

    def __init__(self, case, name, log=False, lang="en", target=None, program=None, env=None):
        self.lang, self.target = lang, target or case.target
        self.out = case.tmp.join(name + ".out")
        self.path = case.tmp.join(name + ".log") if log else self.out
        self.json = case.tmp.join(name + ".json")
        self.args = ["-m", "double", "-p", self.target, "-h", case.share, "-t", str(case.limit),
                     "-j", self.json] + (["-o", self.path] if log else [])
        with open(self.out, "wb") as out:
            self.proc = zarnrun.start(case, self.args, out,
                                      lang="ja_JP.UTF-8" if lang == "ja" else None,
                                      program=program, env=env)

    def report(self):
        return zarnrun.read(self.path)

    def text(self):
        return self.report().decode("utf-8", "replace")

    def mutual_lines(self):
        """The lines printed so far since the mutual phase began."""
        return "".join(self.text().partition(MUTUAL_START)[1:]).count("\r\n")

    def finish(self, limit=600):
        """Waits for the end (a bound against a hang); the status and standard error."""
        return self.proc.wait(limit), self.proc.stderr.read()


class DoubleCase(zarnrun.Case):
    limit = LIMIT
    passed = zarnrun.FAILED if WINE else 0

    def pair(self, env=None):
        """Two parties started at once on emptied folders."""
        self.tmp.remove()
        os.makedirs(self.share), os.makedirs(self.target)
        return Party(self, "a", env=env), Party(self, "b", env=env)

    def hold_master(self, byte, kind):
        """The master file opened, its byte `byte` locked `kind` by this process."""
        master = os.open(os.path.join(self.share, ".#ZARLOCK.master"), os.O_RDWR)
        self.addCleanup(os.close, master)
        wait_until(lambda: lock_byte(master, byte, kind), "byte %d of the master file" % byte)
        return master

    def hold_in_closing_handshake(self, a, b):
        """A shared lock of the master file's byte 3 (taken exclusively in a
        closing handshake once no party is inside a rendezvous): both
        parties wait there.  The master file."""
        master = self.hold_master(3, fcntl.LOCK_SH)
        wait_until(lambda: all(p.text().endswith(STOP_AND_WAIT) for p in (a, b)),
                   "both wait in the closing handshake")
        return master

    def in_lock_test_of_h(self, party):
        """Whether the party has opened its partner's file of the lock test of -h."""
        opened = r"A file in the partner process will now be opened\. \(%s%s\.#ZARLOCK\.[01]\)"
        return len(re.findall(opened % (re.escape(self.share), re.escape(SEP)), party.text())) >= 2

    def assertMutual(self, party, single, mutual):
        """The party's report is the single phase `single` and the mutual phase
        `mutual` (golden lines); the deletions of mutual files it reported."""
        _, deleted = self.assertReport(party.report(), single + mutual, party.lang, party.target)
        return [(types, line) for types, line in deleted if "<PID>" not in line]

    def assertDeletedOnce(self, *deleted):
        """Each check file of each mutual test reported deleted exactly once
        across the reports.  Under Wine a DeleteFile opens the file for
        deletion and unlinks it at close, so two at once can both succeed
        (about one pair in eight on this machine): where both parties clean
        up together, a file may be reported by each."""
        names = [(types, re.search(r"\((.*)\)\r\n$", line).group(1))
                 for d in deleted for types, line in d]
        expected = sorted((types, "%s%s.#ZARLOCK.%d" % (folder, SEP, n))
                          for types, folder in DELETING_TYPES.items() for n in (0, 1))
        if WINE:
            self.assertEqual(expected, sorted(set(names)))
            self.assertLessEqual(max(names.count(name) for name in expected), 2, names)
        else:
            self.assertEqual(expected, sorted(names))

    def assertPairPasses(self, a, b, leftover=False):
        """Both reports, and both JSON reports against them (both phases'
        groups), those of a sound pair; with `leftover`, a's single phase is
        NG for a file named like its first check file of -p, and so its
        exit status."""
        singles, statuses = [golden(a.lang), golden(b.lang)], [self.passed] * 2
        if leftover:
            singles[0], statuses[0] = with_leftover(singles[0]), zarnrun.FAILED
        self.assertEqual([(status, b"") for status in statuses], [p.finish() for p in (a, b)])
        self.assertDeletedOnce(*[self.assertMutual(p, single, mutual_golden(p.lang))
                                 for p, single in zip((a, b), singles)])
        for p, status in zip((a, b), statuses):
            text = p.report().decode("cp932" if WINE and p.lang == "ja" else "utf-8")
            doc = zarnrun.assert_json_report(self, p.json, text, p.args, status, p.lang)
            self.assertEqual([90, 89], [group["id"] for group in doc["groups"]])
        self.assertFoldersEmpty()


class PairTest(DoubleCase):
    limit = 30  # the pair waits for the guard byte while the third runs its single phase

    def test_pair_with_a_leftover_and_a_third_process_turned_away(self):
        # a reports on the console, b in Japanese into a log file: each
        # prints its own catalogue's texts, a pair need not share one.
        a, b = Party(self, "a"), Party(self, "b", log=True, lang="ja")
        # A file named like a's first check file of -p, made while a checks
        # -h: a's single phase is NG, its mutual phase OK (group 89 reports
        # the mutual phase alone), and its exit status -1.
        wait_until(lambda: ".#ZARLOCK." in a.text(), "a names a check file")
        self.assertNotIn('Check target "Test for the path to be checked"', a.text())
        pid = re.search(PID_IN_NAME, a.text()).group(1)
        self.tmp.write(os.path.join("P", ".#ZARLOCK.%s.%s.0" % (HOST, pid)), b"left behind")
        # Inside the lock test of -h, which has some thirty synchronisation
        # points to go, take the master file's guard byte: the pair and a
        # third process then all wait for it, and once it is free again the
        # third meets both presence bytes held.
        wait_until(lambda: self.in_lock_test_of_h(a), "a opens its files of the lock test")
        master = self.hold_master(0, fcntl.LOCK_EX)
        third = Party(self, "c", target=self.tmp.mkdir("P3"))
        before_setup = "        Pre-processing for synchronization will now be executed.\r\n"
        wait_until(lambda: third.mutual_lines() and third.text().endswith(before_setup)
                   and zarnrun.settled(third.path), "the third waits for the guard byte")
        fcntl.lockf(master, fcntl.LOCK_UN, 1, 0, os.SEEK_SET)
        self.assertEqual((zarnrun.FAILED, b""), third.finish())
        self.assertEqual([], self.assertMutual(third, golden("en"), mutual_golden("refused.en")))
        self.assertPairPasses(a, b, leftover=True)
        self.assertEqual(b"", zarnrun.read(b.out))  # all of it went to the log file
        self.assertFoldersEmpty("P3")

    def test_third_process_at_random_moments(self):
        # A third process with the same folders, started while the pair runs
        # (drawn with SEED): it may arrive as the pair forms (then any of the
        # three may be the one turned away), while a test runs, in a closing
        # handshake or between two tests, when each pairs anew; or after the
        # pair.  Whatever the moment, two of them pass as a pair, and the
        # third's mutual phase ends in its first set-up, refused or with one
        # of THIRD_ENDS: never a false verdict about the share.
        rng = random.Random(SEED + 2)
        slow = [False] * 3 + ([True] if SHIM and not WINE else [])
        for run, on_slow_share in enumerate(slow):
            with self.subTest(run=run, seed=SEED, slow=on_slow_share):
                env = faults(self.tmp.path, ZARN_FAULT_OPEN_MS=OPEN_DELAY_MS) if on_slow_share else None
                a, b = self.pair(env)
                count = rng.randrange(1, len(golden("en")) + len(mutual_golden("en")))
                wait_until(lambda: a.text().count("\r\n") >= count or a.proc.poll() is not None,
                           "line %d of a" % count, limit=600)
                parties = [a, b, Party(self, "c", env=env)]
                print("third started after line %d%s" % (count, " (slow share)" if on_slow_share else ""))
                [p.finish() for p in parties]
                refused = mutual_golden("refused.en")
                ends = {p: [e for e in refused[-4:-3] + THIRD_ENDS
                            if p.text().endswith(e + "".join(refused[-3:]))]
                        for p in parties}
                turned_away = [p for p in parties if ends[p]]
                self.assertEqual(1, len(turned_away), [p.text()[-600:] for p in parties])
                third = turned_away[0]
                self.assertEqual(zarnrun.FAILED, third.proc.returncode)
                self.assertEqual([], self.assertMutual(third, golden("en"),
                                                       refused[:-4] + ends[third] + refused[-3:]))
                self.assertPairPasses(*[p for p in parties if p is not third])


@unittest.skipIf(WINE, "signals and kills of the tool are tests of the POSIX build")
class PartnerEndsTest(DoubleCase):
    """A pair one of whose processes ends early, at moments drawn with SEED:
    after a number of lines of its mutual phase."""

    def moment(self, rng, until):
        """A pair, and one of its parties (the first) once it has printed a
        number of lines of its mutual phase, drawn below the golden line `until`."""
        a, b = self.pair()
        first, other = (a, b) if rng.random() < 0.5 else (b, a)
        count = rng.randrange(1, mutual_golden("en").index(until) + 1)
        wait_until(lambda: first.mutual_lines() >= count, "line %d of the mutual phase" % count)
        return first, other, count

    def assertPartnerGone(self, party, status, must_fail):
        """The party's own view of a partner gone: its single phase passed; in
        its mutual phase only errors of a partner gone, and an NG (exit status
        -1) only as the test that was aborted, the last that ran."""
        text = party.text()
        single, mutual = text[:text.index(MUTUAL_START)], text[text.index(MUTUAL_START):]
        self.assertIn('Test Operation "Single environment check" finished. ... [ OK ]', single)
        errors = re.findall(r"\r\n        ! (.*?)(?: ERRORCODE=.*)?\r\n", mutual)
        self.assertTrue(set(errors) <= set(PARTNER_GONE), errors)
        types = re.findall(r"\r\n    Test Processing type .* finished\. \.\.\. \[ (OK|NG) \]", mutual)
        self.assertNotIn("NG", types[:-1])
        failed = types[-1:] == ["NG"] or not mutual.endswith("[ OK ]\r\n")
        self.assertEqual(failed or must_fail, status == zarnrun.FAILED, mutual[-2000:])
        self.assertEqual([], zarnrun.unexplained_ng(party.report()))

    def test_partner_killed(self):
        rng = random.Random(SEED)
        for run in range(3):
            with self.subTest(run=run, seed=SEED):
                victim, survivor, count = self.moment(rng, mutual_golden("en")[-1])
                victim.proc.kill()
                killed = time.monotonic()
                status, err = survivor.finish(2 * LIMIT + 30)
                took = time.monotonic() - killed
                print("killed after line %d: the partner ended %.1f s later" % (count, took))
                # At most two waits for the partner run to the limit -t; a third
                # would take 3 * LIMIT.
                self.assertLessEqual(took, 2.5 * LIMIT)
                self.assertEqual(b"", err)
                self.assertPartnerGone(survivor, status, must_fail=False)
                # The survivor's own check files are gone; a file at the name of
                # its last one may be the killed partner's, opened (as its own or
                # as its partner's) in a test the survivor never opened it in.
                own = re.findall(r"A file of the process on this host will now be opened\. "
                                 r"\((.*)\)\r\n", survivor.text())
                opened = [re.findall(r" will now be opened\. \((.*)\)\r\n", p.text())
                          for p in (survivor, victim)]
                if os.path.exists(own[-1]):
                    self.assertGreater(opened[1].count(own[-1]), opened[0].count(own[-1]),
                                       "the survivor's own file was left")
                left = {name for f in ("H", "P") for name in self.tmp.entries(f)}
                self.assertTrue(left <= {".#ZARLOCK.0", ".#ZARLOCK.1", ".#ZARLOCK.master",
                                         "endwaitfile"}, left)
                self.assertPairPasses(Party(self, "a"), Party(self, "b"))  # in what the kill left

    def test_last_party_out_killed_in_the_closing_handshake_of_the_last_test(self):
        # Both parties held before their closing handshake of the deletion
        # test (byte 3 of the master file shared), one of them stopped, the
        # other let go: it is the first out, leaves the end-wait file and
        # waits for it to go.  The stopped one is killed.  At the time limit
        # the survivor finds no live party holding the files: it deletes
        # them and says that the partner has ended, in place of the closing
        # handshake's success.  Every test passed: OK, exit status 0.
        a, b = self.pair()
        deleting = '    Test Processing type "File deletion processing" will now start. \r\n'
        wait_until(lambda: deleting in a.text().partition(MUTUAL_START)[2], "a in the deletion test")
        master = self.hold_in_closing_handshake(a, b)
        b.proc.send_signal(signal.SIGSTOP)
        fcntl.lockf(master, fcntl.LOCK_UN, 1, 3, os.SEEK_SET)
        wait_until(lambda: os.path.exists(os.path.join(self.share, "endwaitfile"))
                   and zarnrun.settled(a.path), "a waits for the end-wait file")
        b.proc.kill()
        self.assertEqual((0, b""), a.finish())
        mutual = mutual_golden("en")
        ended = len(mutual) - 1 - mutual[::-1].index(
            "        Termination processing for synchronization ended successfully.\r\n")
        mutual[ended] = "        ! %s\r\n" % PARTNER_GONE[1]
        self.assertMutual(a, golden("en"), mutual)
        self.assertFoldersEmpty()

    def test_interrupt_while_the_partner_waits(self):
        # Runs 0 and 1: one party stopped (at a moment drawn with SEED, before
        # the lock test of -p: the partner cannot finish without it) while the
        # other runs on until it waits for it, then interrupted.  Run 2: a
        # shared lock of the master file's byte 3, taken in the lock test of
        # -h, keeps both parties in their closing handshake (it is taken
        # exclusively there, once no party is inside a rendezvous), and one is
        # interrupted: the clean-up that waits there must not keep the console
        # handler out.  Either way it ends at once, whatever its partner's state.
        rng = random.Random(SEED + 1)
        until = [line for line in mutual_golden("en") if "Byte range locking" in line][2]
        for run in range(3):
            with self.subTest(run=run, seed=SEED):
                if run < 2:
                    party, other, count = self.moment(rng, until)
                    party.proc.send_signal(signal.SIGSTOP)
                    wait_until(lambda: zarnrun.settled(other.path), "the partner waits")
                    self.assertIsNone(other.proc.poll())
                    print("stopped after line %d" % count)
                else:
                    party, other = self.pair()
                    wait_until(lambda: self.in_lock_test_of_h(party), "in the lock test of -h")
                    master = self.hold_in_closing_handshake(party, other)
                party.proc.send_signal(signal.SIGINT)
                sent = time.monotonic()
                party.proc.send_signal(signal.SIGCONT)  # a stopped one takes it now
                self.assertEqual(-signal.SIGINT, party.proc.wait(60))
                took = time.monotonic() - sent
                print("interrupted: ended %.2f s later" % took)
                self.assertLess(took, LIMIT / 2)  # not after the time limit of a wait for the partner
                self.assertNotRegex(party.text(), r"\r\n        ! |\[ NG \]")  # nothing it caused
                if run == 2:
                    fcntl.lockf(master, fcntl.LOCK_UN, 1, 3, os.SEEK_SET)
                status, err = other.finish(2 * LIMIT + 30)
                self.assertEqual(b"", err)
                self.assertPartnerGone(other, status, must_fail=True)
                self.assertFoldersEmpty()


NATIVE_EXE = os.environ.get("ZARN_NATIVE_EXE", "")


@unittest.skipUnless(WINE and os.path.isfile(NATIVE_EXE),
                     "pairs the Windows build under Wine with a native build (dev's or "
                     "asan's, ZARN_NATIVE_EXE): %r" % NATIVE_EXE)
class InteroperationTest(DoubleCase):
    """The Windows build under Wine (W) and the native build (N), paired on
    one folder.  The lock-byte protocol on the master file is the same on
    both, so they pair and step together; Wine's deviations then decide:
    a waiting LockFileEx that cannot be granted at once stays queued for
    ever and, its OVERLAPPED zeroed, reads as granted at once; UnlockFileEx
    of a range not held gives 33.

    Everything up to group 60 of the lock test of -h passes on both.  In
    group 60 each holds a shared lock on its own file and issues a waiting
    exclusive request on the other's.  W's request reads as granted; N's is
    granted when W releases its shared lock.  W then unlocks the partner's
    file, a lock it never got: 33, "! Failed to release the lock" (code 10)
    in group 60, which finishes OK; W's lock test ends NG and its clean-up
    goes into the closing handshake.  N, which unlocked its partner's file,
    goes on to the group's last synchronisation point, where W never comes:

    - N second at the point before (W takes its request as granted at once,
      N waits for the grant, so W is usually first): N first waits for W to
      leave that point.  W's closing handshake finds N outside any
      rendezvous and alive, leaves the end-wait file and releases its bytes;
      N then finds W's presence byte free: 24.
    - N first there: should W's closing handshake find N outside any
      rendezvous, W leaves as above and N finds W's presence byte free: 24.
      Otherwise N waits inside the rendezvous, holding byte 3, until the
      time limit: 22.  W waits for byte 3 in its closing handshake under the
      same limit, started a moment later; should both give up within the
      same second and W poll first, W reports 22 after its lock test and N,
      polling once more, finds W's presence byte free: 24.

    N's lock test is aborted: its -h target NG, -p skipped.  W's -h target
    is NG, not aborted, so W goes on to -p, where its set-up waits for a
    partner that has left: 22, the open test of -p aborted.  Both exit with
    -1, both phases' groups 89 NG, and nothing is left in the folders."""

    def test_native_and_windows_build_pair_up(self):
        wine, native = Party(self, "w"), Party(self, "n", program=[NATIVE_EXE])
        for party in (wine, native):
            self.assertEqual((zarnrun.FAILED, b""), party.finish())
            self.assertIn(b'Test Operation "Single environment check" finished.', party.report())
            self.assertEqual([], zarnrun.unexplained_ng(party.report()))
        (w_ng, w_targets), (n_ng, n_targets) = (phases(p.report())[1] for p in (wine, native))
        lock_test, group_60 = ("-h", LOCKING), ("-h", LOCKING, HELD_WAITING, "OK")
        self.assertIn(n_ng.get(group_60), ([22], [24]), n_ng)
        self.assertEqual(({(): [], ("-h",): [], lock_test: [], group_60: n_ng[group_60]}, ["-h"]),
                         (n_ng, n_targets))
        self.assertIn(w_ng.get(lock_test), ([], [22] if n_ng[group_60] == [24] else []), w_ng)
        self.assertEqual(({(): [], ("-h",): [], lock_test: w_ng[lock_test], group_60: [10],
                           ("-p",): [], ("-p", "File open processing"): [22]}, ["-h", "-p"]),
                         (w_ng, w_targets))
        self.assertFoldersEmpty()


if __name__ == "__main__":
    unittest.main()
