"""The tray monitor Q2Svr_KOBA under Wine against virtual keys: the user's personal store seen
through crypt32 (entries and their key-provider binding), the usage log files decoded, the
diagnostic log, the registry values, and a window of another process that receives the
broadcast. Device arrivals and removals are sent to the monitor's window as the system sends
them, or come from the virtual key bus; session and power messages are sent too (Wine sends
neither). With the bus, an enrolment through the installed host ends with the monitor
registering the new certificate.

    traymon_test.py BUILD_DIR VKEY_EXE PROBE_EXE PAD_DRIVER_EXE [TESTS]
                                                      (inside tools/with-wine.sh, installed)
"""
import base64
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools", "pylib"))
import install  # noqa: E402
import nmhost  # noqa: E402
import pinpad_driver  # noqa: E402
import signcheck  # noqa: E402
import vkeyctl  # noqa: E402

BUILD = VKEY = PROBE = DRIVER = TEMP = None
CSP = "Korvanet Vexlo CSP KOBA v1.0"
ARRIVAL, REMOVAL = 0x8000, 0x8004
WM_DEVICECHANGE, WM_POWERBROADCAST, WM_WTSSESSION_CHANGE = 0x219, 0x218, 0x2B1
DEADLINE = 60
PIN = "123456"


def wait_for(predicate, what, deadline=DEADLINE):
    end = time.monotonic() + deadline
    while time.monotonic() < end:
        value = predicate()
        if value:
            return value
        time.sleep(0.1)
    raise AssertionError("timed out waiting for " + what)


class TrayMonitor(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="koba-tray-")
        self.dir = self.tmp.name
        self.store = vkeyctl.Store(VKEY, self.dir)
        self.ca = vkeyctl.TestCA(self.dir)
        self.exe = os.path.join(install.install_dir(), "Q2Svr_KOBA.exe")
        self.log_dir = os.path.join(install.drive_c(), "ProgramData", "KOBAUkeyLog")
        if os.path.isdir(self.log_dir):
            shutil.rmtree(self.log_dir)
        elif os.path.exists(self.log_dir):
            os.remove(self.log_dir)
        self.monitor = None
        self.listener_file = os.path.join(self.dir, "broadcasts.txt")
        self.listener = None

    def tearDown(self):
        if self.monitor is not None and self.monitor.poll() is None:
            self.run_monitor("kill")
            self.monitor.wait(timeout=DEADLINE)
        if self.listener is not None:
            self.listener.kill()
            self.listener.wait()
        self.tmp.cleanup()

    # The programs.
    def vkey(self, *args):
        return self.store.run(*[str(a) for a in args]).strip()

    def probe(self, *args, check=True):
        p = self.store.program(PROBE, *[str(a) for a in args])
        if check and p.returncode != 0:
            raise AssertionError("probe %s: %d %s" % (args, p.returncode, p.stderr))
        return p

    def run_monitor(self, *words):
        return self.store.program(self.exe, *words, timeout=DEADLINE)

    def background(self, exe, *args):
        return subprocess.Popen([vkeyctl.WINE_RUN, exe, *args], env=self.store.env,
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def start_listener(self):
        self.listener = self.background(PROBE, "listen", vkeyctl.winpath(self.listener_file),
                                        "300")
        wait_for(lambda: os.path.exists(self.listener_file) and
                 "ready" in open(self.listener_file).read(), "the listener")

    def broadcasts(self):
        if not os.path.exists(self.listener_file):
            return []
        return [tuple(int(x, 16) for x in line.split())
                for line in open(self.listener_file).read().split("\n")[1:]
                if line and not line.startswith("#")]

    def start_monitor(self):
        self.start_listener()
        self.monitor = self.background(self.exe)
        wait_for(lambda: self.probe("send", 0, 0, check=False).returncode == 0, "the window")

    def stop_monitor(self):
        self.assertEqual(self.run_monitor("kill").returncode, 1)
        self.assertEqual(self.monitor.wait(timeout=DEADLINE), 0)
        wait_for(lambda: (0, 0x10) in self.broadcasts(), "the final broadcast")

    # Keys.
    def certify(self, serial, container, spec, subject, kind=0):
        req = os.path.join(self.dir, "%s-%s-%d.der" % (serial, container, spec))
        self.vkey("request", serial, container, spec, "x", vkeyctl.winpath(req))
        pem = req + ".pem"
        subprocess.run(["openssl", "req", "-inform", "DER", "-in", req, "-out", pem], check=True)
        cert = req + ".crt"
        args = ["openssl", "x509", "-req", "-in", pem, "-CA", self.ca.cert, "-CAkey",
                self.ca.key, "-set_serial", str(abs(hash(req)) % 1000000), "-days", "30",
                "-subj", subject, "-out", cert]
        if b"SM2" in subprocess.run(["openssl", "req", "-in", pem, "-noout", "-text"],
                                    capture_output=True).stdout:
            args += ["-vfyopt", vkeyctl.SM2_ID]
        subprocess.run(args, check=True, capture_output=True)
        self.vkey("import-cert", serial, vkeyctl.winpath(cert), "--kind", kind)
        return cert

    def der(self, pem):
        """The DER form of a PEM certificate file, as a file beside it."""
        subprocess.run(["openssl", "x509", "-in", pem, "-outform", "DER", "-out", pem + ".der"],
                       check=True)
        return pem + ".der"

    def make_key(self, serial, containers=("c1", "c2")):
        """A key whose containers each hold an exchange and a signature key, both certified."""
        # The diagnostic log of a serial lives in the prefix's temporary folder: a key of an
        # earlier run starts no record list here.
        if os.path.exists(self.diag_log(serial)):
            os.remove(self.diag_log(serial))
        slot = int(self.vkey("create", serial))
        for c in containers:
            for spec in (1, 2):
                self.vkey("genkey", serial, c, "rsa1024", "--spec", spec)
                self.certify(serial, c, spec, "/CN=%s %s %d/O=Koba Bank" % (serial, c, spec))
        return slot

    def prefix(self, serial):
        key = json.loads(self.vkey("show", serial))["keys"][0]
        return "\\\\.\\Korvanet %s\\" % bytes.fromhex(key["device_id"]).decode()

    def entries_of(self, serial, containers=("c1", "c2")):
        return {(self.prefix(serial) + c, spec) for c in containers for spec in (1, 2)}

    def interface(self, serial):
        return ("\\\\?\\USBSTOR#CDROM&VEN_KORVANET&PROD_%s&REV_1.00#1#"
                "{53f56308-b6bf-11d0-94f2-00a0c91efb8b}" % serial)

    # What the monitor left.
    def store_entries(self):
        """(container, key spec) of every entry bound to the key's CSP."""
        out = set()
        for line in self.probe("store").stdout.splitlines():
            provider, container, spec, _ = line.split("|", 3)
            if provider == CSP:
                out.add((container, int(spec)))
        return out

    def usage_records(self):
        records = []
        for name in ("koba_kvnkey_1.uklog", "koba_kvnkey_2.uklog"):
            path = os.path.join(self.log_dir, name)
            if not os.path.exists(path):
                continue
            data = open(path, "rb").read()
            for line in data.split(b"\r\n")[:-1]:
                record = base64.b64decode(line, validate=True).decode()
                self.assertTrue(record.endswith("\r\n"))
                records.append((name, record[:-2]))
        return records

    def usage_events(self):
        """(serial, type) of every usage record, after checking its shape."""
        events = []
        for _, record in self.usage_records():
            fields = record[1:-1].split("][")
            self.assertEqual(len(fields), 4, record)
            self.assertRegex(fields[0], r"^\d{4}\.\d\d\.\d\d-\d\d:\d\d:\d\d\.\d{3}$")
            self.assertTrue(fields[1])
            events.append((fields[2], fields[3]))
        return events

    def diag_log(self, serial):
        global TEMP
        if TEMP is None:
            win_path = self.probe("temp").stdout.strip()
            TEMP = subprocess.run([vkeyctl.WINE_RUN, "winepath.exe", "-u", win_path],
                                  capture_output=True, text=True, check=True).stdout.strip()
        return os.path.join(TEMP, "KVN_" + serial)

    def diag_records(self, serial):
        path = self.diag_log(serial)
        if not os.path.exists(path):
            return []
        return [line.split('"')[1] for line in open(path).read().splitlines() if line]

    def value(self, name):
        return self.probe("value", name).stdout.strip()

    def device(self, event, serial):
        self.probe("device", event, self.interface(serial))

    # Tests.
    def test_start_without_key_empties_the_csp_entries(self):
        # Entries a key left behind: one under a device path, one under another container.
        self.make_key("TSTALE01", containers=("c1",))
        for spec, container in ((2, "\\\\.\\Korvanet OLDKEY\\c1"), (1, "legacy-container")):
            cert = os.path.join(self.dir, "TSTALE01-c1-%d.der.crt" % spec)
            subprocess.run(["openssl", "x509", "-in", cert, "-outform", "DER", "-out",
                            cert + ".der"], check=True)
            self.probe("register", container, spec, vkeyctl.winpath(cert + ".der"))
        self.vkey("delete", "TSTALE01")
        self.assertEqual(len(self.store_entries()), 2)
        self.start_monitor()
        wait_for(lambda: not self.store_entries(), "the stale entries to go")
        self.stop_monitor()
        self.assertEqual(self.broadcasts(), [(0, 0x10)])
        self.assertEqual(self.usage_events(), [])

    def test_one_key_arrival_removal_and_kill(self):
        self.make_key("TONE0001")
        self.start_monitor()
        wait_for(lambda: self.store_entries() == self.entries_of("TONE0001"), "four entries")
        wait_for(lambda: self.broadcasts() == [(ARRIVAL, 0x219)], "the broadcast")
        self.assertEqual(self.usage_events(), [("TONE0001", "Insert")])
        self.assertEqual(self.diag_records("TONE0001"), ["insert"])
        # Every entry's certificate is the one of its container and key spec.
        for line in self.probe("store").stdout.splitlines():
            provider, container, spec, subject = line.split("|", 3)
            if provider == CSP:
                self.assertIn("CN=TONE0001 %s %s" % (container[-2:], spec), subject)

        # A second key arrives: only it is registered.
        self.make_key("TTWO00000002")
        self.device(ARRIVAL, "TTWO00000002")
        both = self.entries_of("TONE0001") | self.entries_of("TTWO00000002")
        wait_for(lambda: self.store_entries() == both, "the second key's entries")
        wait_for(lambda: len(self.broadcasts()) == 2, "the second broadcast")
        self.assertEqual(self.broadcasts()[1], (ARRIVAL, 0x219))
        self.assertEqual(self.value("TTWO00000002"), str(ARRIVAL))
        self.assertEqual(self.usage_events(),
                         [("TONE0001", "Insert"), ("TTWO00000002", "Insert")])

        # One of the two goes: only its entries leave.
        self.vkey("remove", "TTWO00000002")
        self.device(REMOVAL, "TTWO00000002")
        wait_for(lambda: self.store_entries() == self.entries_of("TONE0001"), "its entries to go")
        wait_for(lambda: len(self.broadcasts()) == 3, "the removal broadcast")
        self.assertEqual(self.broadcasts()[2], (REMOVAL, 0x219))
        self.assertEqual(self.value("TTWO000000"), str(REMOVAL))
        self.assertEqual(self.diag_records("TTWO00000002"), ["insert", "remove"])
        self.assertEqual(self.usage_events()[2:], [("TTWO00000002", "Remove")])

        # A device that is not the maker's posts nothing; a second start exits with 1.
        self.probe("device", ARRIVAL, "\\\\?\\USBSTOR#CDROM&VEN_OTHER&PROD_X#1#{53f56308}")
        self.assertEqual(self.run_monitor().returncode, 1)
        self.stop_monitor()
        self.assertEqual(self.store_entries(), set())
        self.assertEqual(len(self.broadcasts()), 4)

    def test_sm2_and_resume_and_rescan(self):
        self.vkey("create", "TSM20001")
        self.vkey("genkey", "TSM20001", "rsa", "rsa1024", "--spec", 2)
        self.certify("TSM20001", "rsa", 2, "/CN=rsa/O=Koba Bank")
        self.vkey("genkey", "TSM20001", "gm", "sm2", "--spec", 2)
        self.certify("TSM20001", "gm", 2, "/CN=sm2/O=Koba Bank")
        self.start_monitor()
        rsa_only = {(self.prefix("TSM20001") + "rsa", 2)}
        wait_for(lambda: self.store_entries() == rsa_only, "the RSA entry")

        # Resume and session log-on: every entry again, an "Insert" record, no diagnostic one.
        for message, wparam in ((WM_POWERBROADCAST, 18), (WM_WTSSESSION_CHANGE, 5)):
            count = len(self.broadcasts())
            self.probe("send", message, wparam)
            wait_for(lambda: len(self.broadcasts()) == count + 1, "the resume broadcast")
            self.assertEqual(self.broadcasts()[-1], (REMOVAL, 0x219))
            self.assertEqual(self.store_entries(), rsa_only)
        self.assertEqual(self.usage_events(), [("TSM20001", "Insert")] * 3)
        self.assertEqual(self.diag_records("TSM20001"), ["insert"])
        # A power message that is no resume does nothing.
        self.probe("send", WM_POWERBROADCAST, 4)

        # A certificate written to the key, then the rescan event set by another process.
        self.vkey("genkey", "TSM20001", "new", "rsa1024", "--spec", 1)
        self.certify("TSM20001", "new", 1, "/CN=new/O=Koba Bank")
        count = len(self.broadcasts())
        self.probe("signal")
        wanted = rsa_only | {(self.prefix("TSM20001") + "new", 1)}
        wait_for(lambda: self.store_entries() == wanted, "the new certificate")
        wait_for(lambda: len(self.broadcasts()) == count + 1, "the rescan broadcast")
        self.assertEqual(self.broadcasts()[-1], (ARRIVAL, 0x219))
        self.assertEqual(len(self.usage_events()), 3)
        self.stop_monitor()

    def test_faults_are_repaired_by_the_next_scan(self):
        self.make_key("TFLT0001")
        # The provider fails at the key's first call; the log folder cannot be made.
        self.vkey("fault", "TFLT0001", "CPAcquireContext", "--status", "0x80090016")
        os.makedirs(os.path.dirname(self.log_dir), exist_ok=True)
        open(self.log_dir, "w").close()
        self.start_monitor()
        wait_for(lambda: len(self.broadcasts()) == 1, "the start broadcast")
        self.assertEqual(self.store_entries(), set())
        self.probe("signal")
        wait_for(lambda: self.store_entries() == self.entries_of("TFLT0001"), "the repair")

        self.assertEqual(self.usage_events(), [])

        # The key is pulled out in the middle of a scan, and the system reports its removal.
        os.remove(self.log_dir)
        self.vkey("fault", "TFLT0001", "CPGetProvParam", "--remove")
        self.probe("send", WM_POWERBROADCAST, 18)
        wait_for(lambda: len(self.broadcasts()) == 3, "the resume broadcast")
        self.device(REMOVAL, "TFLT0001")
        wait_for(lambda: len(self.broadcasts()) == 4, "the removal broadcast")
        self.assertEqual(self.store_entries(), set())
        self.assertEqual(self.usage_events(), [("TFLT0001", "Insert"), ("TFLT0001", "Remove")])
        self.assertEqual(self.diag_records("TFLT0001"), ["insert", "remove"])
        self.stop_monitor()

    def test_store_refusing_an_entry(self):
        self.make_key("TREF0001")
        prefix = self.prefix("TREF0001")
        refused = vkeyctl.winpath(self.der(os.path.join(self.dir, "TREF0001-c2-1.der.crt")))
        part = self.entries_of("TREF0001") - {(prefix + "c2", 1)}
        self.probe("refuse", refused)
        try:
            # The refusal is what registering the certificate answers.
            p = self.probe("register", prefix + "c2", 1, refused, check=False)
            self.assertEqual(p.returncode, 1, p.stderr)
            self.assertEqual(self.store_entries(), set())
            # The scan registers what the store keeps.
            self.start_monitor()
            wait_for(lambda: self.broadcasts() == [(ARRIVAL, 0x219)], "the start broadcast")
            self.assertEqual(self.store_entries(), part)
            # The key goes while registered in part: none of its entries stays.
            self.vkey("remove", "TREF0001")
            self.device(REMOVAL, "TREF0001")
            wait_for(lambda: len(self.broadcasts()) == 2, "the removal broadcast")
            self.assertEqual(self.store_entries(), set())
            self.vkey("insert", "TREF0001")
            self.device(ARRIVAL, "TREF0001")
            wait_for(lambda: len(self.broadcasts()) == 3, "the arrival broadcast")
            self.assertEqual(self.store_entries(), part)
        finally:
            self.probe("allow", refused)
        # The store keeps it again: the next scan completes the key.
        self.probe("signal")
        wait_for(lambda: len(self.broadcasts()) == 4, "the rescan broadcast")
        self.assertEqual(self.store_entries(), self.entries_of("TREF0001"))
        self.assertEqual(self.broadcasts(), [(ARRIVAL, 0x219), (REMOVAL, 0x219),
                                             (ARRIVAL, 0x219), (ARRIVAL, 0x219)])
        self.stop_monitor()
        self.assertEqual(self.store_entries(), set())

    def handle_count(self):
        return int(self.probe("handles").stdout)

    def test_command_words(self):
        # "kill" without a monitor starts none and exits with 1.
        self.assertEqual(self.run_monitor("kill").returncode, 1)
        self.assertEqual(self.probe("send", 0, 0, check=False).returncode, 2)

        def ours(label):
            return [line for line in self.probe("cas", "KOBA Test Bank").stdout.splitlines()
                    if line.startswith(label + "|")]

        # The command words while a monitor runs: done, then exit with 1. The installation
        # ran "installRoot" already: its certificates are taken away first.
        self.start_monitor()
        self.probe("uncas", "KOBA Test Bank")
        self.assertEqual(self.run_monitor("installRoot -s").returncode, 1)
        self.assertEqual((len(ours("user ROOT")), len(ours("user CA"))), (0, 0))
        self.assertEqual((len(ours("machine ROOT")), len(ours("machine CA"))), (4, 4))
        for name in ("koba_kvnkey_1.uklog", "koba_kvnkey_2.uklog"):
            self.assertEqual(os.path.getsize(os.path.join(self.log_dir, name)), 0)
        # The user's views of ROOT and CA include the machine's: "installRoot" adds to the
        # user's stores only what neither holds yet.
        self.probe("uncas", "KOBA Test Bank")
        self.assertEqual(self.run_monitor("installRoot").returncode, 1)
        self.assertEqual((len(ours("user ROOT")), len(ours("user CA"))), (3, 2))
        self.assertEqual((len(ours("machine ROOT")), len(ours("machine CA"))), (4, 4))
        self.stop_monitor()


class TrayMonitorDevices(TrayMonitor):
    """Keys plugged in and pulled out through the virtual key bus: the notifications are the
    system's own."""

    def test_real_arrival_removal_and_rounds(self):
        self.make_key("TDEVA001", containers=("c1",))
        self.make_key("TDEVB001", containers=("c1",))
        self.vkey("remove", "TDEVB001")
        self.store.use_for_devices()
        self.start_monitor()
        stay = self.entries_of("TDEVA001", ("c1",))
        both = stay | self.entries_of("TDEVB001", ("c1",))
        wait_for(lambda: self.store_entries() == stay, "the first key")
        wait_for(lambda: self.broadcasts() == [(ARRIVAL, 0x219)], "the start broadcast")

        self.vkey("insert", "TDEVB001")
        try:
            wait_for(lambda: self.store_entries() == both, "the arrival")
        except AssertionError:
            # What the listener saw of the device notifications, and what the monitor logged.
            print(open(self.listener_file).read(), self.usage_events(), file=sys.stderr)
            raise
        wait_for(lambda: len(self.broadcasts()) == 2, "the arrival broadcast")
        self.assertEqual(self.broadcasts()[1], (ARRIVAL, 0x219))
        self.assertEqual(self.value("TDEVB001"), str(ARRIVAL))
        self.vkey("remove", "TDEVB001")
        wait_for(lambda: self.store_entries() == stay, "the removal")
        wait_for(lambda: len(self.broadcasts()) == 3, "the removal broadcast")
        self.assertEqual(self.broadcasts()[2], (REMOVAL, 0x219))
        self.assertEqual(self.value("TDEVB001"), str(REMOVAL))
        self.assertEqual(self.diag_records("TDEVB001"), ["insert", "remove"])

        # Rounds of insertion and removal. Each scan ends with its broadcast: then the store
        # holds exactly the present keys' entries, and with the worker idle after a removal the
        # monitor holds no more handles than after the first round.
        start = self.handle_count()
        self.assertGreater(start, 0)  # its window's thread, events, worker and files at least
        counts = []
        for n in range(6):
            self.vkey("insert", "TDEVB001")
            wait_for(lambda: len(self.broadcasts()) == 4 + 2 * n, "the arrival broadcast")
            self.assertEqual(self.store_entries(), both)
            self.vkey("remove", "TDEVB001")
            wait_for(lambda: len(self.broadcasts()) == 5 + 2 * n, "the removal broadcast")
            self.assertEqual(self.store_entries(), stay)
            counts.append(self.handle_count())
        self.assertEqual(self.broadcasts()[3:], [(ARRIVAL, 0x219), (REMOVAL, 0x219)] * 6)
        self.assertLessEqual(max(counts), start, (start, counts))
        self.assertEqual(self.usage_events().count(("TDEVB001", "Insert")), 7)
        self.assertEqual(self.usage_events().count(("TDEVB001", "Remove")), 7)
        self.assertEqual(self.diag_records("TDEVB001"), ["insert", "remove"] * 7)
        self.stop_monitor()
        self.assertEqual(self.store_entries(), set())

    def ask(self, host, request, pins=0):
        """Sends a request to the host, types the PIN into each PIN dialog it opens; returns
        the response data."""
        host.send(request)
        for _ in range(pins):
            with pinpad_driver.PadDriver(PIN, exe=DRIVER, env=self.store.env) as pad:
                pad.wait()
        replies = [json.loads(host.receive(120))]
        while replies[-1]["IsOver"] == 0:
            replies.append(json.loads(host.receive(120)))
        return signcheck.joined(replies, request["type"])

    def test_enrollment_is_registered_by_the_monitor(self):
        """GMCreatePKCS10 and GMWritePKCS7 through the installed host while the monitor runs:
        the core leaves the store to the monitor and sets its rescan event; the monitor
        registers the new certificate and drops the entry of the key pair it replaced."""
        serial, cn = "TENR0001", "Enrol User"
        self.make_key(serial, containers=())
        # An older certified key pair of the same name and issuer, which enrolment replaces,
        # and one of another name, which stays.
        self.vkey("genkey", serial, "old", "rsa2048", "--spec", 2, "--kind", 1)
        request = os.path.join(self.dir, "old.der")
        self.vkey("request", serial, "old", 2, cn, vkeyctl.winpath(request))
        old = self.ca.issue(request, os.path.join(self.dir, "old.pem"))
        self.vkey("import-cert", serial, vkeyctl.winpath(old), "--kind", 1)
        self.vkey("genkey", serial, "keep", "rsa1024", "--spec", 1)
        self.certify(serial, "keep", 1, "/CN=Other Holder/O=Koba Bank")
        self.store.use_for_devices()
        self.start_monitor()
        prefix = self.prefix(serial)
        wait_for(lambda: self.broadcasts() == [(ARRIVAL, 0x219)], "the start broadcast")
        self.assertEqual(self.store_entries(), {(prefix + "old", 2), (prefix + "keep", 1)})

        with nmhost.Host(os.path.join(install.install_dir(), install.HOST_EXE),
                         env=self.store.env) as host:
            text = self.ask(host, {"type": "GMCreatePKCS10", "tabID": 1,
                                   "info": "DN(CN=%s,O=Bank)HASH(SHA256)KEYTYPE(RSA2048)"
                                           "CERTTYPE(01)" % cn}, pins=1)
            self.assertIsInstance(text, str, text)
            der = os.path.join(self.dir, "new.der")
            with open(der, "wb") as f:
                f.write(base64.b64decode(text, validate=True))
            cert = self.ca.issue(der, os.path.join(self.dir, "new.pem"))
            with open(self.ca.reply(cert, os.path.join(self.dir, "reply.p7")), "rb") as f:
                reply = base64.b64encode(f.read()).decode()
            # Nothing the monitor sees has changed yet.
            self.assertEqual(self.store_entries(), {(prefix + "old", 2), (prefix + "keep", 1)})
            self.assertEqual(len(self.broadcasts()), 1)
            self.assertEqual(self.ask(host, {"type": "GMWritePKCS7", "p7": reply}), 0)
            host.close()
        names = {c["name"] for c in json.loads(self.vkey("show", serial))["keys"][0]
                 ["containers"]}
        self.assertNotIn("old", names)  # same name, same issuer: replaced on the key
        (label,) = names - {"keep"}
        wanted = {(prefix + label, 2), (prefix + "keep", 1)}
        try:
            wait_for(lambda: self.store_entries() == wanted, "the new certificate's entry")
        except AssertionError:
            print(self.probe("store").stdout, file=sys.stderr)
            raise
        wait_for(lambda: len(self.broadcasts()) == 2, "the rescan broadcast")
        self.assertEqual(self.broadcasts()[1], (ARRIVAL, 0x219))
        # A rescan, the scan of the event: no usage, diagnostic or registry record of an
        # arrival (a start, arrival or resume scan writes an "Insert" record).
        self.assertEqual(self.usage_events(), [(serial, "Insert")])
        self.assertEqual(self.diag_records(serial), ["insert"])
        self.assertEqual(self.value(serial), "missing")
        subjects = {line.split("|", 3)[1]: line.split("|", 3)[3]
                    for line in self.probe("store").stdout.splitlines()}
        self.assertEqual(subjects[prefix + label], "CN=" + cn)
        self.stop_monitor()
        self.assertEqual(self.store_entries(), set())


if __name__ == "__main__":
    BUILD, VKEY, PROBE, DRIVER = sys.argv[1:5]
    unittest.main(argv=sys.argv[:1] + (sys.argv[5:] or ["TrayMonitor"]), verbosity=2)
