"""File signing through the installed host under Wine: the open-file dialog answered from
another process, the chosen-file and signed-file records and their tokens, the ".sig" file
beside the chosen file (or in the temporary folder), its text fetched in pieces and judged by
OpenSSL, and the page-path rule for every action that takes a path. The PIN is typed on the
real PIN pad's on-screen keyboard from outside."""
import base64
import json
import os
import re
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools", "pylib"))
import nmhost  # noqa: E402
import pinpad_driver  # noqa: E402
import signcheck  # noqa: E402
import vkeyctl  # noqa: E402

HOST = VKEY = PAD = DIALOG = None
WINE_RUN = os.path.join(os.path.dirname(__file__), "..", "..", "tools", "wine-run")
SERIAL = "FILE0001"
PIN = "123456"
XML = "<T><file>\u5408\u540c</file></T>"  # 合同
KEY_INFO = "ki-f"
FOLDER = "\u5f20\u4e09 \u7684\u6587\u4ef6"  # 张三 的文件: Chinese characters and a space


def record(base64_text):
    """The fields of a Base64 record text, in order."""
    text = base64.b64decode(base64_text, validate=True).decode("utf-8")
    return dict(field.split("=", 1) for field in text.split("||"))


class DialogDriver:
    """Answers the next open-file dialog with `path`, or cancels it."""

    def __init__(self, path=None):
        self.out = tempfile.TemporaryFile()
        args = [WINE_RUN, DIALOG, "--timeout-ms", "60000"] + (["--cancel"] if path is None
                                                               else [path])
        self.proc = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=self.out,
                                     stderr=self.out)

    def wait(self):
        code = self.proc.wait(90)
        self.out.seek(0)
        if code != 0:
            raise AssertionError("dialog driver %d: %s" % (code, self.out.read().decode()))


class FileSigning(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="koba-file-signing-")
        cls.dir = cls.tmp.name
        cls.store = vkeyctl.Store(VKEY, cls.dir)
        cls.ca = vkeyctl.TestCA(cls.dir)
        signcheck.certified_key(cls.store, cls.ca, cls.dir, SERIAL, "rsa2048",
                                "/O=Bank/CN=Zhang San")
        cls.files = os.path.join(cls.dir, FOLDER)
        os.makedirs(cls.files)

    @classmethod
    def tearDownClass(cls):
        subprocess.run(["chattr", "-R", "-i", cls.dir], capture_output=True)
        cls.tmp.cleanup()

    def setUp(self):
        self.host = nmhost.Host(HOST, env=self.store.env)
        self.tab = 0

    def tearDown(self):
        self.host.kill()

    def file(self, name, data):
        path = os.path.join(self.files, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def ask(self, action, timeout=60, **members):
        """All replies to one request; every one must echo the tab number and name the action."""
        self.tab += 1
        self.host.send(dict(members, type=action, tabID=self.tab))
        replies = [json.loads(self.host.receive(timeout))]
        while replies[-1]["IsOver"] == 0:
            replies.append(json.loads(self.host.receive(timeout)))
        for r in replies:
            self.assertEqual((r["tabID"], r["action"], r["responseType"]),
                             (self.tab, action, action))
        return replies

    def code(self, action, **members):
        replies = self.ask(action, **members)
        self.assertEqual(len(replies), 1)
        return replies[0]["responseData"]

    def register(self, path):
        data = self.code("NSFileToTokenExt", filePath=vkeyctl.winpath(path))
        self.assertIsInstance(data, str, data)
        return record(data)

    def sign_ext(self, token, pin=PIN, dn="CN=Zhang San"):
        """GMUsbKeySignFileExt with the PIN typed on the keyboard; the reply's data."""
        with pinpad_driver.PadDriver(pin, exe=PAD) as pad:
            self.tab += 1
            self.host.send({"type": "GMUsbKeySignFileExt", "tabID": self.tab, "certDN": dn,
                            "hashType": "SHA256", "xmlInfo": XML, "keyInfo": KEY_INFO,
                            "chooseFileToken": token})
            pad.wait()
        reply = json.loads(self.host.receive(60))
        self.assertEqual((reply["tabID"], reply["IsOver"]), (self.tab, 1))
        return reply["responseData"]

    def fetch(self, token, piece):
        """The signature file's text in pieces of `piece` bytes, with the marks seen."""
        text, marks, offset = "", [], 0
        while True:
            data = signcheck.joined(self.ask("GetSignFileContent", signedFileToken=token,
                                             maxLength=piece, fileOffset=offset),
                                    "GetSignFileContent")
            self.assertIsInstance(data, str, data)
            m = re.match(r"MARK=(\d)\|\|CONTENT=", data)
            self.assertTrue(m, data[:40])
            marks.append(int(m.group(1)))
            content = data[m.end():]
            text += content
            offset += len(content)
            if marks[-1] == 2:
                return text, marks

    def verified(self, p7_text, chosen_path, data):
        """OpenSSL verifies the signature; its content is the record over the chosen file."""
        out = os.path.join(self.dir, "check%d" % self.tab)
        registered = vkeyctl.winpath(chosen_path).replace("\\", "\\\\")
        expected = signcheck.text_record(XML.encode("utf-8"), KEY_INFO.encode(),
                                         signcheck.file_part(registered, data))
        self.assertEqual(signcheck.verified_content(p7_text, self.ca.cert, out), expected)

    def sig_files(self, folder=None):
        return sorted(n for n in os.listdir(folder or self.files) if n.endswith(".sig"))

    def test_a_named_file_is_signed_and_fetched_in_pieces(self):
        data = os.urandom(3000)
        path = self.file("\u5408\u540c 1.pdf", data)
        before = time.localtime()
        chosen = self.register(path)
        self.assertEqual(chosen["FILEPATH"], vkeyctl.winpath(path))
        self.assertEqual(chosen["FILESIZE"], "3000")
        self.assertRegex(chosen["TOKEN"], r"^[0-9A-F]{80}$")
        # The same file again: new random bytes, a new token; both stay usable.
        again = self.register(path)
        self.assertNotEqual(again["TOKEN"], chosen["TOKEN"])

        signed = record(self.sign_ext(chosen["TOKEN"]))
        self.assertRegex(signed["TOKEN"], r"^[0-9A-F]{64}$")
        name = signed["FILENAME"]
        stamps = {time.strftime("%Y%m%d%H%M", t) for t in (before, time.localtime())}
        self.assertRegex(name, r"^Zhang San\.(%s)\.[1-9]{6}\.sig$" % "|".join(stamps))
        self.assertEqual(self.sig_files(), [name])
        with open(os.path.join(self.files, name)) as f:
            on_disk = f.read()
        self.assertEqual(signed["FILESIZE"], str(len(on_disk)))

        text, marks = self.fetch(signed["TOKEN"], 1000)
        self.assertEqual(text, on_disk)
        self.assertEqual(marks, [0] + [1] * (len(marks) - 2) + [2])
        whole, marks = self.fetch(signed["TOKEN"], 10 ** 9)
        self.assertEqual((whole, marks), (on_disk, [2]))
        self.verified(text, path, data)

        token = signed["TOKEN"]
        cases = [({"maxLength": 10, "fileOffset": len(on_disk)}, -302),
                 ({"maxLength": 10, "fileOffset": 2 ** 31 - 1}, -302),
                 ({"maxLength": 10, "fileOffset": -1}, -106),
                 ({"maxLength": 0, "fileOffset": 0}, -106),
                 ({"maxLength": -5, "fileOffset": 0}, -106),
                 ({"maxLength": 1.5, "fileOffset": 0}, -106),
                 ({"maxLength": 2 ** 31, "fileOffset": 0}, -106),
                 ({"signedFileToken": token[:63]}, -106),
                 ({"signedFileToken": "0" * 64}, -106),
                 ({"signedFileToken": token.lower()}, -106)]
        for members, code in cases:
            with self.subTest(**{k: str(v)[:12] for k, v in members.items()}):
                request = dict({"signedFileToken": token, "maxLength": 10, "fileOffset": 0},
                               **members)
                self.assertEqual(self.code("GetSignFileContent", **request), code)
        self.assertEqual(self.code("GetSignFileContent", signedFileToken=token, maxLength=5,
                                   fileOffset=len(on_disk) - 2),
                         "MARK=2||CONTENT=" + on_disk[-2:])

        # A second signature makes the first token stale; a token of another process is unknown.
        second = record(self.sign_ext(again["TOKEN"]))
        self.assertEqual(self.code("GetSignFileContent", signedFileToken=token, maxLength=10,
                                   fileOffset=0), -106)
        self.assertTrue(self.code("GetSignFileContent", signedFileToken=second["TOKEN"],
                                  maxLength=10, fileOffset=0).startswith("MARK=0||CONTENT="))
        with nmhost.Host(HOST, env=self.store.env) as other:
            reply = other.request({"type": "GetSignFileContent", "signedFileToken":
                                   second["TOKEN"], "maxLength": 10, "fileOffset": 0})
            self.assertEqual(reply["responseData"], -106)
            reply = other.request({"type": "GMUsbKeySignFileExt", "certDN": "CN=Zhang San",
                                   "hashType": "SHA256", "xmlInfo": XML, "keyInfo": KEY_INFO,
                                   "chooseFileToken": chosen["TOKEN"]})
            self.assertEqual(reply["responseData"], -106)
            other.close()

    def test_the_open_file_dialog(self):
        data = b"chosen content\r\n"
        path = self.file("\u9009\u4e2d \u6587\u4ef6.txt", data)
        win = vkeyctl.winpath(path)
        dialog = DialogDriver(win)
        self.tab += 1
        self.host.send({"type": "NSChooseFile", "tabID": self.tab})
        dialog.wait()
        raw = self.host.receive(60)
        self.assertEqual(json.loads(raw)["responseData"], win)
        # On the wire every backslash of the path is doubled.
        self.assertIn(win.replace("\\", "\\\\").encode("utf-8"), raw)
        dialog = DialogDriver(None)
        self.tab += 1
        self.host.send({"type": "NSChooseFile", "tabID": self.tab})
        dialog.wait()
        self.assertEqual(json.loads(self.host.receive(60))["responseData"], "")

        dialog = DialogDriver(None)
        self.tab += 1
        self.host.send({"type": "NSChooseFileExt", "tabID": self.tab})
        dialog.wait()
        self.assertEqual(json.loads(self.host.receive(60))["responseData"], -100)
        dialog = DialogDriver(win)
        self.tab += 1
        self.host.send({"type": "NSChooseFileExt", "tabID": self.tab})
        dialog.wait()
        chosen = record(json.loads(self.host.receive(60))["responseData"])
        self.assertEqual((chosen["FILEPATH"], chosen["FILESIZE"]), (win, str(len(data))))
        self.assertRegex(chosen["TOKEN"], r"^[0-9A-F]{64}$")
        signed = record(self.sign_ext(chosen["TOKEN"]))
        text, _ = self.fetch(signed["TOKEN"], 700)
        self.verified(text, path, data)
        os.remove(os.path.join(self.files, signed["FILENAME"]))

    def test_no_half_made_signature_file(self):
        path = self.file("pulled.bin", b"x" * 100)
        chosen = self.register(path)
        before = self.sig_files()
        # The key is pulled out while it signs.
        self.store.run("fault", SERIAL, "VexloT_RsaSign_koba", "--remove")
        self.assertEqual(self.sign_ext(chosen["TOKEN"]), -300)
        self.assertEqual(self.sig_files(), before)
        self.store.run("insert", SERIAL)
        # The file changed after it was chosen: its token no longer stands for it.
        self.file("pulled.bin", b"y" * 100)
        self.assertEqual(self.code("GMUsbKeySignFileExt", certDN="CN=Zhang San",
                                   hashType="SHA256", xmlInfo=XML, keyInfo=KEY_INFO,
                                   chooseFileToken=chosen["TOKEN"]), -106)
        self.assertEqual(self.code("GMUsbKeySignFileExt", certDN="CN=Li Si", hashType="SHA256",
                                   xmlInfo=XML, keyInfo=KEY_INFO,
                                   chooseFileToken=chosen["TOKEN"]), -405)
        self.assertEqual(self.sig_files(), before)

    def test_a_read_only_folder_sends_the_signature_to_the_temporary_folder(self):
        folder = os.path.join(self.dir, "read only")
        os.makedirs(folder)
        path = os.path.join(folder, "doc.txt")
        with open(path, "wb") as f:
            f.write(b"read-only folder")
        chosen = self.register(path)
        subprocess.run(["chattr", "+i", folder], check=True)
        try:
            signed = record(self.sign_ext(chosen["TOKEN"]))
        finally:
            subprocess.run(["chattr", "-i", folder], check=True)
        self.assertEqual(self.sig_files(folder), [])
        found = [os.path.join(root, signed["FILENAME"])
                 for root, _, names in os.walk(os.path.join(os.environ["WINEPREFIX"], "drive_c",
                                                            "users"))
                 if signed["FILENAME"] in names]
        self.assertEqual(len(found), 1, found)
        text, _ = self.fetch(signed["TOKEN"], 4096)
        with open(found[0]) as f:
            self.assertEqual(text, f.read())
        self.verified(text, path, b"read-only folder")

    def test_the_plain_file_signing(self):
        data = b"plain"
        path = self.file("plain.txt", data)
        out = os.path.join(self.files, "\u7b7e\u540d out.p7")
        with pinpad_driver.PadDriver(PIN, exe=PAD) as pad:
            self.tab += 1
            self.host.send({"type": "GMUsbKeySignFile", "tabID": self.tab,
                            "certDN": "CN=Zhang San", "hashType": "SHA256", "xmlInfo": XML,
                            "keyInfo": KEY_INFO, "filePath": vkeyctl.winpath(path),
                            "fileP7": vkeyctl.winpath(out)})
            pad.wait()
        self.assertEqual(json.loads(self.host.receive(60))["responseData"], 0)
        with open(out) as f:
            p7 = f.read()
        prefix = os.path.join(self.dir, "plain")
        expected = signcheck.text_record(XML.encode("utf-8"), KEY_INFO.encode(),
                                         signcheck.file_part(vkeyctl.winpath(path), data))
        self.assertEqual(signcheck.verified_content(p7, self.ca.cert, prefix), expected)
        # Without an output file nothing is signed; an empty DN asks for the key's special
        # certificate, which this key lacks; a cancelled PIN leaves no file behind.
        self.assertEqual(self.code("GMUsbKeySignFile", certDN="CN=Zhang San", hashType="SHA256",
                                   xmlInfo=XML, keyInfo=KEY_INFO, filePath=""), -360)
        missing = os.path.join(self.files, "never.p7")
        self.assertEqual(self.code("GMUsbKeySignFile", certDN="", hashType="SHA256", xmlInfo=XML,
                                   keyInfo=KEY_INFO, filePath="",
                                   fileP7=vkeyctl.winpath(missing)), -405)
        with pinpad_driver.PadDriver(PIN, exe=PAD, cancel=True) as pad:
            self.tab += 1
            self.host.send({"type": "GMUsbKeySignFile", "tabID": self.tab,
                            "certDN": "CN=Zhang San",
                            "hashType": "SHA256", "xmlInfo": XML, "keyInfo": KEY_INFO,
                            "filePath": "", "fileP7": vkeyctl.winpath(missing)})
            reply = json.loads(self.host.receive(90))
            self.assertEqual(reply["responseData"], -100)
            pad.wait()
        self.assertFalse(os.path.exists(missing))

    def test_page_paths_must_name_a_local_file(self):
        existing = self.file("exists.txt", b"e")
        win = vkeyctl.winpath(existing)
        refused = ["\\\\host\\share\\x.txt", "//host/share/x.txt", "\\\\?\\" + win,
                   "\\\\.\\pipe\\koba", "\\\\.\\C:", "\\??\\" + win, "exists.txt",
                   "..\\exists.txt", "Z:exists.txt", win + ":stream", win + "::$DATA",
                   os.path.dirname(win) + "\\NUL.txt", os.path.dirname(win) + "\\com1",
                   "C:\\CON", os.path.dirname(win) + "\\", "", "Z:\\a?.txt"]
        for path in refused:
            with self.subTest(path=path):
                if path:
                    self.assertEqual(self.code("GMUsbKeySign", certDN="CN=Zhang San",
                                               hashType="SHA256", xmlInfo=XML,
                                               keyInfo=KEY_INFO, filePath=path), -106)
                # Each refusal counts as a failed read: a host of its own for each.
                with nmhost.Host(HOST, env=self.store.env) as fresh:
                    reply = fresh.request({"type": "NSFileToTokenExt", "filePath": path})
                    self.assertEqual(reply["responseData"], -106)
                    fresh.close()
        # An accepted form of a missing file is a read error, as before.
        self.assertEqual(self.code("GMUsbKeySign", certDN="CN=Zhang San", hashType="SHA256",
                                   xmlInfo=XML, keyInfo=KEY_INFO, filePath=win + ".missing"),
                         -302)

    def test_probing_paths_shuts_the_action_off(self):
        readable = self.file("readable.txt", b"r")
        missing = vkeyctl.winpath(os.path.join(self.files, "missing-%d.txt"))
        for i in range(10):
            self.assertEqual(self.code("NSFileToTokenExt", filePath=missing % i), -302)
        # A success does not reset the count.
        self.assertIsInstance(self.register(readable)["TOKEN"], str)
        self.assertEqual(self.code("NSFileToTokenExt", filePath=missing % 10), -101)
        self.assertEqual(self.code("NSFileToTokenExt", filePath=vkeyctl.winpath(readable)), -101)
        with nmhost.Host(HOST, env=self.store.env) as fresh:
            reply = fresh.request({"type": "NSFileToTokenExt",
                                   "filePath": vkeyctl.winpath(readable)})
            self.assertIsInstance(reply["responseData"], str)
            fresh.close()


if __name__ == "__main__":
    HOST, VKEY, PAD, DIALOG = (sys.argv.pop(1) for _ in range(4))
    unittest.main(verbosity=2)
