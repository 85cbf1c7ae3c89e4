"""File signing as a bank page runs it through Chromium: the extension has a file chosen
(NSChooseFileExt; the test answers the open-file dialog from outside), signs it with
GMUsbKeySignFileExt (the PIN typed on the PIN pad's on-screen keyboard), fetches the ".sig"
text with GetSignFileContent in pieces of the page's size and puts them together; OpenSSL
verifies the result against the test CA and the original file."""
import os
import subprocess
import sys
import tempfile
import threading
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools", "pylib"))
import chromium_driver  # noqa: E402
import pinpad_driver  # noqa: E402
import signcheck  # noqa: E402
import vkeyctl  # noqa: E402

HOST = VKEY = PAD = DIALOG = None
WINE_RUN = os.path.join(os.path.dirname(__file__), "..", "..", "tools", "wine-run")
SERIAL = "CHRF0001"
PIN = "123456"
XML = "<T><file>\u8d37\u6b3e\u5408\u540c</file></T>"  # 贷款合同
KEY_INFO = "ki-file"
PIECE = 4000  # the page's piece size: the signature comes in several pieces


class FileSigningThroughChromium(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="koba-chromium-file-")
        self.dir = self.tmp.name
        self.store = vkeyctl.Store(VKEY, self.dir)
        self.ca = vkeyctl.TestCA(self.dir)
        signcheck.certified_key(self.store, self.ca, self.dir, SERIAL, "sm2",
                                "/O=Bank/CN=Wang Wu")

    def tearDown(self):
        self.tmp.cleanup()

    def test_choose_sign_and_fetch_in_pieces(self):
        folder = os.path.join(self.dir, "\u5ba2\u6237 \u6587\u4ef6")  # 客户 文件
        os.makedirs(folder)
        document = os.path.join(folder, "\u5408\u540c 2024.pdf")
        content = os.urandom(20000)
        with open(document, "wb") as f:
            f.write(content)
        path = vkeyctl.winpath(document)

        failures = []

        def user():
            """Chooses the file in the dialog, then types the PIN."""
            try:
                with tempfile.TemporaryFile() as out:
                    chooser = subprocess.run([WINE_RUN, DIALOG, "--timeout-ms", "90000", path],
                                             stdin=subprocess.DEVNULL, stdout=out, stderr=out,
                                             timeout=120)
                    if chooser.returncode != 0:
                        out.seek(0)
                        raise AssertionError("dialog: " + out.read().decode())
                with pinpad_driver.PadDriver(PIN, exe=PAD, timeout=90) as pad:
                    pad.wait()
            except Exception as e:  # reported by the test below
                failures.append(e)
        person = threading.Thread(target=user, daemon=True)
        person.start()
        flow = {"flow": "signFile", "tabID": 9, "piece": PIECE,
                "sign": {"certDN": "CN=Wang Wu", "hashType": "SM3", "xmlInfo": XML,
                         "keyInfo": KEY_INFO}}
        outcome = chromium_driver.drive(HOST, [flow], timeout=240, env=self.store.env)
        person.join(120)
        self.assertEqual(failures, [])
        self.assertIsNone(outcome["disconnect"])
        replies = outcome["results"][0]
        self.assertEqual({r["tabID"] for r in replies}, {9})
        actions = [r["action"] for r in replies]
        self.assertEqual(actions[:2], ["NSChooseFileExt", "GMUsbKeySignFileExt"])
        pieces = actions[2:]
        self.assertGreater(len(pieces), 2)
        self.assertEqual(set(pieces), {"GetSignFileContent"})
        marks = [r["responseData"][5] for r in replies[2:]]
        self.assertEqual(marks, ["0"] + ["1"] * (len(marks) - 2) + ["2"])

        text = outcome["assembled"][0]
        signatures = [n for n in os.listdir(folder) if n.endswith(".sig")]
        self.assertEqual(len(signatures), 1)
        self.assertTrue(signatures[0].startswith("Wang Wu."), signatures)
        with open(os.path.join(folder, signatures[0])) as f:
            self.assertEqual(text, f.read())
        out = os.path.join(self.dir, "flow")
        expected = signcheck.text_record(XML.encode("utf-8"), KEY_INFO.encode(),
                                         signcheck.file_part(path.replace("\\", "\\\\"), content))
        self.assertEqual(signcheck.verified_content(text, self.ca.cert, out), expected)
        self.assertEqual(signcheck.digest_name(out + ".p7"), "sm3")


if __name__ == "__main__":
    HOST, VKEY, PAD, DIALOG = (sys.argv.pop(1) for _ in range(4))
    unittest.main(verbosity=2)
