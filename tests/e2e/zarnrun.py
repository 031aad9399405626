"""Running zarntwchk from the end-to-end tests, and what they share: a case
with fresh folders, starting and watching the tool, golden files and the
report normaliser.

ZARN_EXE names the tool; ZARN_RUNNER ("wine" for the Windows build, else
empty) is put in front of it.  Wine takes the Linux paths of the tests as
they are (an absolute path lands on drive Z:, the whole file system), so no
path is converted.  Under Wine the process locale comes from the locale
variables as well (ja_JP.UTF-8 gives locale 1041 and code page 932).
"""

import fcntl
import json
import os
import re
import shutil
import signal
import socket
import stat
import subprocess
import sys
import tempfile
import time
import unittest
from collections import namedtuple

EXE = os.environ.get("ZARN_EXE", "")
RUNNER = os.environ.get("ZARN_RUNNER", "").split()
UNDER_WINE = bool(RUNNER) and os.path.basename(RUNNER[0]).startswith("wine")
IS_ROOT = hasattr(os, "geteuid") and os.geteuid() == 0
EXPECTED = os.path.join(os.path.dirname(os.path.abspath(__file__)), "expected")

# Exit status -1 as a POSIX parent sees it (Wine passes 0xFFFFFFFF on as 255).
FAILED = 255

HOST = socket.gethostname()
PID_IN_NAME = r"\.#ZARLOCK\.%s\.(\d+)\." % re.escape(HOST)

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
           "finish": "同期終了処理を開始します。", "deleted": "ファイルを削除しました。(",
           "own": "自プロセスのファイルをオープンします。(", "partner": "対向プロセスのファイルをオープンします。("},
}

Result = namedtuple("Result", "status stdout stderr")


def require_exe():
    """Raises when the tool is not there: a suite that runs nothing must not pass."""
    if not EXE or not os.path.isfile(EXE):
        raise RuntimeError("ZARN_EXE does not name the built tool: %r" % EXE)


# What a run of the tool keeps of the caller's environment: where programs,
# the home folder, temporary files and the Wine prefix are, and the
# sanitizers' settings of the preset.  Nothing else reaches the tool: a
# stray LC_CTYPE (Python itself puts one there when LANG is missing) would
# choose Wine's code page, a WINEDEBUG channel would write to standard error.
KEPT = ("PATH", "HOME", "TMPDIR", "LD_LIBRARY_PATH", "WINEPREFIX", "WINEARCH", "WINESERVER",
        "WINELOADER", "ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS", "LSAN_OPTIONS")


def environment(lang=None, extra=None):
    """The whole environment of one run: the locale `lang` (C.UTF-8 when
    None) for every category, and what KEPT names."""
    env = {name: os.environ[name] for name in KEPT if name in os.environ}
    env["LANG"] = env["LC_ALL"] = lang or "C.UTF-8"
    if UNDER_WINE:
        env["WINEDEBUG"] = "-all"
    if extra:
        env.update(extra)
    return env


def run(args, lang=None, cwd=None, timeout=600, env=None, prefix=()):
    """Runs the tool with `args` (strings), behind the command `prefix`;
    its status and output bytes.

    Now and then, mostly under load, a program under Wine 8 ends with status
    1 and no output, which the tool never gives, or does not end at all; the
    same command then runs as it should.  Such a run is made once more, and
    said so on standard error; a run that fails so twice fails."""
    require_exe()
    command = list(prefix) + RUNNER + [EXE] + list(args)
    for last in (not UNDER_WINE, True):
        try:
            proc = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, cwd=cwd, env=environment(lang, env),
                                  timeout=timeout)
            if last or (proc.returncode, proc.stdout, proc.stderr) != (1, b"", b""):
                return Result(proc.returncode, proc.stdout, proc.stderr)
        except subprocess.TimeoutExpired:
            if last:
                raise
        print("Wine did not start %r: run again" % command, file=sys.stderr)


def start(case, args, stdout, stderr=subprocess.PIPE, stdin=subprocess.DEVNULL, lang=None,
          env=None, cwd=None, program=None):
    """Starts the tool (or `program`) with `args`, SIGINT and SIGTERM at
    their defaults, for the test `case`: it kills the process should it
    still run at the end, and closes the pipes.  (A background job of a
    non-interactive shell starts with SIGINT ignored, and the tool keeps a
    signal ignored at its start ignored.)"""
    require_exe()
    proc = subprocess.Popen((program or RUNNER + [EXE]) + list(args), stdin=stdin,
                            stdout=stdout, stderr=stderr, cwd=cwd, env=environment(lang, env),
                            preexec_fn=lambda: [signal.signal(s, signal.SIG_DFL)
                                                for s in (signal.SIGINT, signal.SIGTERM)])
    for pipe in (proc.stdin, proc.stdout, proc.stderr):
        if pipe is not None:
            case.addCleanup(pipe.close)
    case.addCleanup(lambda: proc.poll() is None and proc.kill())
    return proc


def wait_until(condition, what, limit=120, pause=0.01):
    """Polls `condition` until it holds; the limit is a bound against a
    hang, never a measure of speed."""
    end = time.monotonic() + limit
    while not condition():
        if time.monotonic() > end:
            raise AssertionError("never: " + what)
        time.sleep(pause)


def read(path):
    """The bytes of the file at `path`, empty while it does not exist."""
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return b""


def settled(path):
    """Whether the file at `path` stayed the same for half a second (five
    polls of the tool: a thread that could go on would have printed)."""
    before = read(path)
    time.sleep(0.5)
    return read(path) == before


def golden(name):
    """The lines of expected/NAME.txt, each ending in CR LF as the tool prints it."""
    with open(os.path.join(EXPECTED, name + ".txt"), encoding="utf-8", newline="\n") as f:
        return [line[:-1] + "\r\n" for line in f]


def lock_byte(fd, offset, kind=fcntl.LOCK_EX):
    """Takes a POSIX lock of `kind` on one byte without waiting; whether it got it."""
    try:
        fcntl.lockf(fd, kind | fcntl.LOCK_NB, 1, offset, os.SEEK_SET)
        return True
    except OSError:
        return False


def normalise(raw, share, target, lang):
    """A run's report as golden lines, the process ids in it, and the dropped
    deletion lines, each as (number of processing types begun so far, line).

    The two files of a paired test are numbered by role, which the order of
    arrival decides: <ROLE> and <OTHER>.  Which party deletes them depends on
    timing too: the deletions in a paired lock sequence's clean-up, and every
    deletion of a file of the mutual phase (named by role alone), are dropped."""
    text = raw.decode("cp932" if UNDER_WINE and lang == "ja" else "utf-8")
    text = text.replace(share, "<H>").replace(target, "<P>")
    pids = set(re.findall(PID_IN_NAME, text))
    text = re.sub(PID_IN_NAME, ".#ZARLOCK.<HOST>.<PID>.", text)
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


def unexplained_ng(report):
    """The finish lines of the groups of `report` (bytes, either language)
    that finished NG without a "!" line anywhere between their start and
    finish lines: an NG the administrator is given no reason for."""
    found, stack = [], []  # per open group: whether a "!" line stood in it
    for line in report.split(b"\r\n"):
        if line.startswith(b"        "):
            if line.startswith(b"        ! ") and stack:
                stack[-1] = True
        elif line.endswith((b"[ OK ]", b"[ NG ]")):
            reasoned = stack.pop() if stack else False
            if line.endswith(b"[ NG ]") and not reasoned:
                found.append(line)
            if stack:
                stack[-1] = stack[-1] or reasoned
        elif line:
            stack.append(False)
    return found


# Lines of a text report by language: a group's start and finish (at most
# three levels deep, six blanks).  Error lines are marked "!" or carry a
# system error.
GROUP_LINES = {
    "en": (re.compile(r" {0,6}Test (.*) will now start\. \r\n$"),
           re.compile(r" {0,6}Test (.*) finished\. \.\.\. \[ (OK|NG) \]\r\n$")),
    "ja": (re.compile(r" {0,6}テスト (.*)を開始します。\r\n$"),
           re.compile(r" {0,6}テスト (.*)が終了しました。 \.\.\. \[ (OK|NG) \]\r\n$")),
}


def report_groups(text, lang="en"):
    """The groups of a text report as [heading, result, error lines, children]."""
    roots, stack = [], []
    for line in text.splitlines(keepends=True):
        start, finish = (pattern.match(line) for pattern in GROUP_LINES[lang])
        if start:
            group = [start.group(1), None, [], []]
            (stack[-1][3] if stack else roots).append(group)
            stack.append(group)
        elif finish:
            stack.pop()[1] = finish.group(2)
        elif stack and (line.startswith("        ! ") or " ERRORCODE=" in line):
            stack[-1][2].append(line)
    return roots


def json_groups(groups):
    """The "groups" of a JSON report as report_groups gives them, its error
    lines as the text report prints them in English."""
    def line(e):
        text = ("! " if e["marked"] else "") + e["text"]
        if e["system_error"]:
            text += " ERRORCODE=%d(%s)" % (e["system_error"], e["system_text"])
        return "        %s\r\n" % text
    return [[g["heading"], g["result"], [line(e) for e in g["errors"]], json_groups(g["children"])]
            for g in groups]


def shape(groups):
    """Groups without their words: results and numbers of error lines."""
    return [[result, len(errors), shape(children)] for _, result, errors, children in groups]


def assert_json_report(case, path, report, args, status, lang="en"):
    """The JSON report at `path` of a whole run of the tool with `args` that
    printed `report` (its text) and ended with `status`: the same groups,
    results and error lines (in a Japanese run their number, the words being
    English), the run's facts, no file left behind, and no temporary file
    beside it.  The document."""
    doc = json.loads(read(path).decode("utf-8"))
    text_groups, groups = report_groups(report, lang), json_groups(doc["groups"])
    if lang == "en":
        case.assertEqual(text_groups, groups)
    else:
        case.assertEqual(shape(text_groups), shape(groups))
    case.assertTrue(all(g["heading"].isascii() for g in walk(doc["groups"])))
    option = dict(zip(args[::2], args[1::2]))
    facts = {"operation": option["-m"], "host": HOST, "target_path": option.get("-p"),
             "share_path": option.get("-h"), "target_file": option.get("-f"),
             "timeout_sec": int(option.get("-t", "30")), "interrupted": False,
             "exit_status": 0 if status == 0 else -1, "left_behind": [],
             "result": "OK" if status == 0 else "NG"}
    case.assertEqual(facts, {key: doc[key] for key in facts})
    pids = set(re.findall(PID_IN_NAME, report))
    case.assertTrue(pids <= {str(doc["pid"])}, pids)
    case.assertRegex(doc["version"], r"^\d+\.\d+\.\d+$")
    started, ended = (time.strptime(doc[key], "%Y-%m-%dT%H:%M:%SZ") for key in ("started", "ended"))
    case.assertLessEqual(started, ended)
    assert_no_temporary(case, path)
    return doc


def assert_no_temporary(case, path):
    """No temporary file of a JSON report left beside the report at `path`."""
    case.assertEqual([], [n for n in os.listdir(os.path.dirname(path)) if n.endswith(".tmp")])


def walk(groups):
    for group in groups:
        yield group
        yield from walk(group["children"])


class TempFolder:
    """A fresh folder, removed with everything in it, read-only entries too."""

    def __init__(self):
        self.path = tempfile.mkdtemp(prefix="zarn-e2e-")

    def join(self, *names):
        return os.path.join(self.path, *names)

    def mkdir(self, *names):
        path = self.join(*names)
        os.makedirs(path, exist_ok=True)
        return path

    def write(self, name, data=b""):
        path = self.join(name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def entries(self, *names):
        return sorted(os.listdir(self.join(*names)))

    def remove(self):
        for root, dirs, _ in os.walk(self.path):
            for name in dirs:
                path = os.path.join(root, name)
                if not os.path.islink(path):
                    os.chmod(path, os.stat(path).st_mode | stat.S_IWUSR | stat.S_IXUSR)
        shutil.rmtree(self.path, ignore_errors=True)


class Case(unittest.TestCase):
    """A test with a fresh folder of its own, and the folders H and P in it."""
    maxDiff = None

    def setUp(self):
        require_exe()
        self.tmp = TempFolder()
        self.addCleanup(self.tmp.remove)
        self.share = self.tmp.mkdir("H")
        self.target = self.tmp.mkdir("P")

    def single(self, *extra, target=None, share=None):
        """The arguments of a single check of P (or `target`) with H (or `share`)."""
        return ["-m", "single", "-p", target or self.target, "-h", share or self.share,
                "-t", "10"] + list(extra)

    def assertReport(self, raw, expected, lang="en", target=None):
        """The report `raw` of a run on H and P (or `target`), normalised, is
        `expected`: one process, no NG without its reason.  Its process ids and
        the deletion lines normalise() dropped."""
        lines, pids, deleted = normalise(raw, self.share, target or self.target, lang)
        self.assertEqual(expected, lines)
        self.assertEqual([], unexplained_ng(raw))
        self.assertEqual(1, len(pids), pids)
        return pids, deleted

    def assertFoldersEmpty(self, *more):
        """Nothing left in H, P and the further folders `more`."""
        folders = ("H", "P") + more
        self.assertEqual([[] for _ in folders], [self.tmp.entries(f) for f in folders])

