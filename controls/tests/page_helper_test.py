"""The page helper scripted from JScript through cscript, as Internet Explorer pages do, against
virtual keys on the installed system: every method's code, result, LastError and error
information, bad input, two keys and a missing token library."""
import base64
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import scripting  # noqa: E402
import servers  # noqa: E402
import signcheck  # noqa: E402
import vkeyctl  # noqa: E402

VKEY = CONTROLS = None
SERVER = servers.SERVERS[3]  # the 64-bit page helper
SERIAL = "EF56"
SETTINGS = r"HKLM\Software\Korvanet\507Q2_KOBA"
USER_SETTINGS = r"HKCU\Software\Korvanet\507Q2_KOBA"


def user_value(name):
    code, out = servers.wine("reg", "query", USER_SETTINGS, "/v", name)
    if code != 0:
        return None
    line = [l for l in out.splitlines() if name in l][0]
    return line.split("    ")[-1].strip()


class PageHelper(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="koba-page-helper-")
        cls.dir = cls.tmp.name
        cls.store = vkeyctl.Store(VKEY, cls.dir)
        cls.ca = vkeyctl.TestCA(cls.dir)
        cls.cert = signcheck.certified_key(cls.store, cls.ca, cls.dir, SERIAL, "rsa2048",
                                           "/O=Bank/CN=Wang Wu")
        for field, value in (("user-key-list", "abc||de"), ("language-mask", "0x300"),
                             ("charset-flags", "0x300")):
            cls.store.run("set", SERIAL, field, value)
        for value, data in (("USBKeyVersion", "2.0.1"), ("version", "1.0.7")):
            servers.wine("reg", "add", SETTINGS, "/v", value, "/t", "REG_SZ", "/d", data, "/f")
        servers.register(CONTROLS, SERVER)

    @classmethod
    def tearDownClass(cls):
        servers.register(CONTROLS, SERVER, undo=True)
        cls.tmp.cleanup()

    def script(self, mode):
        s = scripting.Script(self.store, "page_helper.js", SERVER[4], mode, serial=SERIAL)
        self.assertEqual(s.code, 0, s.text)
        return s

    def assertFailed(self, row, code, message):
        self.assertEqual(row[:3], (code, code, message), row)

    def test_every_method(self):
        s = self.script("main")
        for name in ("GetMediaID", "GetPublicKey", "GetPublicKeyC", "GetPublicKeyNum", "GetVersion",
                     "GetCSPInfo", "RegisterCert", "GetCharsetList", "SetCharset",
                     "GetLanguageList", "SetLanguage capitals", "SetLanguage interface-only",
                     "SetWarningMsg", "UnRegisterCert", "ClearSSLState"):
            with self.subTest(method=name):
                self.assertEqual(s[name][:2], (0, 0), s[name])
        self.assertEqual(s["LastError"][3], "0")
        self.assertEqual(s["GetMediaID"][3], SERIAL)
        self.assertEqual(user_value("UKeySN"), SERIAL)
        # The RSA key's modulus with its DER header and exponent: the certificate's public key.
        der = base64.b64decode(s["GetPublicKey"][3], validate=True)
        self.assertEqual(der[:9], bytes.fromhex("3082010A0282010100"))
        modulus = subprocess.run(["openssl", "x509", "-noout", "-modulus", "-in", self.cert],
                                 capture_output=True, text=True, check=True).stdout
        self.assertEqual(der[9:9 + 256].hex().upper(), modulus.strip().split("=")[1])
        self.assertEqual(der[-5:], bytes.fromhex("0203010001"))
        self.assertEqual(s["GetPublicKeyC"][3], "abc||de")
        self.assertEqual(s["GetPublicKeyNum"][3], "1")
        self.assertEqual(s["GetVersion"][3], "2.0.1")
        self.assertEqual(s["GetCSPInfo"][3], "Korvanet Vexlo CSP KOBA v1.0||1.0.7")
        self.assertEqual(s["GetCharsetList"][3], "GBK||UTF-8")
        self.assertEqual(s["GetLanguageList"][3], "zh_CN||en_US")
        self.assertFailed(s["SetCharset bad"], -106, "The parameter is error.")
        self.assertEqual(s["LastError after a failure"][3], "-106")
        self.assertEqual(s["LastError after a success"][3], "0")
        # Table names compare ignoring case, the interface-only ones exactly.
        self.assertFailed(s["SetLanguage interface-only lower case"], -106,
                          "The parameter is error.")
        self.assertEqual(user_value("UILang"), "0x415")
        self.assertEqual(user_value("UISupport"), "0x300")
        self.assertEqual(s["WarningMsg stored"][3], "\u8b66\u544a warning")
        self.assertEqual(s["ClearSSLState"][3], "0")
        self.assertIn(s["GetLogFileContent"][0], (0, -300))
        shown = self.store.run("show", SERIAL)
        self.assertIn('"language": 1', shown.replace('"language":1', '"language": 1'))

    def test_bad_input(self):
        servers.wine("reg", "delete", SETTINGS, "/v", "USBKeyVersion", "/f")
        try:
            s = self.script("bad")
        finally:
            servers.wine("reg", "add", SETTINGS, "/v", "USBKeyVersion", "/t", "REG_SZ", "/d",
                         "2.0.1", "/f")
        self.assertFailed(s["outside the ANSI code page"], -300, "Other error.")
        self.assertFailed(s["unpaired surrogate"], -106, "The parameter is error.")
        self.assertLess(s["null"][0], 0)
        self.assertFailed(s["over-long language"], -106, "The parameter is error.")
        self.assertEqual(s["NUL inside the warning"][:2], (0, 0))
        self.assertEqual(user_value("WarningMsg"), "before")
        self.assertFailed(s["version missing"], -101, "The system cannot find the file specified.")
        self.assertEqual(s["LastError of the missing version"][3], "-101")
        self.assertEqual(s["still working"][:2], (0, 0))

    def test_two_keys(self):
        self.store.run("create", "GH78")
        try:
            s = self.script("twokeys")
        finally:
            self.store.run("remove", "GH78")
        self.assertEqual(len(s.order), 12, s.text)
        for name in s.order:
            with self.subTest(method=name):
                self.assertFailed(s[name], -104, "It should exist only one UsbKey.")

    def test_token_library_missing(self):
        system32 = os.path.join(os.environ["WINEPREFIX"], "drive_c", "windows", "system32")
        token = os.path.join(system32, "Q2Token_koba.dll")
        shutil.move(token, token + ".away")
        try:
            s = self.script("nolibrary")
        finally:
            shutil.move(token + ".away", token)
        self.assertFailed(s["GetMediaID"], -101, "The system cannot find the file specified.")
        self.assertFailed(s["ClearSSLState"], -1, "Other error.")
        self.assertEqual(s["GetCSPInfo"][:2], (0, 0))


if __name__ == "__main__":
    VKEY, CONTROLS = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
