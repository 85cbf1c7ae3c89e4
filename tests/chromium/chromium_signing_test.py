"""Signing as a bank page does it through Chromium: the test extension asks the host for
GMUsbKeySign, the PIN is typed into the PIN pad's dialog on its on-screen keyboard, the extension
puts the chunks of the reply together and OpenSSL verifies the PKCS#7 message. One browser
session serves every case."""
import base64
import json
import os
import sys
import tempfile
import threading
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools", "pylib"))
import chromium_driver  # noqa: E402
import nmhost  # noqa: E402
import pinpad_driver  # noqa: E402
import signcheck  # noqa: E402
import vkeyctl  # noqa: E402

HOST = VKEY = DRIVER = None
SERIAL = "CHRM0001"
PIN = "123456"
XML = "<T><amount>1,000.00 CNY</amount><payee>\u738b\u4e94</payee></T>"  # 王五
KEY_INFO = "ki-chromium"
# Large enough that the Base64 PKCS#7, which carries the file's Base64 inside the signed record,
# is longer than one chunk (1024000 bytes): about 1.4 MB, two chunks.
FILE_SIZE = 760 * 1000
CHUNK = 1024000


class SigningThroughChromium(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="koba-chromium-sign-")
        self.dir = self.tmp.name
        self.store = vkeyctl.Store(VKEY, self.dir)
        self.ca = vkeyctl.TestCA(self.dir)

    def tearDown(self):
        self.tmp.cleanup()

    def key_pair(self, container, algorithm, cn):
        """A second key pair and certificate on the same key: the DN chooses between them."""
        self.store.run("genkey", SERIAL, container, algorithm, "--spec", "2", "--kind", "0")
        request = os.path.join(self.dir, container + ".der")
        self.store.run("request", SERIAL, container, "2", cn, vkeyctl.winpath(request))
        cert = self.ca.issue(request, os.path.join(self.dir, container + ".pem"))
        self.store.run("import-cert", SERIAL, vkeyctl.winpath(cert), "--kind", "0")

    def pkcs7_overhead(self):
        """What an RSA-2048 PKCS#7 message adds to a record of 64 KiB to 16 MiB: its DER length
        less the record's. One signature straight through the host tells it."""
        xml = "c" * 70000
        request = {"type": "GMUsbKeySign", "tabID": 1, "certDN": "CN=Rsa User",
                   "hashType": "SHA256", "xmlInfo": xml, "keyInfo": KEY_INFO, "filePath": ""}
        with nmhost.Host(HOST, env=self.store.env) as host, \
                pinpad_driver.PadDriver(PIN, exe=DRIVER) as pad:
            host.send(request)
            pad.wait()
            reply = json.loads(host.receive(60))
            host.close()
        der = len(base64.b64decode(reply["responseData"]))
        return der - len(signcheck.text_record(xml.encode(), KEY_INFO.encode()))

    def xml_for_reply_of(self, length, overhead):
        """A transaction text whose signature's Base64 is `length` characters (a multiple of 4)."""
        record = length * 3 // 4 - overhead
        return "d" * (record - len(signcheck.text_record(b"", KEY_INFO.encode())))

    def test_rsa_and_sm2_signatures_and_a_chunked_reply(self):
        self.store.run("create", SERIAL)
        self.key_pair("rsa", "rsa2048", "Rsa User")
        self.key_pair("sm2", "sm2", "Sm2 User")
        document = os.path.join(self.dir, "contract.bin")
        content = os.urandom(FILE_SIZE)
        with open(document, "wb") as f:
            f.write(content)
        path = vkeyctl.winpath(document)

        def sign(tab, dn, digest, file_path="", xml=XML):
            return {"type": "GMUsbKeySign", "tabID": tab, "certDN": dn, "hashType": digest,
                    "xmlInfo": xml, "keyInfo": KEY_INFO, "filePath": file_path}

        # Replies whose text is exactly one chunk, one chunk and four bytes (Base64 comes in
        # fours), and exactly two chunks, which the host ends with an empty last chunk.
        overhead = self.pkcs7_overhead()
        exact = []
        for tab, length, pieces in ((5, CHUNK, [CHUNK]), (6, CHUNK + 4, [CHUNK, 4]),
                                    (7, 2 * CHUNK, [CHUNK, CHUNK, 0])):
            xml = self.xml_for_reply_of(length, overhead)
            exact.append((sign(tab, "CN=Rsa User", "SHA256", xml=xml), "sha256",
                          signcheck.text_record(xml.encode(), KEY_INFO.encode()), pieces))
        record = signcheck.text_record(XML.encode("utf-8"), KEY_INFO.encode())
        with_file = signcheck.text_record(XML.encode("utf-8"), KEY_INFO.encode(),
                                          signcheck.file_part(path, content))
        # OpenSSL judges SM2 only with SM3 and RSA not with SM3: the keys' own pairings.
        cases = [  # request, digest OpenSSL names, signed content, chunks (or their lengths)
            (sign(1, "CN=Rsa User", "SHA256"), "sha256", record, 1),
            (sign(2, "CN=Sm2 User", "SM3"), "sm3", record, 1),
            (sign(3, "CN=Rsa User", "SHA256", path), "sha256", with_file, 2),
            (sign(4, "CN=Sm2 User", "sm3", path), "sm3", with_file, 2),
        ] + exact

        # The user: one PIN entry per request, in the order the page sends them.
        entries, failures, current = [], [], []

        def user():
            try:
                for _ in cases:
                    with pinpad_driver.PadDriver(PIN, exe=DRIVER, timeout=90) as pad:
                        current[:] = [pad]
                        entries.append(pad.wait())
            except Exception as e:  # reported by the test below
                failures.append(e)
        typist = threading.Thread(target=user, daemon=True)
        typist.start()
        outcome = chromium_driver.drive(HOST, [c[0] for c in cases], timeout=240,
                                        env=self.store.env)
        typist.join(120)
        if typist.is_alive():
            self.fail("PIN entry %d hangs; its driver said %r; reply lengths %r" % (
                len(entries) + 1, current[0].lines(), [[len(str(r["responseData"])) for r in x]
                                                       for x in outcome["results"]]))
        self.assertEqual(failures, [])
        self.assertEqual(len(entries), len(cases))
        self.assertIsNone(outcome["disconnect"], [[len(str(r["responseData"])) for r in x]
                                                  for x in outcome["results"]])

        for i, (request, digest, signed, chunks) in enumerate(cases):
            with self.subTest(tab=request["tabID"], digest=request["hashType"]):
                replies = outcome["results"][i]
                if isinstance(chunks, list):
                    self.assertEqual([len(r["responseData"]) for r in replies], chunks)
                self.assertEqual(len(replies), len(chunks) if isinstance(chunks, list) else chunks)
                self.assertEqual({r["tabID"] for r in replies}, {request["tabID"]})
                text = signcheck.joined(replies)
                self.assertEqual(outcome["assembled"][i], text)
                out = os.path.join(self.dir, "tab%d" % request["tabID"])
                self.assertEqual(signcheck.verified_content(text, self.ca.cert, out), signed)
                self.assertEqual(signcheck.digest_name(out + ".p7"), digest)


if __name__ == "__main__":
    HOST, VKEY, DRIVER = sys.argv.pop(1), sys.argv.pop(1), sys.argv.pop(1)
    unittest.main(verbosity=2)
