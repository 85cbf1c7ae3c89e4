"""The virtual key under Wine, end to end: keys laid out with `vkey`, enrolment, certificate
installation and signing driven through the stand-ins' entry points by vkey_probe, and OpenSSL
as the judge of every request and signed-data message."""
import os
import re
import subprocess
import sys
import tempfile
import threading
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools", "pylib"))
import vkeyctl  # noqa: E402

VKEY = PROBE = None
PIN = "123456"
SM3, SHA1, SHA256 = 0x400000, 0x20000, 0x40000
RECORD = b"110000000043210000000004<a/>220000000003abc230000000000"


def openssl(*args, data=None):
    return subprocess.run(["openssl", *args], input=data, capture_output=True)


class VirtualKey(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="vkey-test-")
        cls.dir = cls.tmp.name
        cls.store = vkeyctl.Store(VKEY, cls.dir)
        cls.ca = vkeyctl.TestCA(cls.dir)
        with open(cls.path("record.txt"), "wb") as f:
            f.write(RECORD)
        # One enrolled user key shared by the signing cases.
        cls.user_slot = cls.create("USER0001")
        cls.user_id = cls.enrol(cls.user_slot, "p10user", ["Carol", "2048"], "{USER-0001-aaaa}")

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    @classmethod
    def path(cls, name):
        return os.path.join(cls.dir, name)

    @classmethod
    def create(cls, serial, admin=False):
        return int(cls.store.run("create", serial, *(["--admin"] if admin else [])))

    @classmethod
    def probe(cls, *args):
        return cls.store.program(PROBE, *[str(a) for a in args])

    @classmethod
    def enrol(cls, slot, kind, args, label, start=None, end=None):
        """Makes a key pair and request through the library, has the CA certify it and
        installs the reply; returns the key id."""
        req = cls.path("%s-%d.der" % (label.strip("{}"), slot))
        p = cls.probe(kind, slot, PIN, *args, label, vkeyctl.winpath(req))
        assert p.returncode == 0, p.stderr
        verify = ["req", "-inform", "DER", "-in", req, "-verify", "-noout"]
        if b"SM2" in openssl("req", "-inform", "DER", "-in", req, "-noout", "-text").stdout:
            verify += ["-vfyopt", vkeyctl.SM2_ID]
        v = openssl(*verify)
        assert v.returncode == 0 and b"verify OK" in v.stdout + v.stderr, v.stderr
        cert = cls.ca.issue(req, req + ".crt", start=start, end=end)
        reply = cls.ca.reply(cert, req + ".p7")
        p = cls.probe("install", slot, vkeyctl.winpath(reply))
        assert p.returncode == 0 and p.stdout.strip() == label, (p.stdout, p.stderr)
        return cls.key_id(slot, label)

    @classmethod
    def containers(cls, slot):
        out = cls.probe("list", slot).stdout
        return [dict(re.findall(r"(\w+)=(\S+)", line), name=line.split()[0])
                for line in out.splitlines() if line.strip()]

    @classmethod
    def key_id(cls, slot, label):
        for c in cls.containers(slot):
            if c["name"] == label:
                return int(c["id"], 16)
        raise AssertionError("no container " + label)

    def sign(self, slot, key_id, alg, pin=PIN):
        out = self.path("signed-%d-%d.p7" % (slot, alg))
        p = self.probe("sign", slot, pin, key_id, alg, vkeyctl.winpath(self.path("record.txt")),
                       vkeyctl.winpath(out))
        return p, out

    def assert_signed_data(self, p7, tool="cms"):
        content = self.path("content.bin")
        v = openssl(tool, "-verify", "-inform", "DER", "-in", p7, "-CAfile", self.ca.cert,
                    "-binary", "-out", content)
        self.assertEqual(v.returncode, 0, v.stderr)
        with open(content, "rb") as f:
            self.assertEqual(f.read(), RECORD)

    def test_user_key_signatures_verify(self):
        for alg in (3, 4, 5, 6):  # SHA-1, SHA-256, SHA-384, SHA-512
            with self.subTest(alg=alg):
                p, out = self.sign(self.user_slot, self.user_id, alg)
                self.assertEqual(p.returncode, 0, p.stderr)
                self.assert_signed_data(out)
        self.assertEqual(self.store.run("display", "USER0001").strip(), "<a/>")

    def test_admin_key_requests_and_signatures(self):
        cases = [("ADMSM2", 256, SM3, 8), ("ADMR1024", 1024, SHA256, 4),
                 ("ADMR2048", 2048, SHA1, 3)]
        for serial, bits, digest, alg in cases:
            with self.subTest(serial):
                slot = self.create(serial, admin=True)
                key_id = self.enrol(slot, "p10admin", ["Dave", bits, digest], "{%s}" % serial)
                p, out = self.sign(slot, key_id, alg)
                self.assertEqual(p.returncode, 0, p.stderr)
                self.assert_signed_data(out, "cms")
                self.assert_signed_data(out, "smime")
                self.store.run("remove", serial)

    def test_layout_of_an_administrator_key(self):
        s = self.store
        s.run("create", "LAYOUT01", "--admin")
        s.run("set", "LAYOUT01", "admin-info", "AD12345678901234567")
        expired = self.path("old.crt")
        for container, alg, kind, validity in [
                ("c-old", "rsa2048", "1", ("20200101000000Z", "20200201000000Z")),
                ("c-new", "rsa2048", "1", (None, None)),
                ("c-sm2", "sm2", "3", (None, None))]:
            s.run("genkey", "LAYOUT01", container, alg, "--spec", "2", "--kind", kind)
            req = self.path(container + ".der")
            s.run("request", "LAYOUT01", container, "2", "Erin", vkeyctl.winpath(req))
            cert = self.ca.issue(req, expired if container == "c-old" else req + ".crt",
                                 start=validity[0], end=validity[1])
            self.assertEqual(s.run("import-cert", "LAYOUT01", vkeyctl.winpath(cert)).strip(),
                             container)
        slot = [int(line.split()[0]) for line in s.run("list").splitlines()
                if line.split()[1] == "LAYOUT01"][0]
        got = {c["name"]: (c["kind"], c["alg"], c["cert"] != "0") for c in self.containers(slot)}
        self.assertEqual(got, {"c-old": ("1", "1", True), "c-new": ("1", "1", True),
                               "c-sm2": ("3", "2", True)})
        end = openssl("x509", "-in", expired, "-noout", "-checkend", "0")
        self.assertNotEqual(end.returncode, 0, "the old certificate is expired")
        self.assertIn('"pin":""', s.run("show", "LAYOUT01"), "show leaves the PIN out")
        s.run("remove", "LAYOUT01")

    def test_certificate_facts(self):
        req = self.path("facts.der")
        self.store.run("create", "FACTS001")
        for container, alg in (("r", "rsa1024"), ("s", "sm2")):
            with self.subTest(alg):
                self.store.run("genkey", "FACTS001", container, alg)
                self.store.run("request", "FACTS001", container, "2", "Frank",
                               vkeyctl.winpath(req))
                pem = self.ca.issue(req, req + ".crt")
                der = req + ".cer"
                openssl("x509", "-in", pem, "-outform", "DER", "-out", der)
                p = self.probe("certinfo", 0, vkeyctl.winpath(der))
                self.assertEqual(p.returncode, 0, p.stderr)
                dn, key = p.stdout.split()
                self.assertEqual(dn, "CN=Frank")
                text = openssl("x509", "-in", pem, "-noout", "-pubkey").stdout
                raw = openssl("pkey", "-pubin", "-outform", "DER", data=text).stdout
                # The raw key closes the SubjectPublicKeyInfo: modulus then 02 03 01 00 01
                # (RSA), or the point after 04 (SM2).
                tail = raw[-len(bytes.fromhex(key)) - (5 if alg == "rsa1024" else 0):]
                self.assertEqual(tail[:len(bytes.fromhex(key))].hex().upper(), key)
        self.store.run("remove", "FACTS001")

    def test_button_presses(self):
        cases = [
            (["refuse"], "VexloT_Login failed: 0xFFFFFF9C"),
            (["confirm", "refuse"], "VexloT_RsaSign_koba failed: 0xFFFFFF9C"),
            (["confirm", "timeout"], "VexloT_RsaSign_koba failed: 0xE011000F"),
            (["confirm", "pending:3", "confirm"], None),
        ]
        for presses, failure in cases:
            with self.subTest(presses=presses):
                self.store.run("press", "USER0001", *presses)
                p, out = self.sign(self.user_slot, self.user_id, 4)
                if failure:
                    self.assertIn(failure, p.stderr)
                else:
                    self.assertEqual(p.returncode, 0, p.stderr)
                    self.assert_signed_data(out)
                self.store.run("clear-script", "USER0001")

    def test_faults_pin_and_removal(self):
        s = self.store
        s.run("fault", "USER0001", "VexloT_RsaSign_koba", "--status", "0xE011FFFE")
        p, _ = self.sign(self.user_slot, self.user_id, 4)
        self.assertIn("VexloT_RsaSign_koba failed: 0xE011FFFE", p.stderr)
        p, out = self.sign(self.user_slot, self.user_id, 4)
        self.assertEqual(p.returncode, 0, "a fault fires once: " + p.stderr)

        p, _ = self.sign(self.user_slot, self.user_id, 4, pin="000000")
        self.assertIn("VexloT_Login failed: 0xE0110015", p.stderr)  # 5 tries left of 6

        s.run("fault", "USER0001", "VexloT_Login", "--remove")
        p, _ = self.sign(self.user_slot, self.user_id, 4)
        self.assertIn("VexloT_Login failed: 0x8010002E", p.stderr)
        self.assertIn("USER0001 removed", s.run("list"))
        s.run("insert", "USER0001")

        # Pulled out while the key waits for the button.
        s.run("press", "USER0001", "confirm", "pending:200")
        box = {}
        signer = threading.Thread(target=lambda: box.update(p=self.sign(
            self.user_slot, self.user_id, 4)[0]))
        signer.start()
        for _ in range(200):
            if "pending:2" in s.run("show", "USER0001") and "pending:200" not in s.run(
                    "show", "USER0001"):
                break
        s.run("remove", "USER0001")
        signer.join(60)
        self.assertIn("VexloT_RsaSign_koba failed: 0x8010002E", box["p"].stderr)
        s.run("insert", "USER0001")
        s.run("clear-script", "USER0001")
        p, out = self.sign(self.user_slot, self.user_id, 4)
        self.assertEqual(p.returncode, 0, p.stderr)

    def test_install_into_the_prefix(self):
        build = os.path.dirname(VKEY)
        p = subprocess.run([os.path.join(vkeyctl.ROOT, "tools", "install-vkey.sh"),
                            os.path.dirname(build)], capture_output=True, text=True, timeout=120)
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assertEqual(p.stdout.strip(), "trusted")
        system32 = os.path.join(os.environ["WINEPREFIX"], "drive_c", "windows", "system32")
        for name in ("Q2Token_koba.dll", "Q2CSP_KOBA.dll", "Q2DevEx01_koba.dll"):
            with self.subTest(name):
                installed = os.path.join(system32, name)
                with open(installed, "rb") as a, open(os.path.join(build, name), "rb") as b:
                    self.assertEqual(a.read(), b.read())
                v = subprocess.run(["osslsigncode", "verify", "-CAfile",
                                    os.path.join(build, "codesign", "root.pem"), "-in",
                                    installed], capture_output=True, text=True)
                self.assertEqual(v.returncode, 0, v.stdout + v.stderr)

    def test_processes_share_the_store(self):
        self.create("CONC0001")
        results = [None] * 6

        def genkey(i):
            results[i] = self.store.program(VKEY, "genkey", "CONC0001", "c%d" % i, "rsa1024")

        workers = [threading.Thread(target=genkey, args=(i,)) for i in range(6)]
        for w in workers:
            w.start()
        for w in workers:
            w.join(180)
        ids = []
        for p in results:
            self.assertEqual(p.returncode, 0, p.stderr)
            ids.append(p.stdout.strip())
        self.assertEqual(len(set(ids)), 6, "each process got its own key id")
        line = [x for x in self.store.run("list").splitlines() if " CONC0001 " in x][0]
        self.assertEqual(line.split()[-1], "6", "no update was lost")


if __name__ == "__main__":
    VKEY, PROBE = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
