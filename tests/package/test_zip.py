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
import zarnrun  # noqa: E402
from test_cli import USAGE  # noqa: E402

ZIP = os.environ.get("ZARN_ZIP", "")
TOP = "zarntwchk-%s-win64/" % os.environ.get("ZARN_VERSION", "")


class ZipTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not os.path.isfile(ZIP):
            raise RuntimeError("ZARN_ZIP does not name the package: %r" % ZIP)
        cls.zip = zipfile.ZipFile(ZIP)
        cls.addClassCleanup(cls.zip.close)

    def test_listing(self):
        files = sorted(n for n in self.zip.namelist() if not n.endswith("/"))
        self.assertEqual(files, [TOP + "README.txt", TOP + "bin/zarntwchk.exe"])

    def test_readme_is_windows_text(self):
        text = self.zip.read(TOP + "README.txt")
        # Every line ends in CR LF, the last one too; no CR or LF stands alone.
        self.assertTrue(text.endswith(b"\r\n"))
        self.assertNotRegex(text, rb"\r(?!\n)|(?<!\r)\n")
        readme = text.decode("ascii")  # Notepad in any code page shows it
        lines = readme.split("\r\n")
        self.assertEqual(lines[0], "zarntwchk for Windows")
        self.assertLessEqual(max(len(line) for line in lines), 80)
        self.assertIn("bin\\zarntwchk.exe -m single", readme)
        self.assertIn("ZARNTWCHK(1)", readme)  # the manual follows

    def test_exe_runs_alone(self):
        with tempfile.TemporaryDirectory() as tmp:
            exe = self.zip.extract(TOP + "bin/zarntwchk.exe", tmp)
            proc = subprocess.run(zarnrun.RUNNER + [exe], stdin=subprocess.DEVNULL,
                                  capture_output=True, env=zarnrun.environment(), cwd=tmp,
                                  timeout=120)
        self.assertEqual((proc.returncode, proc.stdout, proc.stderr), (zarnrun.FAILED, b"", USAGE))


if __name__ == "__main__":
    unittest.main(verbosity=2)
