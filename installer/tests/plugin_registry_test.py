"""The registry exports of Plugin_lmwt called by a real NSIS installer under wine64: the
argument grammar, both registry views and the value rules, judged by reg.exe."""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import nsis_cases as nc  # noqa: E402

PLUGIN_DIR = None
BASE = r"Software\KobaPluginTest"
KEY32 = r"HKLM\Software\Wow6432Node\KobaPluginTest"
KEY64 = r"HKLM\Software\KobaPluginTest"
LONG_HEX = "AB" * 300  # 300 bytes, more than a read takes

# (title, export, arguments, expected $R0); run in order in one installer.
CASES = [
    ("32-bit view only", "WriteRegStr", ["/x86", "HKLM", BASE + r"\A", "Name", "Hello", "go"],
     nc.UNSET),
    ("both views, switches anywhere", "WriteRegStr",
     ["HKLM", "/X64", BASE + r"\B", "Name", "/x86", "Both", "go"], nc.UNSET),
    ("no view writes nothing", "WriteRegStr", ["HKLM", BASE + r"\C", "Name", "X", "go"], nc.UNSET),
    ("negative number", "WriteRegDWORD", ["/x86", "hklm", BASE + r"\D", "N", "-12", "go"],
     nc.UNSET),
    ("hex bytes", "WriteRegBin", ["/x86", "HKLM", BASE + r"\D", "B1", "0A1B", "go"], nc.UNSET),
    ("bad hex empties", "WriteRegBin", ["/x86", "HKLM", BASE + r"\D", "B2", "0A1X", "go"],
     nc.UNSET),
    ("long binary", "WriteRegBin", ["/x86", "HKLM", BASE + r"\D", "B3", LONG_HEX, "go"], nc.UNSET),
    ("read number", "ReadRegDWORD", ["/x86", "HKLM", BASE + r"\D", "N", "go"], "-12"),
    ("read hex", "ReadRegBin", ["/x86", "HKLM", BASE + r"\D", "B1", "go"], "0A1B"),
    ("read empty binary", "ReadRegBin", ["/x86", "HKLM", BASE + r"\D", "B2", "go"], ""),
    ("read beyond the buffer", "ReadRegBin", ["/x86", "HKLM", BASE + r"\D", "B3", "go"], ""),
    ("repeated last argument", "ReadRegStr", ["/x86", "HKLM", BASE + r"\A", "Name"], "Hello"),
    ("64-bit view only has no A", "ReadRegStr", ["/x64", "HKLM", BASE + r"\A", "Name", "go"], ""),
    ("E 32", "WriteRegDWORD", ["/x86", "HKLM", BASE + r"\E", "N", "1", "go"], nc.UNSET),
    ("E 64", "WriteRegDWORD", ["/x64", "HKLM", BASE + r"\E", "N", "2", "go"], nc.UNSET),
    ("both views read, 32-bit last", "ReadRegDWORD",
     ["/x64", "/x86", "HKLM", BASE + r"\E", "N", "go"], "1"),
    ("missing key reads 0", "ReadRegDWORD", ["/x86", "HKLM", BASE + r"\None", "N", "go"], "0"),
    ("empty argument", "WriteRegStr", ["/x86", "HKLM", "", "Name", "V", "go"], "0"),
    ("unknown root", "WriteRegStr", ["/x86", "HKEY_LOCAL_MACHINE", BASE + r"\X", "N", "V", "go"],
     nc.UNSET),
    ("only a switch", "WriteRegStr", ["/x86"], "0"),
    ("subkey for ifempty", "WriteRegStr", ["/x86", "HKLM", BASE + r"\F\G", "N", "V", "go"],
     nc.UNSET),
    ("ifempty keeps a parent", "DeleteRegKey", ["/x86", "/ifempty", "HKLM", BASE + r"\F", "go"],
     "1"),
    ("delete the leaf", "DeleteRegKey", ["/x86", "HKLM", BASE + r"\F\G", "go"], "1"),
    ("delete a missing key", "DeleteRegKey", ["/x86", "HKLM", BASE + r"\Missing", "go"], "0"),
    ("delete a key with subkeys", "DeleteRegKey", ["/x86", "HKLM", BASE, "go"], "0"),
    ("delete 64-bit value", "DeleteRegValue", ["/x64", "HKLM", BASE + r"\B", "Name", "go"], "1"),
    ("delete missing value", "DeleteRegValue", ["/x86", "HKLM", BASE + r"\B", "Nope", "go"], "0"),
]

# (key, value, expected (type, data) or None) after the run.
CHECKS = [
    (KEY32 + r"\A", "Name", ("REG_SZ", "Hello")),
    (KEY64 + r"\A", "Name", None),
    (KEY32 + r"\B", "Name", ("REG_SZ", "Both")),
    (KEY64 + r"\B", "Name", None),
    (KEY32 + r"\C", "Name", None),
    (KEY64 + r"\C", "Name", None),
    (KEY32 + r"\D", "N", ("REG_DWORD", "0xfffffff4")),
    (KEY32 + r"\D", "B1", ("REG_BINARY", "0A1B")),
    (KEY32 + r"\D", "B2", ("REG_BINARY", "")),
    (KEY32 + r"\E", "N", ("REG_DWORD", "0x1")),
    (KEY64 + r"\E", "N", ("REG_DWORD", "0x2")),
    (KEY32 + r"\F", "N", None),
]


class RegistryExports(unittest.TestCase):
    def test_table(self):
        with tempfile.TemporaryDirectory() as work:
            exe = nc.build(PLUGIN_DIR, work, "registry",
                           [nc.case_lines(export, args) for _, export, args, _ in CASES])
            try:
                results = nc.run(exe)
                self.assertEqual(len(results), len(CASES))
                for (title, _, _, expected), got in zip(CASES, results):
                    self.assertEqual(got, expected, title)
                for key, name, expected in CHECKS:
                    self.assertEqual(nc.reg_value(key, name), expected, key + " " + name)
                self.assertTrue(nc.reg_key_exists(KEY32 + r"\F"))
                self.assertFalse(nc.reg_key_exists(KEY32 + r"\F\G"))
                self.assertFalse(nc.reg_key_exists(KEY32 + r"\X"))
            finally:
                nc.wine("reg.exe", "delete", KEY32, "/f")
                nc.wine("reg.exe", "delete", KEY64, "/f")


if __name__ == "__main__":
    PLUGIN_DIR = sys.argv.pop(1)
    del sys.argv[1:3]  # the probe and the NSS bridge of the other suites
    unittest.main()
