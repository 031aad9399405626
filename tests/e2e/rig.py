"""Real shares for the end-to-end tests, mounted by simulated hosts.

The rig serves shares that this project did not write: a GlusterFS volume
on loopback, bindfs with and without lock forwarding, and a Samba share
through an smbd of its own, reached with the FUSE client smbnetfs
("smbnetfs") or on the folder it exports ("samba", as the server itself or a
host that mounts that folder by other means works on it).  A simulated host
is a mount and UTS namespace with its own host name and its own FUSE mount of each share it uses, at the
common path <root>/mnt/<share>, so that two hosts given the same -h and -p
reach the same files, as two real hosts that mount one share at one place.

The whole test runs in namespaces of its own (enter()): a network namespace,
so that glusterd and smbd listen on a loopback nobody else reaches and a
second rig on the machine cannot meet them; a PID namespace, whose end kills
every daemon and FUSE process the rig started, however the test ends; and a
mount namespace in which the rig's folder, /run, glusterd's state and log
folders and /etc/hosts are fresh tmpfs mounts, so nothing reaches the
machine and nothing is left when the namespace ends.

A double row runs two hosts at once: run(["hostA", "hostB"], "double", ...).
Samba's configuration, passwords and state, and those of its clients, lie in
the rig's folder (HOME of smbnetfs): nothing is read from or written to the
machine's Samba folders.
"""

import concurrent.futures
import contextlib
import os
import pathlib
import shlex
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
from collections import namedtuple

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import test_userapl  # noqa: E402
import zarnrun  # noqa: E402

SKIPPED = 77  # ctest's SKIP_RETURN_CODE for the rig's tests
ROOT_VARIABLE = "ZARN_RIG_ROOT"  # set inside the namespaces: the rig's folder
SERVER = "zarnshare"  # the rig's host name, which serves the GlusterFS volume
VOLUME = "zarnrig"
SMB_SHARE, SMB_USER, SMB_PASSWORD = "zarn", "root", "zarnrig"
SHARES = ("gluster", "bindfs", "bindfs-lf", "samba", "smbnetfs")
SERVED = {"smbnetfs": "samba"}  # smbnetfs serves the folder that Samba exports, at its place
PROGRAMS = ("unshare", "ip", "mountpoint", "umount", "glusterd", "gluster", "glusterfs", "bindfs",
            "smbd", "smbpasswd", "smbnetfs")
# The SMB client (smb_person.py) needs impacket, which Debian installs for its
# own python3; the tests may run under another interpreter.
SMB_PYTHONS = (sys.executable, "/usr/bin/python3")
RIG_FAILED = 100  # a host's status when the rig, not the tool, failed

HostRun = namedtuple("HostRun", "host status report stderr")


def unmet():
    """Why the rig cannot run on this machine, or None."""
    if zarnrun.UNDER_WINE:
        return "the rig runs the native tool"
    if os.geteuid() != 0:
        return "needs root (namespaces, FUSE mounts, glusterd)"
    try:
        os.close(os.open("/dev/fuse", os.O_RDWR))
    except OSError as e:
        return "needs /dev/fuse: %s" % e
    missing = [p for p in PROGRAMS if not shutil.which(p)] + ([] if smb_python() else ["impacket"])
    if missing:
        return "missing %s (scripts/test-all.sh installs them)" % " ".join(missing)
    probe = subprocess.run(["unshare", "--fork", "--pid", "--net", "--mount", "--uts", "true"],
                           capture_output=True)
    if probe.returncode != 0:
        return "cannot create namespaces: %s" % probe.stderr.decode(errors="replace").strip()
    return None


def smb_python():
    """An interpreter that has impacket, or None."""
    return next((p for p in SMB_PYTHONS if shutil.which(p) and subprocess.run(
        [p, "-c", "import impacket"], capture_output=True).returncode == 0), None)


def enter(test_file):
    """Returns at once inside the rig's namespaces; outside, runs `test_file`
    inside them and exits with its status, or with SKIPPED and the reason."""
    if os.environ.get(ROOT_VARIABLE):
        return
    zarnrun.require_exe()  # a missing tool fails; a machine that cannot host the rig skips
    reason = unmet()
    if reason:
        print("SKIPPED: the share rig %s" % reason, flush=True)
        sys.exit(SKIPPED)
    root = tempfile.mkdtemp(prefix="zarn-rig-")
    # SIGTERM (ctest's time limit, a CI stop) unwinds like Ctrl+C: the
    # namespaces' process is killed and the folder removed.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(128 + signal.SIGTERM))
    try:
        status = subprocess.call(
            ["unshare", "--fork", "--pid", "--mount-proc", "--net", "--mount", "--uts",
             "--propagation", "private", "--kill-child", sys.executable, test_file] + sys.argv[1:],
            env=dict(os.environ, **{ROOT_VARIABLE: root}), stdin=subprocess.DEVNULL)
    finally:
        shutil.rmtree(root, ignore_errors=True)  # its tmpfs was private: only the folder is left
    sys.exit(status)


def sh(*args, retry_for=0):
    """Runs a command of the rig, again every half second for `retry_for`
    seconds while it fails; a failure raises with its output."""
    end = time.monotonic() + retry_for
    while (done := subprocess.run(args, stdin=subprocess.DEVNULL, capture_output=True)).returncode:
        if time.monotonic() > end:
            output = (done.stdout + done.stderr).decode(errors="replace")
            raise RuntimeError("%s: status %d: %s" % (" ".join(args), done.returncode, output))
        time.sleep(0.5)


def smb_end(person):
    """Ends an SMB client of smb_person(), which closes what it holds, and
    checks its status; how many files its watch opened."""
    person.proc.stdin.close()
    opened = int(person.proc.stdout.read())
    if person.proc.wait(60) != 0:
        raise RuntimeError("smb_person.py ended with %d" % person.proc.returncode)
    return opened


class Rig:
    """The daemons and folders of the shares, inside the rig's namespaces."""

    def __init__(self):
        self.root = os.environ[ROOT_VARIABLE]
        self.logs = os.path.join(self.root, "logs")
        self.brick = os.path.join(self.root, "brick")  # GlusterFS's; never opened directly
        self.samba = os.path.join(self.root, "samba")  # smbd's folders; HOME of its clients
        self.smb_conf = os.path.join(self.samba, ".smb", "smb.conf")
        self.smb_tree = os.path.join(self.root, "mnt", "smb")  # smbnetfs's servers and shares

    def data(self, share):
        """The folder a FUSE share serves, or Samba exports (GlusterFS keeps its own brick)."""
        return os.path.join(self.root, "data", SERVED.get(share, share))

    def mount_point(self, share):
        if SERVED.get(share, share) == "samba":  # where smbnetfs shows the share
            return os.path.join(self.smb_tree, SERVER, SMB_SHARE)
        return os.path.join(self.root, "mnt", share)

    def start(self):
        for folder in (self.root, "/run", "/var/lib/glusterd", "/var/log/glusterfs"):
            sh("mount", "-t", "tmpfs", "zarn-rig", folder)
        for folder in {"/run/gluster", self.logs, self.brick} | {
                self.data(s) for s in SHARES} | {self.mount_point(s) for s in SHARES}:
            os.makedirs(folder, mode=0o755)
        hosts = pathlib.Path(self.root, "hosts")
        hosts.write_text("127.0.0.1 localhost %s\n" % SERVER)
        sh("mount", "--bind", str(hosts), "/etc/hosts")
        sh("hostname", SERVER)
        sh("ip", "link", "set", "lo", "up")
        # GlusterFS: glusterd answers its command line a moment after it forked.
        sh("glusterd", "-p", os.path.join(self.root, "glusterd.pid"),
           "--log-file=" + os.path.join(self.logs, "glusterd.log"))
        cli = ["gluster", "--mode=script", "volume"]
        sh(*cli, "create", VOLUME, "%s:%s" % (SERVER, self.brick), "force", retry_for=60)
        sh(*cli, "start", VOLUME)
        self.start_smbd()

    def start_smbd(self):
        """smbd in the foreground, with every folder of its own, serving
        data("samba") to SMB_USER; smbnetfs reads the same smb.conf and its
        own smbnetfs.conf from HOME/.smb (self.samba)."""
        settings = {key: os.path.join(self.samba, folder) for key, folder in (
            ("lock directory", "lock"), ("state directory", "state"), ("cache directory", "cache"),
            ("private dir", "private"), ("pid directory", "pid"), ("ncalrpc dir", "ncalrpc"))}
        for folder in list(settings.values()) + [os.path.dirname(self.smb_conf)]:
            os.makedirs(folder, mode=0o700)
        settings.update({
            "passdb backend": "tdbsam:%s/passdb.tdb" % settings["private dir"],
            "log file": os.path.join(self.logs, "smbd.log"), "smb ports": "445",
            "interfaces": "127.0.0.1", "bind interfaces only": "yes", "disable netbios": "yes",
            "load printers": "no", "printing": "bsd", "printcap name": "/dev/null",
            "name resolve order": "host"})
        pathlib.Path(self.smb_conf).write_text(
            "[global]\n" + "".join("%s = %s\n" % item for item in settings.items())
            + "[%s]\npath = %s\nread only = no\n" % (SMB_SHARE, self.data("samba")))
        smbnetfs_conf = pathlib.Path(os.path.dirname(self.smb_conf), "smbnetfs.conf")
        smbnetfs_conf.touch(mode=0o600)  # the password is for the rig's clients alone
        smbnetfs_conf.write_text('smb_query_browsers "false"\nhost "%s" visible=true\n'
                                 'auth "%s" "%s" "%s"\n'
                                 % (SERVER, SERVER, SMB_USER, SMB_PASSWORD))
        subprocess.run(["smbpasswd", "-c", self.smb_conf, "-a", "-s", SMB_USER], check=True,
                       input=("%s\n" % SMB_PASSWORD * 2).encode(), capture_output=True)
        # A session of its own: smbd ends by signalling its process group,
        # which would otherwise reach the rig's caller outside the namespace.
        self.smbd = subprocess.Popen(
            ["smbd", "--foreground", "--no-process-group", "--configfile=" + self.smb_conf],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)

        def listening():
            with socket.socket() as s:
                return s.connect_ex(("127.0.0.1", 445)) == 0
        zarnrun.wait_until(listening, "smbd listens", 60, 0.1)

    def smb_person(self, case):
        """A Windows program at an SMB client of the share (smb_person.py),
        with the interface of the linkage check's scripted person: do(command,
        path) for a path in data("samba"); smb_end() ends it, else `case`'s
        clean-up does."""
        return test_userapl.Person(case, [smb_python(), os.path.join(os.path.dirname(
            os.path.abspath(__file__)), "smb_person.py"), SERVER, SMB_SHARE, SMB_USER,
            SMB_PASSWORD, self.data("samba")])

    def stop(self):
        """Kills every other process of the namespace (daemons, FUSE processes,
        hosts), as the namespace's end would; the tmpfs mounts go with it."""
        for pid in self.processes():
            with contextlib.suppress(ProcessLookupError):
                os.kill(pid, signal.SIGKILL)
        zarnrun.wait_until(lambda: not self.processes(), "the rig's processes end", 10, 0.1)

    @staticmethod
    def processes(names=None):
        """Pids of the namespace's other processes (only those whose command is in `names`)."""
        found = []
        for pid in (int(entry) for entry in os.listdir("/proc") if entry.isdigit()):
            try:
                with open("/proc/%d/stat" % pid) as f:
                    stat = f.read()
            except OSError:
                continue
            command, state = stat[stat.index("(") + 1:stat.rindex(")")], stat[stat.rindex(")") + 2]
            if state == "Z":  # the namespace's orphans are ours to reap
                with contextlib.suppress(ChildProcessError):
                    os.waitpid(pid, os.WNOHANG)
            elif pid != os.getpid() and (names is None or command in names):
                found.append(pid)
        return found

    def mount(self, share, host):
        """The command that gives a host `share` at its mount point, and the point it mounts."""
        point, data = self.mount_point(share), self.data(share)
        return {
            "gluster": ["glusterfs", "--volfile-server=" + SERVER, "--volfile-id=" + VOLUME,
                        "--log-file=%s/glusterfs.%s.log" % (self.logs, host), point],
            "bindfs": ["bindfs", data, point],
            "bindfs-lf": ["bindfs", "--enable-lock-forwarding", "--multithreaded", data, point],
            "samba": ["mount", "--bind", data, point],
            "smbnetfs": ["env", "HOME=" + self.samba, "smbnetfs", "-o", "nonempty", self.smb_tree],
        }[share], self.smb_tree if share == "smbnetfs" else point

    def host(self, host, shares, folders, command):
        """Runs `command` on a simulated host that mounts `shares` and makes
        `folders` in them, and unmounts when it ends; its status and output.
        A host the rig failed raises with the tail of its mount log."""
        q = shlex.quote
        mounts = [(share,) + self.mount(share, host) for share in shares]
        log = os.path.join(self.logs, "mount.%s.log" % host)
        script = ['fail() { echo "rig: %s: $*" >&2; exit %d; }' % (host, RIG_FAILED),
                  "hostname %s" % q(host),
                  "unmount() { for m in %s; do umount $m || umount -l $m; done; }" % " ".join(
                      q(point) for _, _, point in reversed(mounts)),
                  "trap unmount EXIT"]
        for share, mount, point in mounts:
            script.append("%s >>%s 2>&1 && mountpoint -q %s || fail 'cannot mount %s'" % (
                " ".join(map(q, mount)), q(log), q(point), share))
        # Both hosts of a pair make the same folders: on GlusterFS the other's
        # mkdir can make one fail with "File exists" before it sees the folder.
        script += ["for try in 1 2 3 4 5; do mkdir -p %s && break; [ $try = 5 ] && "
                   "fail 'cannot make the folders'; sleep 0.2; done" % " ".join(map(q, folders)),
                   '"$@"']
        proc = subprocess.Popen(
            ["unshare", "--mount", "--uts", "--propagation", "private",
             "bash", "-c", "\n".join(script), host] + command,
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
            env=zarnrun.environment())
        out, err = proc.communicate(timeout=900)
        if proc.returncode == RIG_FAILED:
            tail = zarnrun.read(log).decode(errors="replace").splitlines(keepends=True)[-20:]
            raise RuntimeError(err.decode(errors="replace") + "\n" + "".join(tail))
        return HostRun(host, proc.returncode, out, err)

    def run(self, hosts, mode, h, p, row, timeout=None, via=None):
        """Runs the tool with -m `mode` on each simulated host at once, with
        -h on share `h` and -p on share `p` (folders of their own for `row`);
        a host named in `via` reaches both through the share given there,
        which serves the same folder at the same place.
        Returns a HostRun per host, and what the runs left in the folders,
        as a further host sees it once they all ended."""
        folders = [os.path.join(self.mount_point(h), row, "h"),
                   os.path.join(self.mount_point(p), row, "p")]
        command = [zarnrun.EXE, "-m", mode, "-h", folders[0], "-p", folders[1]] + (
            ["-t", str(timeout)] if timeout else [])
        shares = sorted({h, p})
        # The hosts run at once, and every host's output is read while they
        # all run: a host whose pipe filled up would stop in the middle of a
        # step, its partner waiting.
        with concurrent.futures.ThreadPoolExecutor(len(hosts)) as pool:
            runs = list(pool.map(lambda host: self.host(
                host, [via[host]] if host in (via or {}) else shares, folders, command), hosts))
        inspector = self.host("inspector", shares, folders, ["find"] + folders + ["-mindepth", "1"])
        if inspector.status != 0:
            raise RuntimeError("cannot list the folders: %r" % inspector.stderr)
        # The FUSE processes of the hosts end once their mounts are gone.
        clients = ("bindfs", "glusterfs", "smbnetfs")
        zarnrun.wait_until(lambda: not self.processes(clients), "the FUSE processes end", 30, 0.1)
        return runs, sorted(inspector.report.decode().split())
