"""The .zip of the Windows build that CPack made (ZARN_ZIP): its listing,
README.txt as Windows text, and the .exe taken out of it started alone under
Wine (ZARN_RUNNER), where no MinGW DLL is there to lean on."""

import os
import subprocess
import sys
import tempfile
import unittest
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from test_cli import USAGE  # noqa: E402

ZIP = os.environ.get("ZARN_ZIP", "")
VERSION = os.environ.get("ZARN_VERSION", "")
RUNNER = os.environ.get("ZARN_RUNNER", "").split()
TOP = "zarntwchk-%s-win64/" % VERSION


class ZipTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not os.path.isfile(ZIP):
            raise RuntimeError("ZARN_ZIP does not name the package: %r" % ZIP)
        cls.zip = zipfile.ZipFile(ZIP)
        print("\n%s:" % os.path.basename(ZIP))
        for info in cls.zip.infolist():
            print("  %9d  %s" % (info.file_size, info.filename))

    @classmethod
    def tearDownClass(cls):
        cls.zip.close()

    def test_listing(self):
        files = sorted(n for n in self.zip.namelist() if not n.endswith("/"))
        self.assertEqual(files, [TOP + "README.txt", TOP + "bin/zarntwchk.exe"])

    def test_readme_is_windows_text(self):
        text = self.zip.read(TOP + "README.txt")
        self.assertTrue(text.endswith(b"\r\n"))
        self.assertEqual(text.count(b"\n"), text.count(b"\r\n"), "a line without CR")
        self.assertEqual(text.count(b"\r"), text.count(b"\r\n"), "a CR without LF")
        lines = text.decode("ascii").split("\r\n")  # Notepad in any code page shows it
        self.assertEqual(lines[0], "zarntwchk for Windows")
        self.assertLessEqual(max(len(line) for line in lines), 80)
        self.assertIn("bin\\zarntwchk.exe -m single", text.decode())
        self.assertIn("ZARNTWCHK(1)", text.decode())  # the manual follows

    def test_exe_runs_alone(self):
        with tempfile.TemporaryDirectory() as tmp:
            exe = self.zip.extract(TOP + "bin/zarntwchk.exe", tmp)
            env = dict(os.environ, WINEDEBUG="-all", LANG="C.UTF-8")
            env.pop("DISPLAY", None)
            proc = subprocess.run(RUNNER + [exe], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, env=env, cwd=tmp, timeout=120)
        self.assertEqual((proc.returncode, proc.stdout, proc.stderr), (255, b"", USAGE))


if __name__ == "__main__":
    unittest.main(verbosity=2)
