"""The single and the double check on real shares (rig.py): each row mounts a
share for -h and one for -p on a simulated host (two at once for the double
check), runs the tool, and compares its verdict group by group: which groups
finished NG, with which error codes on their "!" lines, and which check
targets ran; then the exit status, an empty standard error, and nothing left
in the folders.

Shares: "gluster" is a GlusterFS volume on loopback, a real network file
system whose locks behave as a correct share's.  "bindfs" keeps the locks of
each mount to itself, like a share mounted without lock support; one process
sees correct locks, but they do not cross hosts.  "bindfs-lf" forwards locks
to the folder it serves, where one process holds them all: locks cross
mounts, but two handles of one mount never conflict.  "smbnetfs" reaches a Samba share through a FUSE client that keeps
locks and share modes to its mount, as bindfs does; "samba" is the folder
that Samba exports, as a host that works on it directly sees it.  The last
rows put an SMB client, as a Windows program would be, beside the tool on
the exported folder (smb_person.py).
"""

import os
import re
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import rig  # noqa: E402
import test_userapl  # noqa: E402
import zarnrun  # noqa: E402

BROKEN_SHARE_LIMIT = 10  # -t on the broken shares: their waits run to the limit

# Report titles and error texts, as the English report prints them.
TARGETS = {"Test for the path of environment settings shared by ZARFO products": "-h",
           "Test for the path to be checked": "-p", "Test for the file to be checked": "-f"}
OPENING = "File open processing"
LOCKING = "Byte range locking"
EXCLUSIVE_ON_EXCLUSIVE = ("Obtain an exclusive lock on an area where an exclusive lock is being "
                          "placed, with the setting in which processing %s until the lock is "
                          "obtained")
# The exclusive lock of -p wrongly granted beside the other holder's (19)
# and kept, and the waiting request after it meeting that lock of its own
# handle until the time limit (22).
GRANTED_TWICE_ON_P = {("-p", LOCKING, EXCLUSIVE_ON_EXCLUSIVE % "does not wait"): [19],
                      ("-p", LOCKING, EXCLUSIVE_ON_EXCLUSIVE % "waits"): [22]}
# The "!" lines the rows expect, as their codes; any other shows as its text.
CODES = {"Failed to release the lock.": 10,
         "The process on the remote host has already ended.": 24,
         "An exclusive lock could be obtained for the location on which an exclusive lock has "
         "already been placed, which should not have been possible.": 19,
         "The processing waiting time exceeded the timeout time.": 22,
         "The file to be checked could be opened, which should not have been possible.": 28}
OPENED_BY_THE_APPLICATION = ("Open, from the tool with the setting in which a file is not shared, "
                             "the file that was opened by an external application")
ERROR = re.compile(r' {8}! (.*?)(?: ERRORCODE=\d+\(.*\))?\r\n')


def name(group):
    """The name of a group of zarnrun.report_groups(), a check target's as -h, -p or -f."""
    text = group[0].split('"')[1]
    return TARGETS.get(text, text)


def verdict(operation):
    """The NG groups of an operation, each as its path below the operation
    (check target, processing type, processing) with the codes of the "!"
    lines printed directly in it; and the check targets that ran.  A group
    that finished OK after a "!" line, or never finished, shows with its
    result added to its path, which no expectation holds."""
    ng = {}

    def visit(path, group):
        _, result, errors, children = group
        codes = [CODES.get(m.group(1), m.group(1)) for m in map(ERROR.fullmatch, errors) if m]
        if result != "OK" or codes:
            ng[path + (() if result == "NG" else (result,))] = codes
        for child in children:
            visit(path + (name(child),), child)
    visit((), operation)
    return ng, [name(target) for target in operation[3]]


def phases(report):
    """The verdict of each operation of a report: the single check's, then,
    in a double check, the mutual check's."""
    return [verdict(operation) for operation in zarnrun.report_groups(report.decode("utf-8"))]


def phase(ng=None, targets=("-h", "-p")):
    """An expected verdict: the NG groups `ng` ({path: codes}) and every group
    around them NG, every other group OK, and the check targets that ran."""
    whole = dict(ng or {})
    for key in list(whole):
        for depth in range(len(key)):
            whole.setdefault(key[:depth], [])
    return whole, list(targets)


SOUND = phase()
ABORTED_IN_H_LOCKING = phase({("-h", LOCKING): [22]}, ["-h"])
NEVER_MEET = phase({("-h", OPENING): [22]}, ["-h"])

# The single rows: -h share, -p share, the verdict.  A row with an NG runs
# with -t BROKEN_SHARE_LIMIT.
# - gluster, bindfs, smbnetfs: sound.  On bindfs one process on one
#   mount: its handles see each other's locks; that locks do not cross hosts
#   takes two hosts.  smbnetfs as bindfs: the kernel keeps the locks and
#   share markers of the one mount; deleting needs the tool to close its own
#   handles of a file first (smbnetfs refuses to unlink a file its caller
#   holds open).
# - bindfs-lf for both: the paired lock sequence pairs its two threads
#   through byte locks on the master file in -h.  On this mount their handles
#   never conflict: both take the first marker, both believe they came first
#   and wait for a partner they never see, until the time limit.  The set-up
#   fails with 22 inside "Byte range locking" of -h, before any of its paired
#   groups starts; the aborted -h target skips -p.
# - gluster and bindfs-lf: the threads pair on -h's sound master file; their
#   check files are on -p, where their handles never conflict.  In the
#   exclusive lock without waiting against the partner's exclusive lock each
#   thread is wrongly granted the lock (19), which it keeps.  The waiting
#   exclusive request that follows meets that lock of its own handle, which
#   the partner's unlock does not release, and waits until the time limit
#   (22).  The groups against released locks are OK.
SINGLE_ROWS = [("gluster", "gluster", SOUND), ("bindfs", "bindfs", SOUND),
               ("gluster", "bindfs", SOUND),
               ("smbnetfs", "smbnetfs", SOUND), ("bindfs-lf", "bindfs-lf", ABORTED_IN_H_LOCKING),
               ("gluster", "bindfs-lf", phase(GRANTED_TWICE_ON_P))]

# The double rows: -h share, -p share, the hosts that reach both through
# another share, each host's single and mutual verdicts (no mutual one when
# the single phase aborted).
# - gluster for both: both phases OK on both hosts.
# - bindfs, smbnetfs (smbnetfs passes no lock to Samba), and hostA on
#   the exported folder with hostB on smbnetfs (hostA's locks stay in the
#   server's kernel, which Samba consults for its own clients only): neither
#   host sees the other's locks on the master file in -h: both take the
#   first arrival's marker and wait for a partner, until the time limit (22),
#   in the set-up of the first mutual test, the open test of -h.  It aborts:
#   -h aborted, -p skipped, the mutual phase NG.
# - gluster and bindfs: the hosts pair on -h's sound master file, and every
#   test of -h passes.  Of the lock groups of -p (67, 69, 70) the one against
#   a released lock (67) needs no conflict and passes.  The exclusive lock
#   without waiting against the partner's exclusive lock (69) is wrongly
#   granted (19), and kept.  The waiting exclusive request that follows (70)
#   meets that lock of its own handle, which the partner's unlock does not
#   release: the time limit (22); the unlock of the partner's file then
#   releases the lock of 69 and succeeds.  Opening and deleting the other's
#   files need no lock: OK.
# - bindfs-lf for both: each host's single phase aborts in the lock test of
#   -h as its single row does; a double check whose single phase aborted does
#   not start its mutual phase.
# - gluster and bindfs-lf: the single phase as its single row.  In the mutual
#   phase each host holds its locks through a mount of its own, and locks
#   cross mounts: every conflict is between the two hosts, and every group
#   passes.
DOUBLE_ROWS = [("gluster", "gluster", None, [SOUND, SOUND]),
               ("bindfs", "bindfs", None, [SOUND, NEVER_MEET]),
               ("smbnetfs", "smbnetfs", None, [SOUND, NEVER_MEET]),
               ("smbnetfs", "smbnetfs", {"hostA": "samba"}, [SOUND, NEVER_MEET]),
               ("gluster", "bindfs", None, [SOUND, phase(GRANTED_TWICE_ON_P)]),
               ("bindfs-lf", "bindfs-lf", None, [ABORTED_IN_H_LOCKING]),
               ("gluster", "bindfs-lf", None, [phase(GRANTED_TWICE_ON_P), SOUND])]


def row_name(mode, h, p, via):
    return "%s-%s-%s%s" % (mode, h, p, "".join("-%s-%s" % item for item in (via or {}).items()))


class ShareRowTest(unittest.TestCase):
    """Each row on hostA alone (single) or on hostA and hostB at once, each
    with its own mounts of the shares (double).  The single phase of each
    host uses names of its own host and process, so each host's single phase
    gives its single row's verdict; the mutual phase pairs the two hosts
    through the master file in -h.  Nothing may be left."""
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        cls.shares = rig.Rig()
        cls.addClassCleanup(cls.shares.stop)
        cls.shares.start()

    def check(self, hosts, mode, h, p, expected, via=None):
        with self.subTest(mode=mode, h=h, p=p, via=via):
            failed = expected != [SOUND] * len(expected)
            runs, left = self.shares.run(hosts, mode, h, p, row_name(mode, h, p, via),
                                         BROKEN_SHARE_LIMIT if failed else None, via)
            for run in runs:
                self.assertEqual((run.host, expected, zarnrun.FAILED if failed else 0, b""),
                                 (run.host, phases(run.report), run.status, run.stderr))
            self.assertEqual([], left)

    def test_single_rows(self):
        for h, p, verdict_of_row in SINGLE_ROWS:
            self.check(["hostA"], "single", h, p, [verdict_of_row])

    def test_double_rows(self):
        for h, p, via, expected in DOUBLE_ROWS:
            self.check(["hostA", "hostB"], "double", h, p, expected, via)

    # The last rows put the tool on the folder that Samba exports, with an
    # SMB client beside it that opens the tool's files as a Windows program
    # would.
    def test_linkage_check_with_an_smb_client(self):
        # The person at the SMB client opens F in turn 1, creates it in turn
        # 2; in turn 3 its open succeeds (Samba does not see the tool's
        # unshared open on the folder); in turn 4 it holds F:
        # - with share access 0, which Samba keeps among its own clients:
        #   the tool's unshared open succeeds, 48 NG with 28;
        # - shared, with a lock over the whole range, which Samba takes as a
        #   POSIX lock in the folder: the tool counts it as an open that
        #   shares nothing, 48 OK.
        # F, the person's, stays, as after every linkage check.
        for holds, ng in (("deny", {("-f", OPENED_BY_THE_APPLICATION): [28]}), ("lock", {})):
            with self.subTest(holds=holds):
                folder = os.path.join(self.shares.data("samba"), "userapl-" + holds)
                os.makedirs(folder)
                person = self.shares.smb_person(self)
                report, _, status = test_userapl.converse(
                    self, ["-f", os.path.join(folder, "F.txt")], folder,
                    {test_userapl.CANNOT_OPEN: ("open", 0), test_userapl.HOLD: (holds, 0)},
                    person=person)
                self.assertEqual([phase(ng, ["-f"])], phases("".join(report).encode()))
                self.assertEqual((zarnrun.FAILED if ng else 0, ["F.txt"], 0),
                                 (status, os.listdir(folder), rig.smb_end(person)))

    def test_single_check_beside_an_smb_client(self):
        # The client opens every check file with share access 0 as it
        # appears.  Samba keeps that among its clients: the tool, on the
        # folder, opens, locks and deletes as if alone, and every group is OK.
        person = self.shares.smb_person(self)
        row = os.path.join(self.shares.data("samba"), row_name("single", "samba", "samba", None))
        self.assertEqual(0, person.do("watch", os.path.join(row, "h"), os.path.join(row, "p")))
        self.check(["hostA"], "single", "samba", "samba", [SOUND])
        # The files it held unshared while the tool used them:
        self.assertGreater(rig.smb_end(person), 0)


if __name__ == "__main__":
    rig.enter(os.path.abspath(__file__))
    unittest.main()
