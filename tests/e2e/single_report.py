"""The report of a whole `-m single` run, written out from the plan of the
single environment check, and the normalisation that makes a real run
comparable with it byte for byte.

Only these differ from run to run and are normalised: the host name and the
process id in check-file names; the number in the two file names of the
paired lock sequence (it follows the role the main thread drew); the
synchronisation progress lines whose presence depends on which party
arrived first; and the "file deleted" lines at the end of a paired lock
sequence, which the main thread prints only for the files its own
clean-up pass happened to delete first.
"""

import re
import socket

# Catalogue texts used by a single run: (English, Japanese).
MESSAGES = {
    1: ('%*sTest %s finished. ... [ %s ]\r\n', '%*sテスト %sが終了しました。 ... [ %s ]\r\n'),
    2: ('%*sTest %s will now start. \r\n', '%*sテスト %sを開始します。\r\n'),
    8: ('Data will now be read from the file.', 'ファイルから読み込みます。'),
    9: ('Data will now be written to the file.', 'ファイルに書き込みます。'),
    10: ('The file will now be opened. (%s)', 'ファイルをオープンします。(%s)'),
    11: ('The file was deleted. (%s)', 'ファイルを削除しました。(%s)'),
    13: ('The file will now be closed.', 'ファイルを閉じます。'),
    15: ('Processing to release the resource will now be performed.', 'リソースの解放処理を実施します。'),
    20: ('Check target "Test for the path of environment settings shared by ZARFO products"', '確認対象「ZARFO製品間共有環境設定パスに対するテスト」'),
    21: ('Check target "Test for the path to be checked"', '確認対象「確認対象パスに対するテスト」'),
    38: ('A file on this host will now be unlocked.', '自ファイルをアンロックします。'),
    39: ('A file on this host will now be shared locked.', '自ファイルを共有ロックします。'),
    40: ('A file on this host will now be exclusively locked.', '自ファイルを排他ロックします。'),
    41: ('A file of the process on this host will now be opened. (%s)', '自プロセスのファイルをオープンします。(%s)'),
    43: ('A termination synchronization file will now be created.', '終了同期ファイルを作成します。'),
    46: ('Processing "File writing"', '処理「ファイルの書き込み」'),
    47: ('Processing "File reading"', '処理「ファイルの読み込み」'),
    51: ('Processing "Open an existing file when a file exists"', '処理「既存ファイルがある状態での既存ファイルのオープン」'),
    52: ('Processing "Open a new file when when a file exists"', '処理「既存ファイルがある状態での新規ファイルのオープン」'),
    53: ('Processing "Open an existing file when no file exists"', '処理「既存ファイルがない状態での既存ファイルのオープン」'),
    54: ('Processing "Open a new file when no file exists"', '処理「既存ファイルがない状態での新規ファイルのオープン」'),
    55: ('Processing "Release the shared lock"', '処理「共有ロックの解放」'),
    56: ('Processing "Obtain a shared lock with the setting in which processing waits until the lock is obtained"', '処理「共有ロックを待機する設定で取得」'),
    57: ('Processing "Obtain an exclusive lock on an area where a shared lock was released, with the setting in which processing does not wait until the lock is obtained"', '処理「共有ロックが解放された領域に対して、排他ロックを待機しない設定で取得」'),
    58: ('Processing "Obtain a shared lock on an area where a shared lock is being placed, with the setting in which processing waits until the lock is obtained"', '処理「共有ロック中の領域に対して、共有ロックを待機する設定で取得」'),
    59: ('Processing "Obtain an exclusive lock on an area where a shared lock is being placed, with the setting in which processing does not wait until the lock is obtained"', '処理「共有ロック中の領域に対して、排他ロックを待機しない設定で取得」'),
    60: ('Processing "Obtain an exclusive lock on an area where a shared lock is being placed, with the setting in which processing waits until the lock is obtained"', '処理「共有ロック中の領域に対して、排他ロックを待機する設定で取得」'),
    61: ('Processing "Delete a file created by the process on this host"', '処理「自プロセスが作成済のファイルを削除」'),
    64: ('Processing "Release the exclusive lock"', '処理「排他ロックの解放」'),
    65: ('Processing "Obtain an exclusive lock with the setting in which processing does not wait until the lock is obtained"', '処理「排他ロックを待機しない設定で取得」'),
    66: ('Processing "Obtain an exclusive lock with the setting in which processing waits until the lock is obtained"', '処理「排他ロックを待機する設定で取得」'),
    67: ('Processing "Obtain an exclusive lock on an area where an exclusive lock was released, with the setting in which processing does not wait until the lock is obtained"', '処理「排他ロック解放領域へ排他ロックを待機しない設定で取得」'),
    68: ('Processing "Obtain a shared lock on an area where an exclusive lock is being placed, with the setting in which processing waits until the lock is obtained"', '処理「排他ロック中の領域に対して、共有ロックを待機する設定で取得」'),
    69: ('Processing "Obtain an exclusive lock on an area where an exclusive lock is being placed, with the setting in which processing does not wait until the lock is obtained"', '処理「排他ロック中の領域に対して、排他ロックを待機しない設定で取得」'),
    70: ('Processing "Obtain an exclusive lock on an area where an exclusive lock is being placed, with the setting in which processing waits until the lock is obtained"', '処理「排他ロック中の領域に対して、排他ロックを待機する設定で取得」'),
    71: ('Processing type "Byte range locking"', '処理種別「バイト範囲のロック処理」'),
    72: ('Processing type "File open processing"', '処理種別「ファイルオープン処理」'),
    73: ('Processing type "File deletion processing"', '処理種別「ファイル削除処理」'),
    74: ('Processing type "File read and write processing"', '処理種別「ファイル読み書き処理」'),
    76: ('The previous synchronization processing information will now be released.', '前回同期処理情報を解放します。'),
    77: ('Synchronization information has already been set for the remote host.', '相手が既に同期情報を設定済みです。'),
    78: ('The remote host will now be checked for whether it can accept the termination processing.', '相手が終了処理を受け付けられるか確認します。'),
    79: ('The system waits until processing of the remote host ends.', '相手の処理が終了するまで待機します。'),
    80: ('The processing state of the remote host will now be checked.', '相手の処理状況を確認します。'),
    81: ('The living state of the remote host will now be checked.', '相手の生存状態を確認します。'),
    82: ('Wait until synchronization information of the remote host is set.', '相手の同期情報が設定されるまで待機します。'),
    83: ('The partner file will now be unlocked.', '対向ファイルをアンロックします。'),
    84: ('The partner file will now be shared locked.', '対向ファイルを共有ロックします。'),
    85: ('The partner file will now be exclusively locked.', '対向ファイルを排他ロックします。'),
    86: ('A file in the partner process will now be opened. (%s)', '対向プロセスのファイルをオープンします。(%s)'),
    90: ('Operation "Single environment check"', '動作「単一環境確認」'),
    91: ('Synchronization is complete.', '同期しました。'),
    94: ('The file name of a synchronization file will now be generated.', '同期ファイルのファイル名を生成します。'),
    96: ('The synchronization file will now be opened.', '同期ファイルをオープンします。'),
    98: ('The post-processing for synchronization will now be executed.', '同期後処理を実行します。'),
    99: ('Termination processing for synchronization ended successfully.', '同期終了処理が成功しました。'),
    100: ('Termination processing for synchronization will now start.', '同期終了処理を開始します。'),
    102: ('Synchronization processing will now be initialized.', '同期処理の初期化をします。'),
    103: ('Information indicating that synchronization is now in progress will now be released.', '同期処理中情報を解放します。'),
    104: ('Information indicating that synchronization is now in progress will be set.', '同期処理中情報を設定します。'),
    105: ('Initial processing for synchronization ended successfully.', '同期初期処理が成功しました。'),
    106: ('Initial processing for synchronization will now start.', '同期初期処理を開始します。'),
    107: ('Synchronization information will now be reset.', '同期情報を再設定します。'),
    108: ('Synchronization information will now be set.', '同期情報を設定します。'),
    109: ('Pre-processing for synchronization will now be executed.', '同期前処理を実行します。'),
}
ERRORS = {
    4: ('The file in the path of the environment settings shared by ZARFO products could not be opened.', 'ZARFO製品間共有環境設定パスのファイルを開くことができませんでした。'),
    5: ('The file in the path to be checked could not be opened.', '確認対象パスのファイルを開くことができませんでした。'),
    7: ('The file in the path to be checked could be opened, which should not have been possible.', '確認対象パスのファイルを開くことができてしまいました。'),
    9: ('An error occurred when the file in the path to be checked was opened.', '確認対象パスのファイルを開く時にエラーが発生しました。'),
    10: ('Failed to release the lock.', 'ロックの解放に失敗しました。'),
    13: ('Failed to obtain an exclusive lock in lock waiting mode.', '排他ロックの待機取得に失敗しました。'),
    14: ('Failed to obtain a shared lock in lock waiting mode.', '共有ロックの待機取得に失敗しました。'),
    15: ('Failed to obtain an exclusive lock in non-lock waiting mode.', '排他ロックの非待機取得に失敗しました。'),
    22: ('The processing waiting time exceeded the timeout time.', '処理待機時間がタイムアウト時間を超えました。'),
}

# The system texts of the error numbers a run shows, as each platform words them.
SYSTEM_TEXTS = {
    "posix": {2: "The named file does not exist. ",
              33: "Part of the file is locked by another holder. ",
              80: "A file of that name already exists. "},
    "wine": {2: "File not found. ", 33: "Lock violation. ", 80: "File exists. "},
    # Wine answers in the user's language.
    "wine-ja": {2: "ファイルが見つかりません。 ", 33: "ロック違反です。 ",
                80: "ファイルはすでに存在します。 "},
}

# Progress lines of the synchronisation that only one of the two parties
# prints, depending on who arrived first (rendezvous, step, finish).
TIMING_DEPENDENT = (43, 76, 77, 79, 80, 82, 107)


class Report:
    """Builds report lines (text, each ending in CR LF) as the tool prints them."""

    def __init__(self, japanese, system):
        self.lang = 1 if japanese else 0
        self.system = SYSTEM_TEXTS[system]
        self.level = 0
        self.lines = []

    def text(self, msg_id, *args):
        fmt = MESSAGES[msg_id][self.lang]
        return fmt % args if args else fmt

    def line(self, msg_id, *args):
        self.lines.append("        %s\r\n" % self.text(msg_id, *args))

    def error(self, code, system_error=0, marked=True):
        mark = "! " if marked else ""
        text = ERRORS[code][self.lang]
        if system_error:
            text += " ERRORCODE=%d(%s)" % (system_error, self.system[system_error])
        self.lines.append("        %s%s\r\n" % (mark, text))

    def group(self, msg_id, body, result="OK"):
        self.lines.append(self.text(2, 2 * self.level, "", self.text(msg_id)))
        self.level += 1
        body()
        self.level -= 1
        self.lines.append(self.text(1, 2 * self.level, "", self.text(msg_id), result))

    # The synchronisation, as the main thread prints it; the lines that
    # depend on arrival order are left out here and dropped from the run.
    def rendezvous(self):
        for msg_id in (109, 104, 108, 103, 98, 91):
            self.line(msg_id)

    def sync_setup(self):
        self.line(102)
        for msg_id in (106, 94, 96):
            self.line(msg_id)
        self.rendezvous()
        self.line(105)

    def sync_finish(self):
        for msg_id in (100, 78, 81, 15, 99):
            self.line(msg_id)


def check_file(folder, sep, number):
    return "%s%s.#ZARLOCK.HOST.PID.%s" % (folder, sep, number)


class SingleRun:
    """The expected report of `-m single -p target -h share`.

    `wine` describes Wine 8: a waiting lock request that cannot be granted at
    once is reported pending and then, with its record untouched, as done at
    once although it never is; the unlock of the byte it never got then
    fails with 33.  `leftover` is a file already named like the check file
    in the path to be checked."""

    def __init__(self, share, target, sep="/", japanese=False, wine=False, leftover=False):
        system = ("wine-ja" if japanese else "wine") if wine else "posix"
        self.r = Report(japanese, system)
        self.share, self.target, self.sep = share, target, sep
        self.wine, self.leftover = wine, leftover
        self.status = 255 if wine or leftover else 0
        r = self.r
        ng_share = "NG" if wine else "OK"
        ng_target = "NG" if wine or leftover else "OK"

        def share_target():
            r.group(72, lambda: self.open_tests(share, False))
            r.group(71, lambda: self.lock_tests(share, True), ng_share)

        def path_target():
            r.group(72, lambda: self.open_tests(target, True), "NG" if leftover else "OK")
            r.group(74, self.read_write_test)
            r.group(71, lambda: self.lock_tests(target, False), "NG" if wine else "OK")
            r.group(73, self.deletion_test)

        def operation():
            r.group(20, share_target, ng_share)
            r.group(21, path_target, ng_target)

        r.group(90, operation, "NG" if self.status else "OK")
        self.lines = r.lines

    def name(self, folder, number=0):
        return check_file(folder, self.sep, number)

    def open_tests(self, folder, path):
        r, name = self.r, self.name(folder)
        leftover = path and self.leftover
        if path:
            def open_missing():
                r.line(10, name)
                if leftover:
                    r.error(7)
                else:
                    r.error(9, 2, marked=False)
            r.group(53, open_missing, "NG" if leftover else "OK")

        def create_missing():
            r.line(10, name)
            if leftover:
                r.error(5, 80)
        r.group(54, create_missing, "NG" if leftover else "OK")
        if path and not leftover:
            def create_existing():
                r.line(10, name)
                r.error(9, 80, marked=False)
            r.group(52, create_existing)
            r.group(51, lambda: r.line(10, name))
        r.line(11, name)

    def read_write_test(self):
        r, name = self.r, self.name(self.target)
        r.line(10, name)
        r.group(46, lambda: r.line(9))
        r.group(47, lambda: r.line(8))
        r.line(11, name)

    def deletion_test(self):
        r, name = self.r, self.name(self.target)
        r.line(10, name)
        r.line(13)
        r.group(61, lambda: r.line(11, name))

    def lock_tests(self, folder, share):
        r, name = self.r, self.name(folder)
        r.line(10, name)

        def lock_unlock():
            r.line(40)
            r.line(38)
        r.group(65, lock_unlock)
        if share:
            r.group(56, lambda: r.line(39))
            r.group(55, lambda: r.line(38))
        r.group(66, lambda: r.line(40))
        r.group(64, lambda: r.line(38))
        r.line(11, name)
        self.paired_sequence(folder, share)

    def paired_sequence(self, folder, share):
        r = self.r
        r.sync_setup()
        r.line(41, self.name(folder, "R"))
        r.line(86, self.name(folder, "S"))
        r.rendezvous()
        ended = []  # set once Wine's ungranted request makes the partner unlock fail

        def lock_and_release(lock_msg):
            r.line(lock_msg)
            r.rendezvous()
            r.line(38)
            r.rendezvous()

        def released_byte():
            r.line(85)
            r.line(83)
            r.rendezvous()

        def held_byte():
            r.rendezvous()
            r.line(85)
            r.error(15, 33, marked=False)

        def shared_on_shared():
            r.rendezvous()
            r.line(84)
            r.line(83)

        def waited(request_msg, leading_sync, relock, trailing_sync):
            def body():
                if leading_sync:
                    r.rendezvous()
                r.rendezvous()
                r.line(38)
                r.line(request_msg)
                r.rendezvous()
                r.line(83)
                if self.wine:
                    r.error(10, 33)
                    ended.append(True)
                    return
                r.rendezvous()
                if relock:
                    r.line(40)
                if trailing_sync:
                    r.rendezvous()
            return body

        if share:
            lock_and_release(39)
            r.group(57, released_byte)
        lock_and_release(40)
        r.group(67, released_byte)
        r.line(39 if share else 40)
        if share:
            r.group(59, held_byte)
            r.group(58, shared_on_shared)
            r.group(60, waited(85, True, True, False))
        if not ended:
            r.group(69, held_byte)
            if share:
                r.group(68, waited(84, True, True, True))
            r.group(70, waited(85, False, False, False))
        r.sync_finish()


class Normalised:
    """A run's standard output made comparable with SingleRun.lines."""

    def __init__(self, raw, japanese=False, wine=False):
        text = raw.decode("cp932" if wine and japanese else "utf-8")
        self.lines = text.splitlines(keepends=True)
        if self.lines and not self.lines[-1].endswith("\r\n"):
            raise AssertionError("the report does not end with a whole line: %r" % self.lines[-1])
        self.lang = 1 if japanese else 0
        self.pids = set()
        self.hosts = set()
        self.deleted_after_sequence = []
        self._names()
        self._roles()
        self._timing()

    def _names(self):
        pattern = re.compile(r"\.#ZARLOCK\.([^.()]+)\.(\d+)\.")
        out = []
        for line in self.lines:
            for host, pid in pattern.findall(line):
                self.hosts.add(host)
                self.pids.add(pid)
            out.append(pattern.sub(".#ZARLOCK.HOST.PID.", line))
        self.lines = out

    def _roles(self):
        """Message 41 names the main thread's own file (its role), 86 the other."""
        own = MESSAGES[41][self.lang].split("(")[0]
        other = MESSAGES[86][self.lang].split("(")[0]
        out = []
        pending = None
        for line in self.lines:
            body = line[8:]
            if body.startswith(own) or body.startswith(other):
                m = re.search(r"\.(\d)\)\r\n$", line)
                if not m:
                    raise AssertionError("no number in %r" % line)
                if body.startswith(own):
                    pending = m.group(1)
                    line = line[:m.start(1)] + "R" + line[m.end(1):]
                else:
                    if pending is None or int(pending) ^ 1 != int(m.group(1)):
                        raise AssertionError("the partner's file is not the other number: %r" % line)
                    line = line[:m.start(1)] + "S" + line[m.end(1):]
            out.append(line)
        self.lines = out

    def _timing(self):
        dropped = {"        %s\r\n" % MESSAGES[i][self.lang] for i in TIMING_DEPENDENT}
        finish_start = "        %s\r\n" % MESSAGES[100][self.lang]
        deleted = MESSAGES[11][self.lang].split("(")[0]
        out = []
        after_finish = False
        for line in self.lines:
            if line in dropped:
                continue
            if line == finish_start:
                after_finish = True
            elif not line.startswith("        "):
                after_finish = False  # a group's start or finish line ends the clean-up
            elif after_finish and line[8:].startswith(deleted):
                self.deleted_after_sequence.append(line)
                continue
            out.append(line)
        self.lines = out


def host_name():
    return socket.gethostname()
