"""Enrolment as a bank page does it through Chromium and the test extension: GMCreatePKCS10
(the waiting window captured while the key generates, the PIN typed on the PIN pad's on-screen
keyboard), the request certified by the OpenSSL test CA, its PKCS#7 reply written back with
GMWritePKCS7, read back with GMGetPKCS7, and a GMUsbKeySign with the new certificate that
OpenSSL verifies."""
import base64
import json
import os
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools", "pylib"))
import chromium_driver  # noqa: E402
import pinpad_driver  # noqa: E402
import signcheck  # noqa: E402
import vkeyctl  # noqa: E402

HOST = VKEY = DRIVER = None
SERIAL = "CHRE0001"
PIN = "123456"
XML = "<T><amount>66.00 CNY</amount></T>"
SCREENSHOTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "build",
                           "screenshots")
BUSY = "pending:150"  # the key generates for 150 polls of 20 ms


class EnrolmentThroughChromium(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="koba-chromium-enrol-")
        self.dir = self.tmp.name
        self.store = vkeyctl.Store(VKEY, self.dir)
        self.ca = vkeyctl.TestCA(self.dir)

    def tearDown(self):
        self.tmp.cleanup()

    def presses(self):
        return json.loads(self.store.run("show", SERIAL))["keys"][0]["presses"]

    def user(self, pins, failures, waiting_png=None):
        """Captures the waiting window once the key is generating, then types each PIN."""
        try:
            if waiting_png:
                end = time.monotonic() + 60
                while self.presses()[:1] == [BUSY] and time.monotonic() < end:
                    time.sleep(0.05)
                pinpad_driver.screenshot(waiting_png)
            for _ in range(pins):
                with pinpad_driver.PadDriver(PIN, exe=DRIVER, timeout=90) as pad:
                    pad.wait()
        except Exception as e:  # reported by the test
            failures.append(e)

    def drive(self, requests, pins, waiting_png=None):
        failures = []
        typist = threading.Thread(target=self.user, args=(pins, failures, waiting_png),
                                  daemon=True)
        typist.start()
        outcome = chromium_driver.drive(HOST, requests, timeout=240, env=self.store.env)
        typist.join(120)
        self.assertFalse(typist.is_alive(), "a PIN entry hangs")
        self.assertEqual(failures, [])
        self.assertIsNone(outcome["disconnect"])
        return [signcheck.joined(r, q["type"]) for r, q in zip(outcome["results"], requests)]

    def test_enrol_and_sign_from_a_page(self):
        self.store.run("create", SERIAL)
        self.store.run("press", SERIAL, BUSY)
        os.makedirs(SCREENSHOTS, exist_ok=True)
        waiting_png = os.path.join(SCREENSHOTS, "chromium_enrolment_waiting.png")
        info = "DN(CN=Chen Qi,O=Bank)HASH(SHA256)KEYTYPE(RSA2048)CERTTYPE(01)"
        (text,) = self.drive([{"type": "GMCreatePKCS10", "tabID": 21, "info": info}], 1,
                             waiting_png)
        self.assertIsInstance(text, str, text)
        self.assertTrue(os.path.getsize(waiting_png) > 0)
        der = os.path.join(self.dir, "req.der")
        with open(der, "wb") as f:
            f.write(base64.b64decode(text, validate=True))
        v = subprocess.run(["openssl", "req", "-verify", "-inform", "DER", "-in", der, "-noout",
                            "-subject"], capture_output=True, text=True)
        self.assertEqual(v.returncode, 0, v.stderr)
        self.assertEqual(v.stdout.strip(), "subject=CN = Chen Qi")
        cert = self.ca.issue(der, os.path.join(self.dir, "cert.pem"))
        with open(self.ca.reply(cert, os.path.join(self.dir, "reply.p7")), "rb") as f:
            reply = base64.b64encode(f.read()).decode()
        cert_der = subprocess.run(["openssl", "x509", "-in", cert, "-outform", "DER"],
                                  capture_output=True, check=True).stdout

        written, listed, signed = self.drive([
            {"type": "GMWritePKCS7", "tabID": 22, "p7": reply},
            {"type": "GMGetPKCS7", "tabID": 23},
            {"type": "GMUsbKeySign", "tabID": 24, "certDN": "CN=Chen Qi", "hashType": "SHA256",
             "xmlInfo": XML, "keyInfo": "k-chromium", "filePath": ""},
        ], 1)
        self.assertEqual(written, 0)
        self.assertEqual(listed, base64.b64encode(cert_der).decode())
        self.assertIsInstance(signed, str, signed)
        content = signcheck.verified_content(signed, self.ca.cert, os.path.join(self.dir, "sig"))
        self.assertEqual(content, signcheck.text_record(XML.encode(), b"k-chromium"))


if __name__ == "__main__":
    HOST, VKEY, DRIVER = sys.argv.pop(1), sys.argv.pop(1), sys.argv.pop(1)
    unittest.main(verbosity=2)
