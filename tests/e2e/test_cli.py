"""The command line, the validation and the log file of zarntwchk, run as a
process: exact standard-error bytes, empty standard output, exit status."""

import os
import random
import re
import sys
import unittest
from unittest import mock

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import zarnrun  # noqa: E402
from zarnrun import FAILED, Result, TempFolder, ansi, run, unexplained_ng  # noqa: E402

USAGE = (b"usage:\r\n"
         b"zarntwchk -m single -p targetpath -h zarsharepath [-o logfile] [-j jsonfile] [-t timeout]\r\n"
         b"zarntwchk -m double -p targetpath -h zarsharepath [-o logfile] [-j jsonfile] [-t timeout]\r\n"
         b"zarntwchk -m userapl -f targetfile [-o logfile] [-j jsonfile] [-t timeout]")

# Validation messages: (English, Japanese).
MESSAGES = {
    16: ("Failed to open the log file. \r\n", "ログファイルを開くことができませんでした。\r\n"),
    23: ("The file to be checked already exists. \r\n", "確認対象ファイルが既に存在しています。\r\n"),
    24: ("A folder is specified for the file to be checked. \r\n",
         "確認対象ファイルにフォルダが指定されています。\r\n"),
    25: ("The folder specified for the file to be checked is invalid. \r\n",
         "確認対象ファイルに指定されたフォルダが不正です。\r\n"),
    36: ("The specified path of the environment settings shared by ZARFO products is invalid. \r\n",
         "指定されたZARFO製品間共有環境設定パスが不正です。\r\n"),
    37: ("The specified path to be checked is invalid. \r\n", "指定された確認対象パスが不正です。\r\n"),
    112: ("Failed to open the JSON report file. \r\n",
          "JSONレポートファイルを開くことができませんでした。\r\n"),
}


def message(msg_id, japanese=False):
    english, ja = MESSAGES[msg_id]
    return ansi(ja) if japanese else english.encode("ascii")


class CommandLineTest(zarnrun.Case):
    def setUp(self):
        # A caller's environment that must not reach the tool: Python's own
        # LC_CTYPE when LANG is missing, and a Wine trace channel.
        caller = mock.patch.dict(os.environ, {"LC_CTYPE": "C.UTF-8", "WINEDEBUG": "+nls"})
        caller.start()
        self.addCleanup(caller.stop)
        super().setUp()
        self.read_only = self.tmp.mkdir("read-only")
        zarnrun.make_read_only(self.read_only)
        self.missing = self.tmp.join("missing")
        self.exists = self.tmp.write("exists.txt", b"x")
        self.read_only_file = self.tmp.write("read-only.json", b"{}")
        zarnrun.make_read_only(self.read_only_file)

    def check(self, rows, lang=None):
        """Runs each (arguments, stderr) row: refused, status 255, nothing on stdout."""
        for args, stderr in rows:
            with self.subTest(args=args, lang=lang):
                result = run(args, lang=lang)
                self.assertEqual(Result(FAILED, b"", stderr), result)

    def single(self, target=None, share=None):
        return ["-m", "single", "-p", target or self.target, "-h", share or self.share]

    def test_values(self):
        # A line the parser accepts goes on to validation: here it stops at
        # the missing share path, or at the 200 characters' missing folder.
        base, passed = self.single(share=self.missing), message(36)
        head = self.tmp.join("missing", "")  # paths of 200 and 201 characters in it
        p200, p201 = (head + "x" * (n - len(head)) for n in (200, 201))
        self.check([(base + ["-t", t], passed) for t in ("10", "600", "30abc")] +
                   [(base + ["-t", t], USAGE) for t in ("9", "601", "0x10", "")] + [
            (self.single(target=p200), message(37)), (self.single(target=p201), USAGE),
            (self.single(share=p200), message(36)), (self.single(share=p201), USAGE),
            (["-m", "userapl", "-f", p200], message(25)), (["-m", "userapl", "-f", p201], USAGE),
            (self.single() + ["-o", p200], message(16)), (self.single() + ["-o", p201], USAGE),
            (self.single() + ["-j", p200], message(112)), (self.single() + ["-j", p201], USAGE),
            # A first -p with an empty value does not count as given.
            (["-m", "single", "-p", "", "-p", self.target, "-h", self.missing], passed),
        ])

    def test_malformed_lines(self):
        base = self.single()
        modes = [["-m", mode] for mode in ("single", "double", "userapl")]
        self.check([(line, USAGE) for line in modes + [
            base + ["-m", "single"],
            base + ["-t", "20", "-t", "20"],
            base + ["-p", self.target],
            base + ["-o"],
            base + ["-j", "a.json", "-j", "b.json"],
            ["-m", "SINGLE"] + base[2:],
            ["-M"] + base[1:],
            base + ["/t", "30"],
            base + ["-x", "30"],
            # Options that do not fit the mode.
            base + ["-f", "f"],
            ["-m", "double", "-p", self.target, "-h", self.share, "-f", "f"],
            ["-m", "single", "-p", self.target],
            ["-m", "double", "-h", self.share],
            ["-m", "userapl", "-f", "f", "-p", self.target],
            ["-m", "userapl", "-f", "f", "-h", self.share],
        ]])

    def test_folders_and_log_file(self):
        # Every refusal in English and in Japanese; the usage text stays English.
        rows = [
            (self.single(share=self.read_only), 36),
            (self.single(share=self.exists), 36),
            (self.single(target=self.missing, share=self.missing), 36),  # share first
            (self.single(target=self.read_only), 37),
            (["-m", "double", "-p", self.missing, "-h", self.share], 37),
            (self.single() + ["-o", self.share], 16),
            # The JSON report: a folder, a file in a missing folder, a
            # read-only file.
            (self.single() + ["-j", self.share], 112),
            (self.single() + ["-j", self.tmp.join("missing", "run.json")], 112),
            (self.single() + ["-j", self.read_only_file], 112),
        ] + [(["-m", "userapl", "-f", path], msg_id) for path, msg_id in (
            (self.exists, 23),
            (self.share, 24),
            (self.share + "/", 24),
            (self.tmp.join("new") + "/", 24),
            (self.tmp.join("H", ".txt"), 24),  # a dot-only last component
            (self.tmp.join("missing", "file.txt"), 25),
            (self.tmp.join("read-only", "file.txt"), 25),
            (self.tmp.join("exists.txt", "file.txt"), 25),
        )]
        for lang in (None, "ja_JP.UTF-8"):
            self.check([([], USAGE)] + [(args, message(msg_id, lang is not None))
                                        for args, msg_id in rows], lang=lang)
        self.assertFoldersEmpty("read-only")


# Random command lines: a well-formed line of a random mode, some of it
# spoilt.  Values that name files stay inside the line's own temporary
# folder (no "/" in a random byte value, which stays relative to it).
JUNK_BYTES = bytes(b for b in range(1, 256) if b != ord("/"))
JUNK_OPTIONS = ["-x", "-", "--", "/t", "-mm", "-M", "", "m", "-T"]
TIMEOUTS = ["10"] * 8 + ["10abc", " +10", "9", "601", "-10", "0x10", "", "99999999999"]


def junk(rng):
    length = rng.choice([0, 1, 3, 9, 199, 200, 201, 300])  # around the 200 characters' limit
    return bytes(rng.choice(JUNK_BYTES) for _ in range(length))


def random_line(rng, tmp):
    mode = rng.choice(["single", "double", "userapl"])
    pairs = [["-m", mode]]
    if mode == "userapl":
        pairs.append(["-f", tmp.join(rng.choice(["new.txt", "P", "missing/f"]))])
    else:
        pairs += [["-p", tmp.join("P")], ["-h", tmp.join("H")]]
    if rng.random() < 0.3:
        pairs.append(["-o", tmp.join("run.log")])
    for _ in range(rng.choice([0, 1, 1, 1, 1, 2, 2, 2, 3, 3])):
        pair = rng.choice(pairs)
        spoil = rng.choice([0, 0, 0, 1, 1, 2, 3, 4])
        if spoil == 0:
            pair[1] = junk(rng)
        elif spoil == 1:
            pair[1] = tmp.join("x" * rng.randrange(180, 220))
        elif spoil == 2:
            pair[0] = rng.choice(JUNK_OPTIONS + [junk(rng)])
        elif spoil == 3:
            pairs.append(list(rng.choice(pairs)))
        else:
            pairs.append(["-" + rng.choice("mphfotj"), rng.choice([junk(rng), tmp.join("H")])])
    # Every line that may start a check waits at most 10 s for anything.
    pairs.append(["-t", rng.choice(TIMEOUTS)])
    rng.shuffle(pairs)
    line = [token for pair in pairs for token in pair]
    if rng.random() < 0.1:
        del line[rng.randrange(len(line))]
    return line


class RandomCommandLineTest(unittest.TestCase):
    def test_only_usage_a_message_or_a_run(self):
        refusals = {USAGE, b"System error \r\n"} | {message(i) for i in MESSAGES}
        # A linkage check that starts finds nobody answering, a double check
        # no partner: NG after -t.
        check = rb'Test Operation "(Single environment|External application linkage) check" '
        operation = rb"^" + check + rb"will now start\. \r\n"
        verdict = (rb'Test Operation "(Single environment|Mutual environment|External application '
                   rb'linkage) check" finished\. \.\.\. \[ (OK|NG) \]\r\n$')
        rng = random.Random(8)  # a fixed seed: a failing line comes back on every run
        outcomes = {"usage": 0, "message": 0, "run": 0}
        for n in range(300):
            with TempFolder() as tmp:
                tmp.mkdir("P")
                tmp.mkdir("H")
                args = random_line(rng, tmp)
                result = run(args, cwd=tmp.path, timeout=300)
                logged = "-o" in args and result.stdout == b""
                printed = re.match(operation, result.stdout) and re.search(verdict, result.stdout)
                if result.status == FAILED and result.stdout == b"" and result.stderr in refusals:
                    outcomes["usage" if result.stderr == USAGE else "message"] += 1
                elif result.status in (0, FAILED) and result.stderr == b"" and (logged or printed):
                    self.assertEqual([], unexplained_ng(result.stdout), "line %d: %r" % (n, args))
                    outcomes["run"] += 1
                else:
                    self.fail("line %d: %r gave %r" % (n, args, result))
                self.assertEqual([], tmp.entries("P") + tmp.entries("H"), "line %d: %r" % (n, args))
        self.assertTrue(all(outcomes.values()), outcomes)


if __name__ == "__main__":
    unittest.main()
