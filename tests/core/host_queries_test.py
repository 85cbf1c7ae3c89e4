"""Key discovery and the certificate and public-key queries through the host program under
Wine, against virtual keys laid out with `vkey` and certified by an OpenSSL test CA."""
import base64
import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools", "pylib"))
import nmhost  # noqa: E402
import vkeyctl  # noqa: E402

HOST = VKEY = PROBE = None
SER_RAND = base64.b64encode(bytes(range(1, 16))).decode()


class HostQueries(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="koba-queries-")
        self.dir = self.tmp.name
        self.store = vkeyctl.Store(VKEY, self.dir)
        self.ca = vkeyctl.TestCA(self.dir)

    def tearDown(self):
        self.tmp.cleanup()

    def vkey(self, *args):
        return self.store.run(*[str(a) for a in args]).strip()

    def certify(self, serial, container, spec, subject, kind=0):
        """A certificate with `subject` for the key pair in `container`, stored on the key."""
        req = os.path.join(self.dir, "%s-%s.der" % (serial, container))
        self.vkey("request", serial, container, spec, "x", vkeyctl.winpath(req))
        pem = req + ".pem"
        subprocess.run(["openssl", "req", "-inform", "DER", "-in", req, "-out", pem], check=True)
        cert = req + ".crt"
        args = ["openssl", "x509", "-req", "-in", pem, "-CA", self.ca.cert, "-CAkey",
                self.ca.key, "-set_serial", str(abs(hash(req)) % 100000), "-days", "30",
                "-subj", subject, "-out", cert]
        if b"SM2" in subprocess.run(["openssl", "req", "-in", pem, "-noout", "-text"],
                                    capture_output=True).stdout:
            args += ["-vfyopt", vkeyctl.SM2_ID]
        subprocess.run(args, check=True, capture_output=True)
        self.vkey("import-cert", serial, vkeyctl.winpath(cert), "--kind", kind)
        return cert

    def ask(self, *requests):
        with nmhost.Host(HOST, env=self.store.env) as host:
            replies = [host.request(r) for r in requests]
            host.close()
        return [r["responseData"] for r in replies]

    def test_no_key_and_several_keys(self):
        self.assertEqual(self.ask({"type": "GetMediaID"}, {"type": "GMGetCertDN"},
                                  {"type": "ClearSSLState"}), [-102, -102, 0])
        self.vkey("create", "AB12")
        self.vkey("create", "CD34")
        self.assertEqual(self.ask({"type": "GetMediaID"}, {"type": "GMGetPublicKey",
                                                           "keyType": "AllPubKey"}),
                         [-104, -104])

    def test_user_key(self):
        self.vkey("create", "AB12")
        signing = self.vkey("genkey", "AB12", "c1", "rsa2048", "--spec", 2, "--kind", 1)
        cert = self.certify("AB12", "c1", 2, "/C=CN/O=Koba Bank/OU=Retail/CN=Zhang San", kind=1)
        exchange = self.vkey("genkey", "AB12", "c2", "sm2", "--spec", 1)
        self.vkey("set", "AB12", "user-key-list", "abc||defg")

        media, dns, all_keys, with_cert, without_cert, lower, bad, missing, keyc, admin = self.ask(
            {"type": "GetMediaID", "tabID": 1}, {"type": "GMGetCertDN"},
            {"type": "GMGetPublicKey", "keyType": "AllPubKey"},
            {"type": "GMGetPublicKey", "keyType": "CertPubKey"},
            {"type": "GMGetPublicKey", "keyType": "NoCertPubKey"},
            {"type": "GMGetPublicKey", "keyType": "allpubkey"},
            {"type": "GMGetPublicKey", "keyType": "SomePubKey"},
            {"type": "GMGetPublicKey"},
            {"type": "GetPublicKeyC"}, {"type": "GMGetAdminKeyInfo"})
        self.assertEqual(media, "AB12")
        self.assertEqual(dns, "C=CN,O=Koba Bank,OU=Retail,CN=Zhang San")
        self.assertEqual((bad, missing, admin), (-106, -106, -411))
        self.assertEqual(keyc, "abc||defg")
        self.assertEqual(all_keys, lower)
        self.assertEqual(sorted(all_keys.split("||")), sorted([with_cert, without_cert]))

        # The RSA entry: the key id's two digits, then the DER RSAPublicKey of the certified key.
        self.assertEqual(with_cert[:2], signing)
        der = os.path.join(self.dir, "rsa.der")
        with open(der, "wb") as f:
            f.write(base64.b64decode(with_cert[2:]))
        ours = subprocess.run(["openssl", "rsa", "-RSAPublicKey_in", "-inform", "DER", "-in", der,
                               "-noout", "-modulus"], capture_output=True, text=True)
        theirs = subprocess.run(["openssl", "x509", "-in", cert, "-noout", "-modulus"],
                                capture_output=True, text=True)
        self.assertEqual(ours.stdout, theirs.stdout)
        # The SM2 entry: an uncompressed point.
        self.assertEqual(without_cert[:2], exchange)
        point = base64.b64decode(without_cert[2:])
        self.assertEqual((len(point), point[0]), (65, 4))

    def test_key_list_is_cut_to_4096_bytes_at_an_entry(self):
        self.vkey("create", "AB12")
        entries = [c * 1500 for c in "abc"]
        self.vkey("set", "AB12", "user-key-list", "||".join(entries))
        self.assertEqual(self.ask({"type": "GetPublicKeyC"}), ["||".join(entries[:2])])

    def test_certificate_dns_are_listed_without_spaces(self):
        self.vkey("create", "AB12")
        self.vkey("genkey", "AB12", "c1", "rsa1024", "--spec", 2)
        self.certify("AB12", "c1", 2, "/CN=a/O=b")
        self.vkey("genkey", "AB12", "c2", "sm2", "--spec", 1)
        self.certify("AB12", "c2", 1, "/CN=c/O=d")
        self.assertEqual(sorted(self.ask({"type": "GMGetCertDN"})[0].split("||")),
                         ["CN=a,O=b", "CN=c,O=d"])

    def test_administrator_key(self):
        self.vkey("create", "AD01", "--admin")
        first = self.vkey("genkey", "AD01", "k1", "rsa1024", "--spec", 2)
        second = self.vkey("genkey", "AD01", "k2", "sm2", "--spec", 2)
        entries = [b"\x30\x03\x02\x01\x05", b"\x01\x02\x03"]
        self.vkey("set", "AD01", "admin-key-list", ",".join(e.hex() for e in entries))
        info, keyc, media = self.ask({"type": "GMGetAdminKeyInfo"}, {"type": "GetPublicKeyC"},
                                     {"type": "GetMediaID"})
        self.assertEqual(info, "AD000000000000000000")
        self.assertEqual(keyc, "||".join(base64.b64encode(e).decode() for e in entries))
        self.assertEqual(media, "AD01")

        # "00" at the third and fourth characters: the key refuses the public-key request.
        def keyc_request(key_type, dn_or_id, ser_rand=SER_RAND):
            return {"type": "GMGetPublicKeyC", "KeyType": key_type, "dnOrID": dn_or_id,
                    "Base64SerRand": ser_rand}
        self.assertEqual(self.ask(keyc_request("01", first)), [-411])

        self.vkey("set", "AD01", "admin-info", "AD120000000000000000")
        cases = [
            (keyc_request("03", first), -106),
            (keyc_request("01", first, base64.b64encode(bytes(16)).decode()), -106),
            (keyc_request("01", first + "1||" + second), -106),
            (keyc_request("01", ""), -106),
            ({"type": "GMGetPublicKeyC", "KeyType": "01", "dnOrID": first}, -106),
            ({"type": "GetPublicKeyC"}, -411),
        ]
        for request, code in cases:
            with self.subTest(request=request):
                self.assertEqual(self.ask(request), [code])

        answer = self.ask(keyc_request("01", first + "||" + second))[0]
        self.assertIsInstance(answer, str, answer)
        block = base64.b64decode(answer)
        self.assertEqual(block[:15], bytes(range(1, 16)))
        # The key's answer lists both key pairs by id after the echoed random bytes.
        self.assertEqual(block[15], int(first, 16))

    def control(self, command):
        p = self.store.program(PROBE, command)
        self.assertEqual(p.returncode, 0, p.stderr)
        return p.stdout.strip()

    def test_token_control_queries(self):
        self.vkey("create", "AB12")
        self.vkey("genkey", "AB12", "c1", "rsa2048", "--spec", 2)
        self.certify("AB12", "c1", 2, "/O=Bank/CN=Signer")
        self.vkey("genkey", "AB12", "c2", "sm2", "--spec", 2)
        self.certify("AB12", "c2", 2, "/O=Bank/CN=SM2 Signer")
        self.vkey("genkey", "AB12", "c3", "rsa1024", "--spec", 1)

        code, keys = self.control("getpublickey").split(" ", 1)
        self.assertEqual(code, "0")
        self.assertEqual(len(keys.split("||")), 3)
        self.assertEqual(self.control("getpublickeynum"), "0 3")
        # Every key with its certificate and without: the list GMGetPublicKey gives, less the
        # key type digits.
        listed = self.ask({"type": "GMGetPublicKey", "keyType": "AllPubKey"})[0]
        self.assertEqual(sorted(keys.split("||")), sorted(e[2:] for e in listed.split("||")))

        self.control("unregistercert")
        self.assertEqual(self.control("registercert"), "0")
        mine = [line.split("|") for line in self.control("listmy").splitlines()
                if line.startswith("Korvanet Vexlo CSP KOBA v1.0|")]
        # RSA certificates only; linked to the container's device path and key spec.
        self.assertEqual(len(mine), 1, mine)
        self.assertTrue(mine[0][1].startswith("\\\\.\\Korvanet ") and mine[0][1].endswith("\\c1"),
                        mine[0])
        self.assertEqual((mine[0][2], mine[0][3]), ("2", "O=Bank, CN=Signer"))

        self.assertEqual(self.control("unregistercert"), "0")
        self.assertFalse([line for line in self.control("listmy").splitlines()
                          if line.startswith("Korvanet Vexlo CSP KOBA v1.0|")])

    def test_clear_ssl_state_logs_keys_out(self):
        self.vkey("create", "AB12")
        self.assertEqual(self.ask({"type": "ClearSSLState", "tabID": 9}), [0])


if __name__ == "__main__":
    HOST, VKEY, PROBE = sys.argv.pop(1), sys.argv.pop(1), sys.argv.pop(1)
    unittest.main(verbosity=2)
