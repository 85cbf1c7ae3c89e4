"""Enrolment through the host with the installed PIN pad, the bank being an OpenSSL test CA:
GMCreatePKCS10 on the key, `openssl req -verify` and `openssl ca` on the request, the CA's
certificates-only PKCS#7 back through GMWritePKCS7, read back with GMGetPKCS7 and `vkey show`,
registered in the user's store, older key pairs of the same DN gone, then GMUsbKeySign with
the new certificate judged by `openssl cms -verify`. The PIN is typed on the PIN pad's
on-screen keyboard from outside. Bad input of every kind leaves key and store as they were."""
import base64
import json
import os
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

HOST = VKEY = PROBE = DRIVER = TRAY = None
PIN = "123456"
PROVIDER = "Korvanet Vexlo CSP KOBA v1.0"
XML = "<T><amount>5.00</amount></T>"


def openssl(*args, data=None):
    p = subprocess.run(["openssl", *args], input=data, capture_output=True)
    if p.returncode != 0:
        raise AssertionError("openssl %s: %s" % (" ".join(args), p.stderr.decode()))
    return p.stdout


class Enrollment(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="koba-enrol-")
        self.dir = self.tmp.name
        self.store = vkeyctl.Store(VKEY, self.dir)
        self.ca = vkeyctl.TestCA(self.dir)
        self.count = 0

    def tearDown(self):
        self.tmp.cleanup()

    def vkey(self, *args):
        return self.store.run(*[str(a) for a in args]).strip()

    def show(self, serial):
        return json.loads(self.vkey("show", serial))["keys"][0]

    def path(self, name):
        self.count += 1
        return os.path.join(self.dir, "%d-%s" % (self.count, name))

    def certify_container(self, serial, container, cn, kind):
        """Stores a CA certificate for CN=cn with the key pair in `container`."""
        req = self.path("old.der")
        self.vkey("request", serial, container, 2, cn, vkeyctl.winpath(req))
        pem = self.ca.issue(req, self.path("old.pem"))
        self.vkey("import-cert", serial, vkeyctl.winpath(pem), "--kind", kind)

    def ask(self, host, request, pins=0):
        """Sends a request, types the PIN into each PIN dialog it opens; returns responseData."""
        host.send(request)
        for _ in range(pins):
            with pinpad_driver.PadDriver(PIN, exe=DRIVER) as pad:
                try:
                    pad.wait()
                except pinpad_driver.DriverError as e:
                    raise AssertionError("%s; the host answered %s" % (e, host.receive(5)))
        replies = [json.loads(host.receive(120))]
        while replies[-1]["IsOver"] == 0:
            replies.append(json.loads(host.receive(120)))
        return signcheck.joined(replies, request["type"])

    def registered(self, container):
        """The user's MY store entries of the key's provider for `container`."""
        p = self.store.program(PROBE, "listmy")
        self.assertEqual(p.returncode, 0, p.stderr)
        entries = [line.split("|") for line in p.stdout.splitlines()]
        return [e[1:] for e in entries if e[0] == PROVIDER and e[1].endswith("\\" + container)]

    def test_enrol_then_sign(self):
        cases = [
            # name, admin key, algorithm, request text, PEM reply with CR LF
            ("RSA-2048 on a user key", False, "rsa2048",
             "DN(CN=Zhang San,O=Bank)HASH(SHA256)KEYTYPE(RSA2048)CERTTYPE(01)", False),
            ("SM2 on an administrator key", True, "sm2",
             "DN(CN=Li Si)HASH(SM3)KEYTYPE(SM2256)CERTTYPE(01)", True),
        ]
        for n, (name, admin, algorithm, info, pem_reply) in enumerate(cases):
            with self.subTest(name):
                serial = "ENRL%04d" % n
                # Each case on a key store of its own: one key present at a time.
                self.store = vkeyctl.Store(VKEY, os.path.join(self.dir, serial))
                cn = info[info.index("CN=") + 3:info.index(",") if "," in info else
                          info.index(")HASH")]
                self.vkey("create", serial, *(["--admin"] if admin else []))
                # An older certified key pair with the same DN, and a temporary one (no
                # certificate) of the same type: enrolment replaces the first, clears the second.
                self.vkey("genkey", serial, "old", algorithm, "--spec", 2, "--kind", 1)
                self.certify_container(serial, "old", cn, 1)
                self.vkey("genkey", serial, "temp", algorithm, "--spec", 2, "--kind", 1)
                self.vkey("genkey", serial, "other", "rsa1024", "--spec", 1, "--kind", 2)

                with nmhost.Host(HOST, env=self.store.env) as host:
                    text = self.ask(host, {"type": "GMCreatePKCS10", "tabID": 4, "info": info},
                                    pins=1)
                    self.assertIsInstance(text, str, text)
                    self.assertNotIn("\n", text)
                    der = self.path("req.der")
                    with open(der, "wb") as f:
                        f.write(base64.b64decode(text, validate=True))
                    verify = ["req", "-verify", "-inform", "DER", "-in", der, "-noout",
                              "-subject"]
                    if algorithm == "sm2":
                        verify += ["-vfyopt", vkeyctl.SM2_ID]
                    subject = openssl(*verify).decode()
                    self.assertEqual(subject.strip(), "subject=CN = " + cn)

                    key = self.show(serial)
                    names = {c["name"] for c in key["containers"]}
                    self.assertNotIn("temp", names)
                    self.assertIn("old", names)
                    self.assertIn("other", names)
                    (label,) = names - {"old", "other"}
                    (new_id,) = [k["pair_id"] for c in key["containers"] if c["name"] == label
                                 for k in c["keys"]]
                    (new_pair,) = [p for p in key["pairs"] if p["id"] == new_id]
                    self.assertRegex(label, r"^\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9a-f]{4}\}$")
                    spki = openssl("req", "-inform", "DER", "-in", der, "-noout", "-pubkey")
                    spki = openssl("pkey", "-pubin", "-outform", "DER", data=spki)
                    self.assertIn(bytes.fromhex(new_pair["public_key"]), spki)

                    cert = self.ca.issue(der, self.path("new.pem"))
                    p7 = self.ca.reply(cert, self.path("reply.p7"))
                    with open(p7, "rb") as f:
                        reply = base64.b64encode(f.read()).decode()
                    if pem_reply:
                        lines = [reply[i:i + 64] for i in range(0, len(reply), 64)]
                        reply = "\r\n".join(["-----BEGIN CERTIFICATE-----"] + lines +
                                            ["-----END CERTIFICATE-----", ""])
                    self.assertEqual(self.ask(host, {"type": "GMWritePKCS7", "p7": reply}), 0)

                    new_der = openssl("x509", "-in", cert, "-outform", "DER")
                    listed = self.ask(host, {"type": "GMGetPKCS7"})
                    self.assertIn(base64.b64encode(new_der).decode(), listed.split("||"))
                    key = self.show(serial)
                    holder = {c["name"]: c for c in key["containers"]}
                    self.assertNotIn("old", holder)  # same DN, same issuer: replaced
                    self.assertIn("other", holder)
                    self.assertEqual(bytes.fromhex(holder[label]["keys"][0]["certificate"]),
                                     new_der)
                    self.assertEqual(len(listed.split("||")), 1)

                    mine = self.registered(label)
                    if algorithm == "sm2":
                        self.assertEqual(mine, [])  # SM2 certificates stay out of the store
                    else:
                        # Linked to the container under the key's 16-character identifier.
                        self.assertEqual([m[1:] for m in mine], [["2", "CN=" + cn]])
                        self.assertRegex(mine[0][0], r"^\\\\\.\\Korvanet [0-9A-F]{16}\\\{")

                    signed = self.ask(host, {"type": "GMUsbKeySign", "certDN": "CN=" + cn,
                                             "hashType": "", "xmlInfo": XML, "keyInfo": "k1",
                                             "filePath": ""}, pins=1)
                    self.assertIsInstance(signed, str, signed)
                    content = signcheck.verified_content(signed, self.ca.cert,
                                                         self.path("signed"))
                    # A user key signs the text record; an administrator key its binary form.
                    if not admin:
                        self.assertEqual(content, signcheck.text_record(XML.encode(), b"k1"))
                    self.assertIn(XML.encode(), content)
                    host.close()

    def snapshot(self, serial):
        """What enrolment may change: the key's pairs, containers and objects, and the store."""
        key = self.show(serial)
        return ({k: key[k] for k in ("pairs", "containers", "objects")},
                self.store.program(PROBE, "listmy").stdout)

    def user_key_with_certificate(self, serial, cn):
        self.vkey("create", serial)
        self.vkey("genkey", serial, "c1", "rsa2048", "--spec", 2, "--kind", 1)
        self.certify_container(serial, "c1", cn, 1)
        self.vkey("genkey", serial, "bare", "rsa2048", "--spec", 2, "--kind", 1)

    def reply_of(self, *certs):
        args = ["crl2pkcs7", "-nocrl", "-outform", "DER"]
        for c in certs:
            args += ["-certfile", c]
        return base64.b64encode(openssl(*args)).decode()

    def test_bad_input_changes_nothing(self):
        self.user_key_with_certificate("BAD00001", "Wang Wu")
        key = self.show("BAD00001")
        (existing,) = [k["certificate"] for c in key["containers"] for k in c["keys"]
                       if k["certificate"]]
        existing_pem = self.path("existing.pem")
        with open(existing_pem, "w") as f:
            f.write(openssl("x509", "-inform", "DER", data=bytes.fromhex(existing)).decode())
        good = "DN(CN=a)HASH()KEYTYPE(RSA2048)CERTTYPE(01)"
        ca_only = self.reply_of(self.ca.cert)
        cases = [
            ({"type": "GMCreatePKCS10", "info": ""}, -106),
            ({"type": "GMCreatePKCS10"}, -106),
            ({"type": "GMCreatePKCS10", "info": 5}, -106),
            ({"type": "GMCreatePKCS10", "info": "DN(O=x)HASH()KEYTYPE(RSA2048)CERTTYPE(01)"}, -106),
            ({"type": "GMCreatePKCS10", "info": "DN(CN=a)HASH(sha256)KEYTYPE(RSA2048)CERTTYPE(01)"},
             -106),
            ({"type": "GMCreatePKCS10", "info": "DN(CN=a)HASH()KEYTYPE(RSA512)CERTTYPE(01)"}, -106),
            ({"type": "GMCreatePKCS10", "info": "DN(CN=a)HASH()KEYTYPE(RSA2048)CERTTYPE(04)"}, -106),
            ({"type": "GMCreatePKCS10", "info": "DN(CN=a)HASH()KEYTYPE(RSA2048)CERTTYPE(01"}, -106),
            ({"type": "GMCreatePKCS10", "info": "DN(CN=a)KEYTYPE(RSA2048)HASH()CERTTYPE(01)"}, -106),
            ({"type": "GMCreatePKCS10", "info": "DN(CN=a)HASH()KEYTYPE(SM2256)CERTTYPE(02)"}, -106),
            # A user key makes one RSA key pair at a time.
            ({"type": "GMCreatePKCS10", "info": "DN(CN=a)HASH()KEYTYPE(SM2256)CERTTYPE(01)"}, -106),
            ({"type": "GMCreatePKCS10", "info": good + "||" + good}, -361),
            ({"type": "GMWritePKCS7", "p7": ""}, -106),
            ({"type": "GMWritePKCS7"}, -106),
            ({"type": "GMWritePKCS7", "p7": "!!!! not base64 !!!!"}, -407),
            ({"type": "GMWritePKCS7", "p7": base64.b64encode(b"not DER at all").decode()}, -407),
            ({"type": "GMWritePKCS7", "p7": self.reply_of()}, -407),  # no certificate
            ({"type": "GMWritePKCS7", "p7": ca_only}, -407),  # no key pair of this key
            ({"type": "GMWritePKCS7", "p7": self.reply_of(existing_pem)}, -353),
            ({"type": "GMWritePKCS7", "p7": "||".join([ca_only] * 3)}, -407),
            ({"type": "GMWritePKCS7", "p7": "QUFB" * (1 << 18) + "QQ=="}, -407),
            ({"type": "GMDelTempKey", "CertDn": "CN=Wang Wu", "PublicKeyId": ""}, -411),
            ({"type": "GMDelTempKey", "CertDn": "", "PublicKeyId": ""}, -106),
            ({"type": "SetCharset", "charset": "ASCII"}, -106),
            ({"type": "SetLanguage", "language": "xx_XX"}, -106),
        ]
        before = self.snapshot("BAD00001")
        with nmhost.Host(HOST, env=self.store.env) as host:
            for request, code in cases:
                with self.subTest(request=str(request)[:120]):
                    self.assertEqual(self.ask(host, request), code)
            host.close()
        self.assertEqual(self.snapshot("BAD00001"), before)

    def wait_generating(self, serial, timeout=60):
        """Polls until the key has started on its scripted busy time."""
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            presses = self.show(serial)["presses"]
            if presses and presses[0] != "pending:300":
                return
            time.sleep(0.05)
        self.fail("the key never started generating")

    def test_key_removed_midway(self):
        """A key pulled out during generation, between generation and object storage, or while
        the certificate is written: a clean code, and the next enrolment goes through."""
        serial = "PULL0001"
        self.vkey("create", serial)
        info = {"type": "GMCreatePKCS10", "info": "DN(CN=Zhao Liu)HASH()KEYTYPE(RSA2048)CERTTYPE(01)"}
        with nmhost.Host(HOST, env=self.store.env) as host:
            # Pulled out while the key generates (busy for up to 300 polls of 20 ms).
            self.vkey("press", serial, "pending:300")
            host.send(info)
            self.wait_generating(serial)
            self.vkey("remove", serial)
            self.assertEqual(json.loads(host.receive(60))["responseData"], -403)
            self.vkey("clear-script", serial)
            self.vkey("insert", serial)
            for entry, code in [("VexloT_GeneratePairKey", -403), ("VexloT_ExportPairKey", -351),
                                ("VexloT_CreateObject", -352)]:
                with self.subTest(entry):
                    self.vkey("fault", serial, entry, "--remove")
                    self.assertEqual(self.ask(host, info), code)
                    self.assertEqual(self.ask(host, {"type": "GetMediaID"}), -102)
                    self.vkey("insert", serial)
            text = self.ask(host, info, pins=1)
            self.assertIsInstance(text, str, text)
            der = self.path("req.der")
            with open(der, "wb") as f:
                f.write(base64.b64decode(text))
            openssl("req", "-verify", "-inform", "DER", "-in", der, "-noout")
            reply = self.reply_of(self.ca.issue(der, self.path("cert.pem")))
            before = self.snapshot(serial)
            self.vkey("fault", serial, "VexloT_CreateObject", "--remove")
            self.assertEqual(self.ask(host, {"type": "GMWritePKCS7", "p7": reply}), -408)
            self.vkey("insert", serial)
            self.assertEqual(self.snapshot(serial), before)
            self.assertEqual(self.ask(host, {"type": "GMWritePKCS7", "p7": reply}), 0)
            # Only the last key pair of the CN got a certificate; the ones left behind by the
            # failed attempts carry none.
            certified = [k for c in self.show(serial)["containers"] for k in c["keys"]
                         if k["certificate"]]
            self.assertEqual(len(certified), 1)
            host.close()

    def reg_value(self, name):
        """The user's settings value `name` as `reg query` prints it, or None."""
        p = self.store.program("reg", "query", r"HKCU\Software\Korvanet\507Q2_KOBA", "/v", name)
        for line in p.stdout.splitlines():
            parts = line.split(None, 2)
            if parts[:1] == [name]:
                return parts[2] if len(parts) == 3 else ""
        return None

    def test_running_tray_monitor_is_asked_to_rescan(self):
        """With the tray monitor's window present the core sets its rescan event and leaves
        the store to it."""
        serial = "TRAY0001"
        self.vkey("create", serial)
        self.vkey("genkey", serial, "c1", "rsa2048", "--spec", 2, "--kind", 1)
        req = self.path("req.der")
        self.vkey("request", serial, "c1", 2, "Tray User", vkeyctl.winpath(req))
        reply = self.reply_of(self.ca.issue(req, self.path("cert.pem")))
        out = self.path("tray.txt")

        def printed():
            with open(out) as f:
                return f.read()
        with open(out, "wb") as f:
            tray = subprocess.Popen([vkeyctl.WINE_RUN, TRAY, "60000"], stdout=f,
                                    stderr=subprocess.DEVNULL, env=self.store.env)
        try:
            end = time.monotonic() + 60
            while "ready" not in printed() and time.monotonic() < end:
                self.assertIsNone(tray.poll())
                time.sleep(0.05)
            with nmhost.Host(HOST, env=self.store.env) as host:
                self.assertEqual(self.ask(host, {"type": "GMWritePKCS7", "p7": reply}), 0)
                host.close()
            self.assertEqual(tray.wait(90), 0)
        finally:
            if tray.poll() is None:
                tray.kill()
        self.assertIn("rescan", printed())
        self.assertEqual(self.registered("c1"), [])

    def test_settings_rows(self):
        serial = "LANG0001"
        self.vkey("create", serial)
        self.vkey("set", serial, "language-mask", "0x8300")
        self.vkey("set", serial, "charset-flags", "0x300")
        with nmhost.Host(HOST, env=self.store.env) as host:
            self.assertEqual(self.ask(host, {"type": "GetLanguageList"}), "zh_CN||en_US||de_DE")
            self.assertEqual(self.ask(host, {"type": "GetCharsetList"}), "GBK||UTF-8")
            for name, encoding in (("gbk", 0), ("utf-8", 1)):
                self.assertEqual(self.ask(host, {"type": "SetCharset", "charset": name}), 0)
                self.assertEqual(self.show(serial)["text_encoding"], encoding)
            # An interface-only language: the key shows English, the PIN pad its own language.
            self.assertEqual(self.ask(host, {"type": "SetLanguage", "language": "pl_PL"}), 0)
            self.assertEqual(self.show(serial)["language"], 1)
            self.assertEqual(self.reg_value("UILang"), "0x415")
            self.assertEqual(self.reg_value("UISupport"), "0x8300")
            self.assertEqual(self.ask(host, {"type": "SetLanguage", "language": "ja_JP"}), 0)
            self.assertEqual(self.show(serial)["language"], 6)
            self.assertEqual(self.reg_value("UILang"), "0x0")
            self.assertEqual(self.ask(host, {"type": "SetLanguage", "language": "pl_pl"}), -106)
            self.assertEqual(self.show(serial)["language"], 6)
            self.vkey("set", serial, "charset-flags", "0")
            self.assertEqual(self.ask(host, {"type": "GetCharsetList"}), "")
            warning = "\u8bf7\u52ff\u6cc4\u9732 PIN"  # 请勿泄露 PIN
            self.assertEqual(self.ask(host, {"type": "SetWarningMsg", "warningMsg": warning}), 0)
            # `reg query` prints through the console code page; an export keeps UTF-16.
            exported = self.path("settings.reg")
            self.store.program("reg", "export", r"HKCU\Software\Korvanet\507Q2_KOBA",
                               vkeyctl.winpath(exported), "/y")
            with open(exported, encoding="utf-16") as f:
                self.assertIn('"WarningMsg"="%s"' % warning, f.read().splitlines())
            host.close()

    def test_housekeeping_rows(self):
        # A user key with two certificates of one DN: the one that expires first goes.
        serial = "OLDR0001"
        self.vkey("create", serial)
        for container, end in (("early", "20991231000000Z"), ("late", "21001231000000Z")):
            self.vkey("genkey", serial, container, "rsa2048", "--spec", 2, "--kind", 1)
            req = self.path("req.der")
            self.vkey("request", serial, container, 2, "Sun Ba", vkeyctl.winpath(req))
            pem = self.ca.issue(req, self.path("cert.pem"), start="20240101000000Z", end=end)
            self.vkey("import-cert", serial, vkeyctl.winpath(pem), "--kind", 1)
        with nmhost.Host(HOST, env=self.store.env) as host:
            self.assertEqual(self.ask(host, {"type": "GMJudgeAndDelOlderDN"}), 0)
            self.assertEqual({c["name"] for c in self.show(serial)["containers"]}, {"late"})
            host.close()

        # An administrator key: key pairs named by id (a temporary one) and by DN.
        self.store = vkeyctl.Store(VKEY, os.path.join(self.dir, "admin"))
        serial = "ADMN0001"
        self.vkey("create", serial, "--admin")
        temp_id = self.vkey("genkey", serial, "temp", "sm2", "--spec", 2, "--kind", 1)
        self.vkey("genkey", serial, "named", "rsa2048", "--spec", 2, "--kind", 2)
        self.certify_container(serial, "named", "Zhou Jiu", 2)
        self.vkey("genkey", serial, "kept", "rsa2048", "--spec", 2, "--kind", 2)
        with nmhost.Host(HOST, env=self.store.env) as host:
            missing = "%02d" % (int(temp_id) + 50)
            cases = [({"CertDn": "", "PublicKeyId": missing}, -106),
                     ({"CertDn": "CN=Nobody", "PublicKeyId": ""}, -106),
                     ({"CertDn": "", "PublicKeyId": temp_id + "||" + missing}, -106)]
            for args, code in cases:
                self.assertEqual(self.ask(host, dict(args, type="GMDelTempKey")), code, args)
            self.assertEqual(len(self.show(serial)["containers"]), 3)
            self.assertEqual(self.ask(host, {"type": "GMDelTempKey", "CertDn": "CN=Zhou Jiu",
                                             "PublicKeyId": temp_id}), 0)
            self.assertEqual({c["name"] for c in self.show(serial)["containers"]}, {"kept"})
            host.close()


if __name__ == "__main__":
    HOST, VKEY, PROBE, DRIVER, TRAY = (sys.argv.pop(1) for _ in range(5))
    unittest.main(verbosity=2)
