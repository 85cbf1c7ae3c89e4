"""The token control scripted from JScript through cscript, as Internet Explorer pages do,
against virtual keys on the installed system: every method's code, LastError and error
information, signatures judged by OpenSSL, bad input, two keys, and the signature guard."""
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
SERVER = servers.SERVERS[1]  # the 64-bit token control
SERIAL = "AB12"
PIN = "123456"
DN = "CN=Zhang San"
XML = "<T><amount>100.00</amount><payee>\u5f20\u4e09</payee></T>"
KEY_INFO = "ki-01"
SETTINGS = r"HKLM\Software\Korvanet\507Q2_KOBA"
MESSAGES = {-104: "It should exist only one UsbKey.", -106: "The parameter is error.",
            -363: "Error state."}


class TokenControl(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="koba-token-control-")
        cls.dir = cls.tmp.name
        cls.store = vkeyctl.Store(VKEY, cls.dir)
        cls.ca = vkeyctl.TestCA(cls.dir)
        signcheck.certified_key(cls.store, cls.ca, cls.dir, SERIAL, "rsa2048", "/O=Bank/CN=Zhang San")
        cls.file = os.path.join(cls.dir, "contract.txt")
        with open(cls.file, "wb") as f:
            f.write(b"contract text\r\n" * 50)
        for value, data in (("GMUSBKeyVersion", "3.2.1"), ("version", "1.0.7")):
            code, out = servers.wine("reg", "add", SETTINGS, "/v", value, "/t", "REG_SZ", "/d",
                                     data, "/f")
            assert code == 0, "reg add %s: %d %s" % (value, code, out)
        servers.register(CONTROLS, SERVER)

    @classmethod
    def tearDownClass(cls):
        servers.register(CONTROLS, SERVER, undo=True)
        cls.tmp.cleanup()

    def params(self):
        return dict(dn=DN, xml=XML, keyInfo=KEY_INFO, serial=SERIAL, file=vkeyctl.winpath(self.file),
                    request="x", reply="y")

    def assertFailed(self, row, code, message=None):
        self.assertEqual(row[:2], (code, code), row)
        if message:
            self.assertEqual(row[2], message)

    def test_every_method(self):
        for progid in (SERVER[4], SERVER[3]):
            with self.subTest(progid=progid):
                s = scripting.Script(self.store, "token_control.js", progid, "main",
                                     pins=[PIN, PIN], **self.params())
                self.assertEqual(s.code, 0, s.text)
                ok = lambda name: self.assertEqual(s[name][:2], (0, 0), s[name])  # noqa: E731
                self.assertEqual(s["LastError"][3], "0")
                ok("GetMediaID")
                self.assertEqual(s["GetMediaID"][3], SERIAL)
                for name in ("GetPublicKey", "GetPublicKeyC", "GMGetPublicKey", "GMGetCertDN",
                             "GetCharsetList", "GetLanguageList", "GMGetPKCS7"):
                    ok(name)
                self.assertEqual(s["GMGetCertDN"][3], "O=Bank,CN=Zhang San")
                der = base64.b64decode(s["GetPublicKey"][3].split("||")[0], validate=True)
                self.assertEqual(der[0], 0x30)
                self.assertEqual(s["GetPublicKeyNum"][:2], (0, 0))
                self.assertEqual(s["GetPublicKeyNum"][3], "1")
                self.assertEqual(s["GetVersion"][3], "3.2.1")
                self.assertEqual(s["GetCSPInfo"][3], "Korvanet Vexlo CSP KOBA v1.0||1.0.7")
                self.assertEqual(s["GetDriverVersion"][3], "1.0.7")
                for name in ("RegisterCert", "SetCharset", "SetLanguage", "SetWarningMsg",
                             "UnRegisterCert", "ClearSSLState", "GMJudgeAndDelOlderDN"):
                    ok(name)
                self.assertEqual(s["SetCharset"][3], "0")
                self.assertFailed(s["GMGetPublicKey empty"], -106, MESSAGES[-106])
                self.assertEqual(s["LastError after a failure"][3], "-106")
                self.assertFailed(s["SetCharset bad"], -106, MESSAGES[-106])
                self.assertFailed(s["GMCreatePKCS10 bad"], -106)
                self.assertLess(s["GMWritePKCS7 bad"][0], 0)
                self.assertFailed(s["GMDelTempKey empty"], -106)
                self.assertLess(s["GMGetPublicKeyC bad type"][0], 0)
                # The key's administrator information is refused on a user key.
                self.assertLess(s["GMGetAdminKeyInfo"][0], 0)
                # The transaction signature, judged by OpenSSL.
                ok("GMUsbKeySign")
                self.assertEqual(s["LastError after a success"][3], "0")
                out = os.path.join(self.dir, "sign-" + progid)
                self.assertEqual(signcheck.verified_content(s["GMUsbKeySign"][3], self.ca.cert, out),
                                 signcheck.text_record(XML.encode("utf-8"), KEY_INFO.encode()))
                # The file signature: its record, then its text in one piece.
                ok("NSFileToTokenExt")
                ok("GMUsbKeySignFileExt")
                ok("GetSignFileContent")
                content = s["GetSignFileContent"][3]
                self.assertTrue(content.startswith("MARK=2||CONTENT="), content[:40])
                signed = signcheck.verified_content(content[len("MARK=2||CONTENT="):].strip(),
                                                    self.ca.cert, out + "-file")
                with open(self.file, "rb") as f:
                    self.assertIn(base64.b64encode(f.read()), signed)
                for name in ("GetSignFileContent negative length", "GetSignFileContent negative offset",
                             "GetSignFileContent other token"):
                    self.assertFailed(s[name], -106, MESSAGES[-106])
                self.assertLess(s["GetSignFileContent huge offset"][0], 0)
                self.assertIn(s["GetLogFileContent"][0], (0, -300))

    def test_bad_input(self):
        s = scripting.Script(self.store, "token_control.js", SERVER[4], "bad", **self.params())
        self.assertEqual(s.code, 0, s.text)
        for name in ("unpaired surrogate", "empty type", "over-long path",
                     "surrogate in the transaction"):
            self.assertFailed(s[name], -106, MESSAGES[-106])
        self.assertFailed(s["outside the ANSI code page"], -300, "Other error.")
        # A null is no text: the type library's conversion refuses it before the control runs.
        self.assertLess(s["null"][0], 0)
        self.assertLess(s["over-long key type"][0], 0)
        self.assertLess(s["over-long DN"][0], 0)
        # The warning text is kept to its first 4096 characters.
        self.assertEqual(s["over-long warning"][:2], (0, 0))
        self.assertEqual(s["still working"][:2], (0, 0))

    def test_two_keys(self):
        self.store.run("create", "CD34")
        try:
            s = scripting.Script(self.store, "token_control.js", SERVER[4], "twokeys",
                                 **self.params())
        finally:
            self.store.run("remove", "CD34")
        self.assertEqual(s.code, 0, s.text)
        self.assertEqual(len(s.order), 22, s.text)
        for name in s.order:
            with self.subTest(method=name):
                self.assertFailed(s[name], -104, MESSAGES[-104])

    def test_signature_guard(self):
        system32 = os.path.join(os.environ["WINEPREFIX"], "drive_c", "windows", "system32")
        devex = os.path.join(system32, "Q2DevEx01_koba.dll")
        saved = devex + ".signed"
        shutil.copy2(devex, saved)
        try:
            os.remove(devex)
            subprocess.run(["osslsigncode", "remove-signature", "-in", saved, "-out", devex],
                           check=True, capture_output=True)
            s = scripting.Script(self.store, "token_control.js", SERVER[4], "guard", **self.params())
        finally:
            shutil.move(saved, devex)
        self.assertEqual(s.code, 0, s.text)
        self.assertEqual(s["GetMediaID"][:2], (0, 0))
        self.assertEqual(s["GMGetCertDN"][:2], (0, 0))
        for name in ("GMGetPublicKey", "GMGetPublicKeyC", "GMCreatePKCS10", "GMWritePKCS7",
                     "GMUsbKeySign", "GMUsbKeySignFile", "GMDelTempKey"):
            with self.subTest(method=name):
                # Refused before anything runs: LastError keeps the earlier success.
                self.assertEqual(s[name][:3], (-363, 0, "Error state."))


if __name__ == "__main__":
    VKEY, CONTROLS = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
