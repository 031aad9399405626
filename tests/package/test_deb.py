"""The .deb that CPack made (ZARN_DEB): its control fields, its dependencies
against the libraries the tool really loads, its files with their owners and
modes, and its manual page rendered by man without a warning."""

import gzip
import os
import re
import subprocess
import tempfile
import unittest

DEB = os.environ.get("ZARN_DEB", "")
VERSION = os.environ.get("ZARN_VERSION", "")
ARCH = os.environ.get("ZARN_ARCH", "")
BIN, MAN = "usr/bin/zarntwchk", "usr/share/man/man1/zarntwchk.1.gz"


def run(*args, **kw):
    return subprocess.run(args, check=True, stdout=subprocess.PIPE, **kw).stdout.decode()


def control():
    """The control fields as a dict; the long description keeps its lines."""
    fields, key = {}, None
    for line in run("dpkg-deb", "-f", DEB).splitlines():
        if line.startswith(" ") and key:
            fields[key] += "\n" + line
        else:
            key, _, value = line.partition(":")
            fields[key] = value.strip()
    return fields


class DebTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not os.path.isfile(DEB):
            raise RuntimeError("ZARN_DEB does not name the package: %r" % DEB)
        tmp = tempfile.TemporaryDirectory()
        cls.addClassCleanup(tmp.cleanup)
        cls.root = tmp.name
        run("dpkg-deb", "-x", DEB, cls.root)

    def test_control_fields(self):
        f = control()
        expected = {"Package": "zarntwchk", "Version": VERSION, "Architecture": ARCH,
                    "Section": "admin"}
        self.assertEqual(expected, {key: f[key] for key in expected})
        self.assertRegex(f["Maintainer"], r"^[^<>]+ <[^<>@]+@[^<>@]+>$")
        summary, *body = f["Description"].split("\n")
        self.assertEqual(summary, "check that a shared folder behaves as a correct file system must")
        self.assertIn("byte-range-locks", " ".join(body))
        self.assertLess(max(len(line) for line in body), 80)

    def test_depends_name_every_library_the_tool_loads(self):
        # The packages that own the shared libraries the dynamic loader
        # resolves for the tool: each must be a dependency.
        owners = set()
        ldd = run("ldd", os.path.join(self.root, BIN))
        for path in map(os.path.realpath, re.findall(r"=> (/\S+)", ldd)):
            # dpkg may know /usr/lib/... as /lib/...: either form names the owner.
            query = subprocess.run(["dpkg", "-S", path, re.sub(r"^/usr", "", path)],
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            self.assertTrue(query.stdout, "no package owns " + path)
            owners.add(query.stdout.decode().split(":")[0])
        depends = {d.strip().split()[0] for d in control()["Depends"].split(",")}
        self.assertIn("libc6", owners)
        self.assertLessEqual(owners, depends)

    def test_files_owners_and_modes(self):
        listing = {path: (mode, owner) for mode, owner, _, _, _, path in (
            line.split(None, 5) for line in run("dpkg-deb", "-c", DEB).splitlines())}
        self.assertEqual({"./" + BIN: ("-rwxr-xr-x", "root/root"),
                          "./" + MAN: ("-rw-r--r--", "root/root")},
                         {p: v for p, v in listing.items() if not p.endswith("/")})
        self.assertEqual({("drwxr-xr-x", "root/root")},
                         {v for p, v in listing.items() if p.endswith("/")})

    def test_manual_page_renders_without_warnings(self):
        page = os.path.join(self.root, MAN)
        with gzip.open(page) as f:
            self.assertTrue(f.read().startswith(b".TH ZARNTWCHK 1 "))
        env = dict(os.environ, LC_ALL="C.UTF-8", MANWIDTH="80")
        for warnings in ("--warnings", "--warnings=w"):
            proc = subprocess.run(["man", warnings, "-l", page], env=env,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            self.assertEqual((0, ""), (proc.returncode, proc.stderr.decode()), warnings)
        text = proc.stdout.decode()
        for heading in ("NAME", "SYNOPSIS", "OPERATIONS", "OPTIONS", "WHAT AN NG MEANS",
                        "JAPANESE OUTPUT", "EXIT STATUS", "FILES", "EXAMPLES"):
            self.assertRegex(text, r"(?m)^%s$" % heading)
        for option in ("-m", "-p", "-h", "-f", "-o", "-t"):
            self.assertRegex(text, r"(?m)^       %s \w+$" % option)
        self.assertLessEqual(max(len(line) for line in text.splitlines()), 80)


if __name__ == "__main__":
    unittest.main(verbosity=2)
