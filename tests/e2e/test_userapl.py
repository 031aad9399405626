"""The external application linkage check (`-m userapl -f F -t 10`) with a
scripted person: the test reads the tool's report as it is printed and, at
each wait, does what the instruction before it asks, through its hands (the
program ZARN_PERSON names, tests/support/person: on POSIX built on the
tool's own file layer, under Wine a Windows program in the same prefix),
then deletes the signal file ZARSTOP.stop beside F.

expected/userapl.en.txt holds the report of a sound run, one line per line
(CR LF on output), with <F> for the file to be checked, <S> for the signal
file and <SHARING> for the system's text of error 32.  Each case compares
the whole report with it, edited where the case departs from a sound run,
and checks the exit status and what is left in F's folder.
"""

import fcntl
import os
import signal
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import zarnrun  # noqa: E402

WINE = zarnrun.UNDER_WINE
PERSON = os.environ.get("ZARN_PERSON", "")
SYSTEM_TEXT = {  # the system's texts of errors 2 and 32: Wine's, or the POSIX layer's
    2: "File not found. " if WINE else "The named file does not exist. ",
    32: "Sharing violation. " if WINE else
        "The file is open elsewhere with sharing that refuses this access. ",
}

WAITING = ("        Processing waits until the external application synchronization file is "
           "deleted.\r\n")
EXCLUSIVE_OPEN = "        The file to be checked will now be exclusively opened. (%s)\r\n"
CANNOT_OPEN = ("Make sure that the file to be checked cannot be opened by using an external "
               "application.")
HOLD = "Open the file to be checked by using an external application."
# What the person does for each of the tool's instructions, and what the
# file interface must answer: 0 done, or the Windows error number.
ASKED = {
    "Make sure that a file that was created by the tool and that is to be checked can be opened "
    "from an external application.": ("open", 0),
    "Create a file to be checked by using an external application.": ("create", 0),
    CANNOT_OPEN: ("open", 32),  # the tool holds F unshared
    HOLD: ("hold", 0),
}


class Person:
    """The hands: one command and one answer a line, by the scripted person
    or by `program`."""

    def __init__(self, test, program=None):
        if program is None and not os.path.isfile(PERSON):
            raise RuntimeError("ZARN_PERSON does not name the person's program: %r" % PERSON)
        self.proc = subprocess.Popen(program or zarnrun.RUNNER + [PERSON], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, env=zarnrun.environment(), text=True)
        test.addCleanup(self.proc.wait, 60)
        test.addCleanup(self.proc.stdout.close)
        test.addCleanup(self.proc.stdin.close)

    def name(self, path):
        return path

    def do(self, command, *paths):
        """0, the Windows error number, or the name of the status that refused it."""
        self.proc.stdin.write(" ".join([command] + [self.name(p) for p in paths]) + "\n")
        self.proc.stdin.flush()
        answer = self.proc.stdout.readline().strip()
        return int(answer) if answer.isdigit() else answer


def lock_whole_file(test, path):
    """Holds F as office suites on Linux do after saving it: a whole-file POSIX write lock."""
    fd = os.open(path, os.O_RDWR)
    test.addCleanup(os.close, fd)
    fcntl.lockf(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
    return 0


def converse(case, args, folder, answers, interrupt_at=None, cwd=None, person=None):
    """Runs the tool and plays the person: at each wait, the action that
    `answers` gives for the instruction printed last (else the one of
    ASKED), then the signal file deleted, by `person` (the scripted person
    when None); with `answers` None nobody answers at all.  With
    `interrupt_at`, SIGINT at that wait instead.
    Returns the report lines, the time each was read, and the exit status."""
    signal_file = os.path.join(folder, "ZARSTOP.stop")
    f = os.path.join(folder, "F.txt")
    if person is None and answers is not None:
        person = Person(case)
    proc = zarnrun.start(case, ["-m", "userapl", "-t", "10"] + args, subprocess.PIPE, cwd=cwd)
    lines, times, asked, waits = [], [], None, 0
    for raw in iter(proc.stdout.readline, b""):
        lines.append(raw.decode("utf-8"))
        times.append(time.monotonic())
        asked = next((text for text in ASKED if lines[-1][8:].startswith(text)), asked)
        if lines[-1] != WAITING:
            continue
        waits += 1
        case.assertTrue(os.path.isfile(signal_file), "no signal file at wait %d" % waits)
        if waits == interrupt_at:
            proc.send_signal(signal.SIGINT)
        elif person is not None:
            command, answer = answers.get(asked, ASKED[asked])
            done = command(case, f) if callable(command) else person.do(command, f)
            case.assertEqual(answer, done, "%s at wait %d" % (command, waits))
            case.assertEqual(0, person.do("delete", signal_file))
    status = proc.wait(60)
    times.append(time.monotonic())  # the end of the process
    case.assertEqual(b"", proc.stderr.read())
    return lines, times, status


def failed(lines):
    """`lines` with their verdicts turned to NG."""
    return [line.replace("[ OK ]", "[ NG ]") for line in lines]


class LinkageCheckTest(zarnrun.Case):
    def golden(self, shown_f, shown_s):
        return [line.replace("<F>", shown_f).replace("<S>", shown_s)
                .replace("<SHARING>", SYSTEM_TEXT[32]) for line in zarnrun.golden("userapl.en")]

    def test_persons(self):
        # Table: the person, group 48's error line (None: the golden report),
        # the exit status, whether F is left.  The sound person's F is given
        # by a bare file name: the signal file then lies in the current folder.
        rows = [
            ("sound", {}, None, 0, True),
            ("opens F and closes it again instead of keeping it open", {HOLD: ("open", 0)},
             "! The file to be checked could be opened, which should not have been possible.",
             zarnrun.FAILED, True),
            # The open is refused, but not for the sharing: nothing was shown.
            ("deletes F instead of opening it", {HOLD: ("delete", 0)},
             "! The file to be checked could not be opened. ERRORCODE=2(%s)" % SYSTEM_TEXT[2],
             zarnrun.FAILED, False),
        ]
        if not WINE:  # Wine's share modes do not see POSIX locks
            rows.append(("holds a whole-file POSIX lock", {HOLD: (lock_whole_file, 0)}, None, 0,
                         True))
        for row, (name, answers, error_line, status, f_left) in enumerate(rows):
            with self.subTest(person=name):
                folder = self.tmp.mkdir("row%d" % row)
                f, s = os.path.join(folder, "F.txt"), os.path.join(folder, "ZARSTOP.stop")
                cwd = None  # elsewhere: the signal file goes beside F, not into the current folder
                if name == "sound":
                    f, s, cwd = "F.txt", "ZARSTOP.stop", folder
                args = ["-f", f, "-j", self.tmp.join("row%d.json" % row)]
                report, _, got_status = converse(self, args, folder, answers, cwd=cwd)
                expected = self.golden(f, s)
                if error_line is not None:  # group 48 NG from its error line on
                    at = len(expected) - 1 - expected[::-1].index(EXCLUSIVE_OPEN % f)
                    expected = (expected[:at + 1] + ["        %s\r\n" % error_line] +
                                failed(expected[at + 2:]))
                self.assertEqual(expected, report)
                self.assertEqual(status, got_status)
                zarnrun.assert_json_report(self, args[-1], "".join(report),
                                           ["-m", "userapl", "-t", "10"] + args, status)
                self.assertEqual(["F.txt"] if f_left else [], self.tmp.entries("row%d" % row))

    def test_nobody_answers_or_an_interrupt_comes_during_a_wait(self):
        # Nobody answers: the first wait ends after -t (the least a wait
        # lasts, too), the tool deletes the signal file, then F.  SIGINT at
        # the first wait (F is the tool's own new file) or at the fourth (the
        # tool holds it unshared): the signal file goes, F stays, nothing is
        # printed after the wait began, and the process ends by the signal
        # without waiting for the person.
        for wait in (None, ) + (() if WINE else (1, 4)):  # console signals: the POSIX build
            with self.subTest(interrupt_at=wait):
                folder = self.tmp.mkdir("at%s" % wait)
                f, s = os.path.join(folder, "F.txt"), os.path.join(folder, "ZARSTOP.stop")
                report, times, status = converse(self, ["-f", f], folder,
                                                 None if wait is None else {}, interrupt_at=wait)
                golden = self.golden(f, s)
                waits = [i for i, line in enumerate(golden) if line == WAITING]
                if wait is None:
                    self.assertEqual(golden[:waits[0] + 1] + [line + "\r\n" for line in [
                        "        The synchronization file was deleted. (%s)" % s,
                        "        ! The processing waiting time exceeded the timeout time.",
                        "        The file to be checked was deleted. (%s)" % f,
                        '    Test Processing "Open, from an external application, a file created '
                        'by the tool" finished. ... [ NG ]']] + failed(golden[-2:]), report)
                    self.assertEqual((zarnrun.FAILED, []), (status, self.tmp.entries("atNone")))
                    waited = times[waits[0] + 1] - times[waits[0]]
                    print("\nthe wait of -t 10 lasted %.2f s" % waited)
                    self.assertGreaterEqual(waited, 9.9)
                else:
                    self.assertEqual(golden[:waits[wait - 1] + 1], report)
                    self.assertEqual((-signal.SIGINT, ["F.txt"]),
                                     (status, self.tmp.entries("at%d" % wait)))
                    print("\nSIGINT at wait %d: ended %.3f s later" % (wait, times[-1] - times[-2]))
                    self.assertLess(times[-1] - times[-2], 5)  # -t 10: a bound against the wait


if __name__ == "__main__":
    unittest.main()
