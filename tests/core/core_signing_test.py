"""GMUsbKeySign through the token core under Wine, against virtual keys laid out with `vkey`
and certified by an OpenSSL test CA; OpenSSL judges every PKCS#7 message. The PIN pad is the
recording double: it enters the PIN it is told to, or answers with a fixed status."""
import base64
import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools", "pylib"))
import nmhost  # noqa: E402
from signcheck import file_part, text_record  # noqa: E402
import vkeyctl  # noqa: E402

HOST = VKEY = PROBE = None
PIN = "123456"
XML = "<T><amount>100.00</amount><payee>\u5f20\u4e09</payee></T>"  # 张三
KEY_INFO = "ki-01"
NEW_KEY_CODEC = "utf-8"  # a new virtual key keeps its texts in UTF-8 (text encoding 1)


class CoreSigning(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="koba-signing-")
        self.dir = self.tmp.name
        self.store = vkeyctl.Store(VKEY, self.dir)
        self.ca = vkeyctl.TestCA(self.dir)
        self.count = 0

    def tearDown(self):
        self.tmp.cleanup()

    def vkey(self, *args):
        return self.store.run(*[str(a) for a in args]).strip()

    def key(self, serial, algorithm, subject, admin=False, kind=0):
        """A key with one certified signing key pair of `algorithm`."""
        self.vkey("create", serial, *(["--admin"] if admin else []))
        self.vkey("genkey", serial, "c1", algorithm, "--spec", 2, "--kind", kind)
        req = os.path.join(self.dir, "%s.der" % serial)
        self.vkey("request", serial, "c1", 2, "x", vkeyctl.winpath(req))
        subprocess.run(["openssl", "req", "-inform", "DER", "-in", req, "-out", req + ".pem"],
                       check=True, capture_output=True)
        pem = os.path.join(self.dir, "%s.pem" % serial)
        args = ["openssl", "x509", "-req", "-in", req + ".pem", "-CA", self.ca.cert, "-CAkey",
                self.ca.key, "-set_serial", "7", "-days", "30", "-subj", subject, "-out", pem]
        if algorithm == "sm2":
            args += ["-vfyopt", vkeyctl.SM2_ID]
        subprocess.run(args, check=True, capture_output=True)
        self.vkey("import-cert", serial, vkeyctl.winpath(pem), "--kind", kind)

    def sign(self, answers, dn="CN=Zhang San", digest="SHA256", xml=XML, key_info=KEY_INFO,
             path=""):
        """Runs the probe; returns [(code, PIN pad asked)] and the last PKCS#7 (DER) or None."""
        self.count += 1
        request = os.path.join(self.dir, "req%d.txt" % self.count)
        out = os.path.join(self.dir, "out%d.b64" % self.count)
        if isinstance(xml, str):
            xml = xml.encode()
        with open(request, "wb") as f:
            f.write("\n".join([",".join(answers), dn, digest, key_info, path, ""]).encode() + xml)
        p = self.store.program(PROBE, vkeyctl.winpath(request), vkeyctl.winpath(out))
        self.assertEqual(p.returncode, 0, p.stderr)
        results = [tuple(int(v) for v in line.split()) for line in p.stdout.splitlines()]
        if not os.path.exists(out):
            return results, None
        with open(out, "rb") as f:
            der = base64.b64decode(f.read(), validate=True)
        p7 = os.path.join(self.dir, "out%d.p7" % self.count)
        with open(p7, "wb") as f:
            f.write(der)
        return results, p7

    def verified_content(self, p7):
        """The signed content after OpenSSL verified signature and certificate chain."""
        content = p7 + ".content"
        v = subprocess.run(["openssl", "cms", "-verify", "-inform", "DER", "-in", p7, "-CAfile",
                            self.ca.cert, "-binary", "-out", content], capture_output=True)
        self.assertEqual(v.returncode, 0, v.stderr)
        with open(content, "rb") as f:
            return f.read()

    def digest_of(self, p7):
        printed = subprocess.run(["openssl", "cms", "-cmsout", "-print", "-inform", "DER", "-in",
                                  p7], capture_output=True, text=True, check=True).stdout
        names = {"sha1", "sha256", "sha384", "sha512", "sm3"}
        found = {line.split(":", 1)[1].split()[0] for line in printed.splitlines()
                 if "algorithm:" in line} & names
        self.assertEqual(len(found), 1, printed)
        return found.pop()

    def test_signatures_verify_with_openssl(self):
        cases = [("RSA1024", "rsa1024", ["", "SHA1", "sha256", "SHA384", "SHA512"]),
                 ("RSA2048", "rsa2048", ["SHA256", "Sha512"]),
                 ("SM2KEY", "sm2", ["", "SM3", "sm3"])]
        expected = text_record(XML.encode(NEW_KEY_CODEC), KEY_INFO.encode())
        for serial, algorithm, digests in cases:
            self.key(serial, algorithm, "/O=Bank/CN=Zhang San")
            for digest in digests:
                with self.subTest(key=algorithm, digest=digest):
                    results, p7 = self.sign(["pin:" + PIN], digest=digest)
                    self.assertEqual(results, [(0, 1)])
                    self.assertEqual(self.verified_content(p7), expected)
                    want = digest.lower() or ("sm3" if algorithm == "sm2" else "sha1")
                    self.assertEqual(self.digest_of(p7), want)
            self.assertEqual(self.vkey("display", serial), XML)
            self.vkey("remove", serial)

    def test_text_encoding_of_the_key(self):
        self.key("AB12", "rsa1024", "/CN=Zhang San")
        for encoding, codec in ((0, "gb18030"), (1, "utf-8")):
            with self.subTest(encoding=encoding):
                self.vkey("set", "AB12", "text-encoding", encoding)
                results, p7 = self.sign(["pin:" + PIN])
                self.assertEqual(results, [(0, 1)])
                self.assertEqual(self.verified_content(p7),
                                 text_record(XML.encode(codec), KEY_INFO.encode()))
        self.vkey("set", "AB12", "text-encoding", 2)
        self.assertEqual(self.sign(["pin:" + PIN])[0], [(-106, 0)])

    def test_refusals_before_the_pin(self):
        self.key("AB12", "rsa2048", "/O=Bank/CN=Zhang San")
        missing = vkeyctl.winpath(os.path.join(self.dir, "no-such-file.txt"))
        # Its Base64 would not fit the eight-digit length fields of the file part (sparse: the
        # size is refused before anything is read).
        huge = os.path.join(self.dir, "huge.bin")
        with open(huge, "wb") as f:
            f.truncate(75 * 1000 * 1000)
        cases = [({"digest": "MD5"}, -106), ({"digest": "SHA-256"}, -106),
                 ({"dn": ""}, -106), ({"dn": "CN=Li Si"}, -405), ({"path": missing}, -302),
                 ({"path": vkeyctl.winpath(huge)}, -106),
                 ({"xml": b"bad \xff text"}, -106)]
        for args, code in cases:
            with self.subTest(**{k: str(v)[:20] for k, v in args.items()}):
                self.assertEqual(self.sign(["pin:" + PIN], **args), ([(code, 0)], None))

    def test_file_part(self):
        self.key("AB12", "rsa2048", "/CN=Zhang San")
        for size in (0, 1, 5000):
            with self.subTest(size=size):
                data = os.urandom(size)
                name = os.path.join(self.dir, "doc-%d.bin" % size)
                with open(name, "wb") as f:
                    f.write(data)
                path = vkeyctl.winpath(name)
                results, p7 = self.sign(["pin:" + PIN], path=path)
                self.assertEqual(results, [(0, 1)])
                self.assertEqual(self.verified_content(p7),
                                 text_record(XML.encode(NEW_KEY_CODEC), KEY_INFO.encode(),
                                             file_part(path, data)))

    def test_binary_form_for_the_special_certificate_of_an_administrator_key(self):
        self.key("AD01", "sm2", "/CN=Admin", admin=True, kind=1)
        xml, key_info = "<a>1</a>", "k"
        results, p7 = self.sign(["pin:" + PIN], dn="CN=Admin", digest="", xml=xml,
                                key_info=key_info)
        self.assertEqual(results, [(0, 1)])
        body = b"\x21\0\0\0\0" + (8).to_bytes(4, "big") + b"<a>1</a>"
        body += b"\x23\0\0\0\0" + (0).to_bytes(4, "big")
        body += b"\x22\0\0\0\0" + (1).to_bytes(4, "big") + b"k"
        expected = b"\x11\0\0\0\0" + (len(body)).to_bytes(4, "big") + body
        self.assertEqual(self.verified_content(p7), expected)

    def test_pin_and_button_outcomes(self):
        self.key("AB12", "sm2", "/CN=Zhang San")
        self.assertEqual(self.sign(["status:FFFFFF9C"])[0], [(-100, 1)])
        self.assertEqual(self.sign(["status:E011000F"])[0], [(-105, 1)])
        self.assertEqual(self.sign(["pin:000000", "pin:" + PIN])[0], [(-300, 1), (0, 1)])
        self.vkey("press", "AB12", "refuse", "timeout", "confirm")
        results, p7 = self.sign(["pin:" + PIN] * 3, digest="SM3")
        self.assertEqual(results, [(-100, 1), (-105, 1), (0, 1)])
        self.verified_content(p7)

    def test_host_answers_refusals_with_their_codes(self):
        """The installed host program: codes that end the operation before any PIN entry."""
        self.key("AB12", "rsa1024", "/CN=Zhang San")
        missing = vkeyctl.winpath(os.path.join(self.dir, "missing.bin"))

        def request(tab, **members):
            r = {"type": "GMUsbKeySign", "tabID": tab, "certDN": "CN=Zhang San",
                 "hashType": "SHA256", "xmlInfo": XML, "keyInfo": KEY_INFO, "filePath": ""}
            r.update(members)
            return r
        requests = [request(1, hashType="MD5"), request(2, filePath=missing),
                    request(3, certDN="CN=Li Si"), request(4, certDN="")]
        with nmhost.Host(HOST, env=self.store.env) as host:
            replies = [host.request(r) for r in requests]
            host.close()
        self.assertEqual([(r["tabID"], r["IsOver"], r["action"], r["responseData"])
                          for r in replies],
                         [(1, 1, "GMUsbKeySign", -106), (2, 1, "GMUsbKeySign", -302),
                          (3, 1, "GMUsbKeySign", -405), (4, 1, "GMUsbKeySign", -106)])
        self.vkey("remove", "AB12")
        with nmhost.Host(HOST, env=self.store.env) as host:
            self.assertEqual(host.request(request(5))["responseData"], -102)
            host.close()

    def test_key_removed_before_signing(self):
        self.key("AB12", "rsa1024", "/CN=Zhang San")
        self.vkey("fault", "AB12", "VexloT_RsaSign_koba", "--status", "0x8010002E", "--remove")
        self.assertEqual(self.sign(["pin:" + PIN] * 2), ([(-300, 1), (-102, 0)], None))
        self.vkey("insert", "AB12")
        results, p7 = self.sign(["pin:" + PIN])
        self.assertEqual(results, [(0, 1)])
        self.verified_content(p7)


if __name__ == "__main__":
    HOST, VKEY, PROBE = sys.argv.pop(1), sys.argv.pop(1), sys.argv.pop(1)
    unittest.main()
