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
from zarnrun import FAILED, Result, run, unexplained_ng  # noqa: E402

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
    """The bytes of a message: Japanese in code page 932 under Wine, UTF-8 natively."""
    english, ja = MESSAGES[msg_id]
    return ja.encode("cp932" if zarnrun.UNDER_WINE else "utf-8") if japanese else english.encode()


# Random command lines: a well-formed line of a random mode, some of it
# spoilt.  Values that name files stay inside the line's own temporary
# folder (no "/" in a random byte value, which stays relative to it).
JUNK_BYTES = bytes(b for b in range(1, 256) if b != ord("/"))
JUNK_OPTIONS = ["-x", "-", "--", "/t", "-mm", "-M", "", "m", "-T"]
TIMEOUTS = ["10"] * 8 + ["10abc", " +10", "9", "601", "-10", "0x10", "", "99999999999"]


def junk(rng):
    length = rng.choice([0, 1, 3, 9, 199, 200, 201, 300])  # around the 200 characters' limit
    return bytes(rng.choice(JUNK_BYTES) for _ in range(length))


def random_line(rng, folder):
    mode, share = rng.choice(["single", "double", "userapl"]), os.path.join(folder, "H")
    pairs = [["-m", mode]]
    if mode == "userapl":
        pairs.append(["-f", os.path.join(folder, rng.choice(["new.txt", "P", "missing/f"]))])
    else:
        pairs += [["-p", os.path.join(folder, "P")], ["-h", share]]
    if rng.random() < 0.3:
        pairs.append(["-o", os.path.join(folder, "run.log")])
    for _ in range(rng.choice([0, 1, 1, 1, 1, 2, 2, 2, 3, 3])):
        pair = rng.choice(pairs)
        spoil = rng.choice([0, 0, 0, 1, 1, 2, 3, 4])
        if spoil == 0:
            pair[1] = junk(rng)
        elif spoil == 1:
            pair[1] = os.path.join(folder, "x" * rng.randrange(180, 220))
        elif spoil == 2:
            pair[0] = rng.choice(JUNK_OPTIONS + [junk(rng)])
        elif spoil == 3:
            pairs.append(list(rng.choice(pairs)))
        else:
            pairs.append(["-" + rng.choice("mphfotj"), rng.choice([junk(rng), share])])
    # Every line that may start a check waits at most 10 s for anything.
    pairs.append(["-t", rng.choice(TIMEOUTS)])
    rng.shuffle(pairs)
    line = [token for pair in pairs for token in pair]
    if rng.random() < 0.1:
        del line[rng.randrange(len(line))]
    return line


class CommandLineTest(zarnrun.Case):
    # A caller's environment that must not reach the tool: Python's own
    # LC_CTYPE when LANG is missing, and a Wine trace channel.
    @mock.patch.dict(os.environ, {"LC_CTYPE": "C.UTF-8", "WINEDEBUG": "+nls"})
    def test_refusals(self):
        # Every refused line in English and in Japanese, by the number of its
        # message (None: the usage text, which stays English).  A line the
        # parser accepts goes on to validation: with -t it stops at the
        # missing share path, or at the 200 characters' missing folder.
        read_only, missing = self.tmp.mkdir("read-only"), self.tmp.join("missing")
        exists, read_only_file = self.tmp.write("exists.txt", b"x"), self.tmp.write("ro.json", b"{}")
        os.chmod(read_only, 0o555)  # the read-only attribute, as the tool sees it
        os.chmod(read_only_file, 0o444)
        base, no_share = self.single(), ["-m", "single", "-p", self.target, "-h", missing]
        head = self.tmp.join("missing", "")  # paths of 200 and 201 characters in it
        p200, p201 = (head + "x" * (n - len(head)) for n in (200, 201))
        refused = {
            36: [no_share + ["-t", t] for t in ("10", "600", "30abc", " \t+30", "0045")] + [
                self.single(share=p200), self.single(share=read_only), self.single(share=exists),
                self.single(target=missing, share=missing),  # the share path first
                ["-m", "single", "-p", ""] + no_share[2:]],  # an empty first -p is not given
            37: [self.single(target=p200), self.single(target=read_only),
                 ["-m", "double", "-p", missing, "-h", self.share]],
            16: [base + ["-o", p200], base + ["-o", self.share]],
            112: [base + ["-j", path] for path in (p200, self.share, read_only_file,
                                                   self.tmp.join("missing", "run.json"))],
            23: [["-m", "userapl", "-f", exists]],
            24: [["-m", "userapl", "-f", path] for path in (  # the last: a dot-only last component
                self.share, self.share + "/", self.tmp.join("new") + "/", self.tmp.join("H", ".txt"))],
            25: [["-m", "userapl", "-f", path] for path in (p200, self.tmp.join("missing", "f.txt"),
                 self.tmp.join("read-only", "f.txt"), self.tmp.join("exists.txt", "f.txt"))],
            # -t as atoi reads it, clamped to 32 bits: 2^32 + 30 must not wrap to 30.
            None: [no_share + ["-t", t] for t in ("9", "601", "0x10", "", "4294967326",
                                                  "-4294967286")] + [
                self.single(target=p201), self.single(share=p201), ["-m", "userapl", "-f", p201],
                base + ["-o", p201], base + ["-j", p201],
                [], ["-m", "single"], ["-m", "double"], ["-m", "userapl"],
                base + ["-m", "single"], base + ["-t", "20"], base + ["-p", self.target],
                base + ["-o"], base + ["-j", "a.json", "-j", "b.json"], ["-m", "SINGLE"] + base[2:],
                ["-M"] + base[1:], base + ["/t", "30"], base + ["-x", "30"],
                # Options that do not fit the mode.
                base + ["-f", "f"], ["-m", "double", "-p", self.target, "-h", self.share, "-f", "f"],
                ["-m", "single", "-p", self.target], ["-m", "double", "-h", self.share],
                ["-m", "userapl", "-f", "f", "-p", self.target],
                ["-m", "userapl", "-f", "f", "-h", self.share]],
        }
        for lang in (None, "ja_JP.UTF-8"):
            for msg_id, lines in refused.items():
                for args in lines:
                    with self.subTest(args=args, lang=lang):
                        stderr = USAGE if msg_id is None else message(msg_id, lang is not None)
                        self.assertEqual(Result(FAILED, b"", stderr), run(args, lang=lang))
        self.assertFoldersEmpty("read-only")

    def test_random_lines_give_only_usage_a_message_or_a_run(self):
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
            with self.subTest(line=n):
                folder = self.tmp.mkdir(str(n))
                os.mkdir(os.path.join(folder, "P"))
                os.mkdir(os.path.join(folder, "H"))
                args = random_line(rng, folder)
                result = run(args, cwd=folder, timeout=120)
                logged = "-o" in args and result.stdout == b""
                printed = re.match(operation, result.stdout) and re.search(verdict, result.stdout)
                if result.status == FAILED and result.stdout == b"" and result.stderr in refusals:
                    outcomes["usage" if result.stderr == USAGE else "message"] += 1
                elif result.status in (0, FAILED) and result.stderr == b"" and (logged or printed):
                    self.assertEqual([], unexplained_ng(result.stdout), args)
                    outcomes["run"] += 1
                else:
                    self.fail("%r gave %r" % (args, result))
                self.assertEqual([[], []], [self.tmp.entries(str(n), f) for f in "PH"], args)
        self.assertTrue(all(outcomes.values()), outcomes)


if __name__ == "__main__":
    unittest.main()
