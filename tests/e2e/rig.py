"""Real shares for the end-to-end tests, mounted by simulated hosts.

The rig serves shares that this project did not write: a GlusterFS volume
on loopback, bindfs with and without lock forwarding, sshfs through an sshd
of its own, and a Samba share through an smbd of its own, reached with the
FUSE client smbnetfs ("smbnetfs") or on the folder it exports ("samba", as
the server itself or a host that mounts that folder by other means works on
it).  A simulated host is a mount and UTS namespace
with its own host name and its own FUSE mount of each share it uses, at the
common path <root>/mnt/<share>, so that two hosts given the same -h and -p
reach the same files, as two real hosts that mount one share at one place.

The whole test runs in namespaces of its own (enter()): a network namespace,
so that glusterd, sshd and smbd listen on a loopback nobody else reaches and a
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
import os
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
SSH_PORT = 2222
SMB_SHARE, SMB_USER, SMB_PASSWORD = "zarn", "root", "zarnrig"
SHARES = ("gluster", "bindfs", "bindfs-lf", "sshfs", "samba", "smbnetfs")
SERVED = {"smbnetfs": "samba"}  # smbnetfs serves the folder that Samba exports, at its place
PROGRAMS = ("unshare", "ip", "mountpoint", "umount", "glusterd", "gluster", "glusterfs", "bindfs",
            "sshfs", "ssh", "ssh-keygen", "/usr/sbin/sshd", "smbd", "smbpasswd", "smbnetfs")
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
        env = dict(os.environ, **{ROOT_VARIABLE: root})
        status = subprocess.call(
            ["unshare", "--fork", "--pid", "--mount-proc", "--net", "--mount", "--uts",
             "--propagation", "private", "--kill-child", sys.executable, test_file] + sys.argv[1:],
            env=env, stdin=subprocess.DEVNULL)
    finally:
        shutil.rmtree(root, ignore_errors=True)  # its tmpfs was private: only the folder is left
    sys.exit(status)


def sh(*args):
    """Runs a command of the rig; a failure raises with its output."""
    done = subprocess.run(args, stdin=subprocess.DEVNULL, capture_output=True)
    if done.returncode != 0:
        output = (done.stdout + done.stderr).decode(errors="replace")
        raise RuntimeError("%s: status %d: %s" % (" ".join(args), done.returncode, output))


class Rig:
    """The daemons and folders of the shares, inside the rig's namespaces."""

    def __init__(self):
        self.root = os.environ[ROOT_VARIABLE]
        self.logs = os.path.join(self.root, "logs")
        self.ssh = os.path.join(self.root, "ssh")
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
        for folder in {"/run/gluster", "/run/sshd", self.logs, self.ssh, self.brick} | {
                self.data(s) for s in SHARES} | {self.mount_point(s) for s in SHARES}:
            os.makedirs(folder, mode=0o755)
        hosts = os.path.join(self.root, "hosts")
        with open(hosts, "w") as f:
            f.write("127.0.0.1 localhost %s\n" % SERVER)
        sh("mount", "--bind", hosts, "/etc/hosts")
        sh("hostname", SERVER)
        sh("ip", "link", "set", "lo", "up")
        self.start_glusterfs()
        self.start_sshd()
        self.start_smbd()

    def start_glusterfs(self):
        log = os.path.join(self.logs, "glusterd.log")
        sh("glusterd", "-p", os.path.join(self.root, "glusterd.pid"), "--log-file=" + log)
        cli = ["gluster", "--mode=script", "volume"]
        end = time.monotonic() + 60
        while True:  # glusterd answers its command line a moment after it forked
            try:
                sh(*cli, "create", VOLUME, "%s:%s" % (SERVER, self.brick), "force")
                break
            except RuntimeError:
                if time.monotonic() > end:
                    raise
                time.sleep(0.5)
        sh(*cli, "start", VOLUME)

    def start_sshd(self):
        key, user_key = os.path.join(self.ssh, "host_key"), os.path.join(self.ssh, "user_key")
        for k in (key, user_key):
            sh("ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", k)
        shutil.copy(user_key + ".pub", os.path.join(self.ssh, "authorized_keys"))
        config = os.path.join(self.ssh, "sshd_config")
        with open(config, "w") as f:
            f.write("ListenAddress 127.0.0.1\nPort %d\nHostKey %s\nPidFile %s\n"
                    "PermitRootLogin prohibit-password\nPasswordAuthentication no\n"
                    "KbdInteractiveAuthentication no\nUsePAM no\nStrictModes no\n"
                    "AuthorizedKeysFile %s\nSubsystem sftp internal-sftp\n"
                    % (SSH_PORT, key, os.path.join(self.ssh, "sshd.pid"),
                       os.path.join(self.ssh, "authorized_keys")))
        sh("/usr/sbin/sshd", "-f", config, "-E", os.path.join(self.logs, "sshd.log"))

    def start_smbd(self):
        """smbd in the foreground, with every folder of its own, serving
        data("samba") to SMB_USER; smbnetfs reads the same smb.conf and its
        own smbnetfs.conf from HOME/.smb (self.samba)."""
        folders = {k: os.path.join(self.samba, k) for k in (
            "lock", "state", "cache", "private", "pid", "ncalrpc")}
        for folder in list(folders.values()) + [os.path.dirname(self.smb_conf)]:
            os.makedirs(folder, mode=0o700)
        with open(self.smb_conf, "w") as f:
            f.write("[global]\n" + "".join("%s = %s\n" % item for item in [
                ("lock directory", folders["lock"]), ("state directory", folders["state"]),
                ("cache directory", folders["cache"]), ("private dir", folders["private"]),
                ("pid directory", folders["pid"]), ("ncalrpc dir", folders["ncalrpc"]),
                ("passdb backend", "tdbsam:%s/passdb.tdb" % folders["private"]),
                ("log file", os.path.join(self.logs, "smbd.log")), ("smb ports", "445"),
                ("interfaces", "127.0.0.1"), ("bind interfaces only", "yes"),
                ("disable netbios", "yes"), ("load printers", "no"), ("printing", "bsd"),
                ("printcap name", "/dev/null"), ("name resolve order", "host")])
                + "[%s]\npath = %s\nread only = no\n" % (SMB_SHARE, self.data("samba")))
        with open(os.path.join(os.path.dirname(self.smb_conf), "smbnetfs.conf"), "w",
                  opener=lambda path, flags: os.open(path, flags, 0o600)) as f:
            f.write('smb_query_browsers "false"\nhost "%s" visible=true\nauth "%s" "%s" "%s"\n'
                    % (SERVER, SERVER, SMB_USER, SMB_PASSWORD))
        subprocess.run(["smbpasswd", "-c", self.smb_conf, "-a", "-s", SMB_USER], check=True,
                       input=("%s\n" % SMB_PASSWORD * 2).encode(), capture_output=True)
        # A session of its own: smbd ends by signalling its process group,
        # which would otherwise reach the rig's caller outside the namespace.
        self.smbd = subprocess.Popen(["smbd", "--foreground", "--no-process-group",
                                      "--configfile=" + self.smb_conf], stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                     start_new_session=True)

        def listening():
            with socket.socket() as s:
                return s.connect_ex(("127.0.0.1", 445)) == 0
        zarnrun.wait_until(listening, "smbd listens", 60, 0.1)

    def smb_person(self, case):
        """An SMB client on the share (smb_person.py), for the test `case`."""
        return SmbPerson(case, self.data("samba"))

    def stop(self):
        """Ends every other process of the namespace (daemons, FUSE processes,
        hosts); the tmpfs mounts go with the namespace."""
        for sig in (signal.SIGTERM, signal.SIGKILL):
            for pid in self.processes():
                try:
                    os.kill(pid, sig)
                except ProcessLookupError:
                    pass
            end = time.monotonic() + 10
            while self.processes() and time.monotonic() < end:
                time.sleep(0.1)
        if self.processes():
            raise RuntimeError("processes left: %s" % self.processes())

    @staticmethod
    def processes(names=None):
        """Pids of the namespace's other processes (only those whose command is in `names`)."""
        found = []
        for entry in os.listdir("/proc"):
            if not entry.isdigit() or int(entry) == os.getpid():
                continue
            try:
                with open("/proc/%s/stat" % entry) as f:
                    stat = f.read()
            except OSError:
                continue
            command, state = stat[stat.index("(") + 1:stat.rindex(")")], stat[stat.rindex(")") + 2]
            if state == "Z":
                try:  # the namespace's orphans are ours to reap
                    os.waitpid(int(entry), os.WNOHANG)
                except ChildProcessError:
                    pass
            elif names is None or command in names:
                found.append(int(entry))
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
            "sshfs": ["sshfs", "-p", str(SSH_PORT), "-o", "IdentityFile=%s/user_key,"
                      "StrictHostKeyChecking=no,UserKnownHostsFile=/dev/null,BatchMode=yes"
                      % self.ssh, "root@127.0.0.1:" + data, point],
        }[share], self.smb_tree if share == "smbnetfs" else point

    def host(self, host, shares, folders, command):
        """Starts `command` on a simulated host that mounts `shares` and
        makes `folders` in them; it unmounts when the command ends."""
        q = shlex.quote
        mounts = [(share,) + self.mount(share, host) for share in shares]
        log = q(os.path.join(self.logs, "mount.%s.log" % host))
        script = ['fail() { echo "rig: %s: $*" >&2; exit %d; }' % (host, RIG_FAILED),
                  "hostname %s" % q(host),
                  "unmount() { for m in %s; do umount $m || umount -l $m; done; }" % " ".join(
                      q(point) for _, _, point in reversed(mounts)),
                  "trap unmount EXIT"]
        for share, mount, point in mounts:
            script.append("%s >>%s 2>&1 && mountpoint -q %s || fail 'cannot mount %s'" % (
                " ".join(map(q, mount)), log, q(point), share))
        script += ["mkdir -p %s || fail 'cannot make the folders'" % " ".join(map(q, folders)),
                   '"$@"']
        return subprocess.Popen(
            ["unshare", "--mount", "--uts", "--propagation", "private",
             "bash", "-c", "\n".join(script), host] + command,
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
            env=zarnrun.environment())

    def finish(self, proc, host):
        out, err = proc.communicate(timeout=900)
        if proc.returncode == RIG_FAILED:
            raise RuntimeError(err.decode(errors="replace") + self.log_tail("mount.%s.log" % host))
        return proc.returncode, out, err

    def run(self, hosts, mode, h, p, row, timeout=None, via=None):
        """Runs the tool with -m `mode` on each simulated host at once, with
        -h on share `h` and -p on share `p` (folders of their own for `row`);
        a host named in `via` reaches both through the share given there,
        which serves the same folder at the same place.
        Returns a HostRun per host, and what the runs left in the folders,
        as a further host sees it once they all ended."""
        folders = [os.path.join(self.mount_point(h), row, "h"),
                   os.path.join(self.mount_point(p), row, "p")]
        args = ["-m", mode, "-h", folders[0], "-p", folders[1]]
        if timeout:
            args += ["-t", str(timeout)]
        shares = sorted({h, p})
        started = [(host, self.host(host, [via[host]] if host in (via or {}) else shares, folders,
                                    [zarnrun.EXE] + args)) for host in hosts]
        # Every host's output is read while they all run: a host whose pipe
        # filled up would stop in the middle of a step, its partner waiting.
        with concurrent.futures.ThreadPoolExecutor(len(started)) as pool:
            ends = list(pool.map(lambda started_host: self.finish(started_host[1], started_host[0]),
                                 started))
        runs = [HostRun(host, *end) for (host, _), end in zip(started, ends)]
        status, left, err = self.finish(self.host(
            "inspector", shares, folders, ["find"] + folders + ["-mindepth", "1"]), "inspector")
        if status != 0:
            raise RuntimeError("cannot list the folders: %r" % err)
        self.wait_unmounted()
        return runs, sorted(left.decode().split())

    def wait_unmounted(self):
        """The FUSE processes of the hosts end once their mounts are gone."""
        clients = ("bindfs", "sshfs", "glusterfs", "ssh", "smbnetfs")
        zarnrun.wait_until(lambda: not self.processes(clients), "the FUSE processes end", 30, 0.1)

    def log_tail(self, name):
        try:
            with open(os.path.join(self.logs, name), errors="replace") as f:
                return "\n" + "".join(f.readlines()[-20:])
        except OSError:
            return ""


class SmbPerson(test_userapl.Person):
    """A Windows program at an SMB client of the rig's Samba share
    (smb_person.py), with the interface of the scripted person of the
    linkage check: do(command, path) for a path in data("samba")."""

    def __init__(self, case, exported):
        self.exported = exported
        super().__init__(case, [smb_python(), os.path.join(os.path.dirname(
            os.path.abspath(__file__)), "smb_person.py"), SERVER, SMB_SHARE, SMB_USER, SMB_PASSWORD])
        case.addCleanup(self.end)

    def name(self, path):
        return os.path.relpath(path, self.exported)

    def end(self):
        """Closes what it holds; how many files its watch opened."""
        if self.proc.stdin.closed:
            return None
        self.proc.stdin.close()
        opened = self.proc.stdout.read().strip()
        if self.proc.wait(60) != 0:
            raise RuntimeError("smb_person.py ended with %d" % self.proc.returncode)
        return int(opened)
