"""Every row of the host's action table through the installed host under Wine, with no key
inserted: the row answered with valid members, and with each member missing or of the wrong
type. Each reply is checked byte for byte against its template, with the request's tab number
echoed. Rows are data: a new action adds a row here."""
import json
import os
import re
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools", "pylib"))
import nmhost  # noqa: E402
import vkeyctl  # noqa: E402

HOST = VKEY = DIALOG = None
WINE_RUN = os.path.join(os.path.dirname(__file__), "..", "..", "tools", "wine-run")
TEXT = "text"
# The version values live in the machine's settings, which another test may have written.
VERSION = "version"
S = "s"  # a string member
I = 7  # an integer member

# (action, members with valid values, what the valid request answers without a key, and
# whether it opens the open-file dialog, which the test cancels). An expected value of TEXT
# accepts any text result, VERSION also -101; a number or string must be the result exactly.
ROWS = [
    ("GetMediaID", {}, -102),
    ("IsExtensionOK", {}, 0),
    ("GetDriverVersion", {}, VERSION),
    ("GMGetCertDN", {}, -102),
    ("GetPublicKeyC", {}, -102),
    ("GMGetAdminKeyInfo", {}, -102),
    ("GetVersion", {}, VERSION),
    ("CustInitCard", {}, -102),
    ("GetCharsetList", {}, -102),
    ("SetCharset", {"charset": "1"}, -102),
    ("GetLanguageList", {}, -102),
    ("GMJudgeAndDelOlderDN", {}, -102),
    ("SetLanguage", {"language": "1"}, -102),
    ("SetWarningMsg", {"warningMsg": "w"}, 0),
    ("GMGetPublicKey", {"keyType": "AllPubKey"}, -102),
    ("GMCreatePKCS10", {"info": "DN(CN=a)HASH(SHA256)KEYTYPE(RSA2048)CERTTYPE(01)"}, -102),
    ("GMWritePKCS7", {"p7": "AAAA"}, -102),
    ("GMGetPKCS7", {}, -102),
    ("GMUsbKeySignFile", {"certDN": "", "hashType": "SHA256", "xmlInfo": "x", "keyInfo": "k",
                          "filePath": "", "fileP7": "@out"}, -102),
    ("GMGetPublicKeyC", {"KeyType": "01", "dnOrID": "CN=a",
                         "Base64SerRand": "A" * 20}, -102),
    ("GMDelTempKey", {"CertDn": "CN=a", "PublicKeyId": "01"}, -102),
    ("ChangePin", {}, -102),
    ("NSChooseFile", {}, "", "dialog"),
    ("GMUsbKeySign", {"certDN": "CN=a", "hashType": "SHA256", "xmlInfo": "x", "keyInfo": "k",
                      "filePath": ""}, -102),
    ("NSFileToTokenExt", {"filePath": "@file"}, -102),
    ("NSChooseFileExt", {}, -100, "dialog"),
    ("GMUsbKeySignFileExt", {"certDN": "CN=a", "hashType": "SHA256", "xmlInfo": "x",
                             "keyInfo": "k", "chooseFileToken": "AB"}, -106),
    ("GetSignFileContent", {"signedFileToken": "A" * 64, "maxLength": 100, "fileOffset": 0},
     -106),
    ("ClearSSLState", {}, 0),
    ("GetLogFileContent", {"MediaID": "NOKEY", "LineNum": 5}, -300),
]

# Members that are never checked, and checks beyond the type.
UNCHECKED = {("GMUsbKeySignFile", "fileP7")}
LIMITS = [("SetCharset", "charset", 5),
          ("GMUsbKeySignFileExt", "certDN", "CN=" + "a" * 61),
          ("GetSignFileContent", "signedFileToken", "A" * 63),
          ("GetSignFileContent", "signedFileToken", "A" * 65),
          ("GetSignFileContent", "maxLength", 1.5),
          ("GetSignFileContent", "fileOffset", 2 ** 31)]
# Valid values of a member in the other JSON type.
WRONG = {str: 12, int: "12", float: "12"}


def template(tab, action, data):
    """The reply text the host must send, byte for byte."""
    head = '{"tabID": %d,"IsOver": 1,"action": "%s","responseType": "%s","responseData": ' % (
        tab, action, action)
    if isinstance(data, int):
        return head + "%d}" % data
    return head + json.dumps(data, ensure_ascii=False) + "}"


class ActionTable(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="koba-action-table-")
        cls.store = vkeyctl.Store(VKEY, cls.tmp.name)
        path = os.path.join(cls.tmp.name, "doc.txt")
        with open(path, "w") as f:
            f.write("doc")
        cls.values = {"@file": vkeyctl.winpath(path),
                      "@out": vkeyctl.winpath(os.path.join(cls.tmp.name, "out.p7"))}

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def setUp(self):
        self.tab = 100

    def answer(self, host, request, dialog=False):
        """The reply text to one request; a dialog it opens is cancelled from outside."""
        self.tab += 1
        request = dict(request, tabID=self.tab)
        driver = None
        if dialog:
            driver = subprocess.Popen([WINE_RUN, DIALOG, "--timeout-ms", "60000", "--cancel"],
                                      stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL)
        host.send(request)
        if driver is not None:
            self.assertEqual(driver.wait(90), 0, "no open-file dialog to cancel")
        return host.receive(60).decode("utf-8")

    def members(self, members):
        return {k: self.values.get(v, v) if isinstance(v, str) else v
                for k, v in members.items()}

    def test_every_row(self):
        names = [row[0] for row in ROWS]
        self.assertEqual(len(names), len(set(names)))
        with nmhost.Host(HOST, env=self.store.env) as host:
            for row in ROWS:
                action, members, expected = row[:3]
                dialog = len(row) > 3
                valid = dict(self.members(members), type=action)
                with self.subTest(action=action, case="valid"):
                    reply = self.answer(host, valid, dialog)
                    if expected == VERSION and reply.endswith("-101}"):
                        self.assertEqual(reply, template(self.tab, action, -101))
                    elif expected in (TEXT, VERSION):
                        self.assertRegex(reply, "^" + re.escape(template(self.tab, action, "")
                                                                [:-2]) + '[^"]+"}$')
                    else:
                        self.assertEqual(reply, template(self.tab, action, expected))
                for name, value in members.items():
                    if (action, name) in UNCHECKED:
                        continue
                    wrong = WRONG[type(value)]
                    for case, request in (("missing", {k: v for k, v in valid.items()
                                                       if k != name}),
                                          ("wrong type", dict(valid, **{name: wrong}))):
                        with self.subTest(action=action, member=name, case=case):
                            self.assertEqual(self.answer(host, request),
                                             template(self.tab, action, -106))
                # A request without a tab number is answered with 0.
                if not dialog:
                    host.send(valid)
                    self.assertTrue(host.receive(60).startswith(b'{"tabID": 0,"IsOver": 1,'))
            for action, name, value in LIMITS:
                row = next(r for r in ROWS if r[0] == action)
                request = dict(self.members(row[1]), type=action, **{name: value})
                with self.subTest(action=action, member=name, value=str(value)[:8]):
                    self.assertEqual(self.answer(host, request), template(self.tab, action, -106))
            # Names outside the table, and names that differ only in case.
            for action in ("Foo", "getmediaid", "GMUsbKeySignfileExt"):
                self.tab += 1
                host.send({"type": action, "tabID": self.tab})
                self.assertEqual(host.receive(60).decode(),
                                 '{"tabID": %d,"IsOver": 1,"action": "%s","responseType": "%s",'
                                 '"error":"NativeExe: not supported function",'
                                 '"responseData": -411}' % (self.tab, action, action))
            host.close()


if __name__ == "__main__":
    HOST, VKEY, DIALOG = (sys.argv.pop(1) for _ in range(3))
    unittest.main(verbosity=2)
