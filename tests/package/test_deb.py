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


def run(*args, **kw):
    return subprocess.run(args, check=True, stdout=subprocess.PIPE, **kw).stdout


def control():
    """The control fields as a dict; the long description keeps its lines."""
    fields = {}
    key = None
    for line in run("dpkg-deb", "-f", DEB).decode().splitlines():
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
        cls.tmp = tempfile.TemporaryDirectory()
        cls.root = cls.tmp.name
        run("dpkg-deb", "-x", DEB, cls.root)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_control_fields(self):
        f = control()
        self.assertEqual(f["Package"], "zarntwchk")
        self.assertEqual(f["Version"], VERSION)
        self.assertEqual(f["Architecture"], ARCH)
        self.assertRegex(f["Maintainer"], r"^[^<>]+ <[^<>@]+@[^<>@]+>$")
        self.assertEqual(f["Section"], "admin")
        summary, *body = f["Description"].split("\n")
        self.assertEqual(summary, "check that a shared folder behaves as a correct file system must")
        self.assertIn("byte-range-locks", " ".join(body))
        self.assertLess(max(len(line) for line in body), 80)

    def test_depends_name_every_library_the_tool_loads(self):
        # The packages that own the shared libraries the dynamic loader
        # resolves for the tool: each must be a dependency.
        exe = os.path.join(self.root, "usr/bin/zarntwchk")
        owners = set()
        for line in run("ldd", exe).decode().splitlines():
            m = re.search(r"=> (/\S+)", line)
            if not m:
                continue
            path = os.path.realpath(m.group(1))
            out = subprocess.run(["dpkg", "-S", path], stdout=subprocess.PIPE,
                                 stderr=subprocess.DEVNULL)
            if out.returncode != 0:  # dpkg knows /lib/... under /usr/lib/...
                out = subprocess.run(["dpkg", "-S", re.sub(r"^/usr", "", path)],
                                     stdout=subprocess.PIPE, check=True)
            owners.add(out.stdout.decode().split(":")[0])
        depends = {d.strip().split()[0] for d in control()["Depends"].split(",")}
        self.assertIn("libc6", owners)
        self.assertLessEqual(owners, depends)

    def test_files_owners_and_modes(self):
        listing = {}
        for line in run("dpkg-deb", "-c", DEB).decode().splitlines():
            mode, owner, _size, _day, _time, path = line.split(None, 5)
            listing[path] = (mode, owner)
        files = {p: v for p, v in listing.items() if not p.endswith("/")}
        self.assertEqual(sorted(files), ["./usr/bin/zarntwchk",
                                         "./usr/share/man/man1/zarntwchk.1.gz"])
        self.assertEqual(files["./usr/bin/zarntwchk"], ("-rwxr-xr-x", "root/root"))
        self.assertEqual(files["./usr/share/man/man1/zarntwchk.1.gz"], ("-rw-r--r--", "root/root"))
        for path, (mode, owner) in listing.items():
            if path.endswith("/"):
                self.assertEqual((mode, owner), ("drwxr-xr-x", "root/root"), path)

    def test_manual_page_renders_without_warnings(self):
        page = os.path.join(self.root, "usr/share/man/man1/zarntwchk.1.gz")
        with gzip.open(page) as f:
            self.assertTrue(f.read().startswith(b".TH ZARNTWCHK 1 "))
        env = dict(os.environ, LC_ALL="C.UTF-8", MANWIDTH="80")
        for warnings in ("--warnings", "--warnings=w"):
            proc = subprocess.run(["man", warnings, "-l", page], env=env,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            self.assertEqual(proc.returncode, 0)
            self.assertEqual(proc.stderr.decode(), "", warnings)
        text = proc.stdout.decode()
        for heading in ("NAME", "SYNOPSIS", "OPERATIONS", "OPTIONS", "WHAT AN NG MEANS",
                        "JAPANESE OUTPUT", "EXIT STATUS", "FILES", "EXAMPLES"):
            self.assertRegex(text, r"(?m)^%s$" % heading)
        for option in ("-m", "-p", "-h", "-f", "-o", "-t"):
            self.assertRegex(text, r"(?m)^       %s \w+$" % option)
        self.assertLessEqual(max(len(line) for line in text.splitlines()), 80)


if __name__ == "__main__":
    unittest.main(verbosity=2)
