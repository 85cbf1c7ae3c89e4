"""ChangePin and CustInitCard through the host with the installed PIN pad: the PINs are typed
into the real change and initialisation dialogs from outside, field after field on the
on-screen keyboard, as a user does with the mouse; the key's PIN afterwards is judged through
the virtual key's own login, and the reply codes are the PIN pad statuses as the core maps them."""
import glob
import json
import os
import re
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools", "pylib"))
import nmhost  # noqa: E402
import pinpad_driver  # noqa: E402
import signcheck  # noqa: E402
import vkeyctl  # noqa: E402

HOST = VKEY = PROBE = DRIVER = CONTROL = None
PIN = "123456"  # a new virtual key's PIN, with 6 tries
STRONG = "a1b2c3d4"  # letters and digits, eight characters: no strength question
WEAK = "246810"  # digits only: the change dialog asks whether to keep it
PROVIDER = "Korvanet Vexlo CSP KOBA v1.0"
LANGS = os.path.join(os.path.dirname(__file__), "..", "..", "pinpad", "langs", "src")
OK = "0x00000000"
LOCKED = "0xE0110010"


def wrong(tries):
    """VexloT_Login's status for a wrong PIN with `tries` left."""
    return "0x%08X" % (0xE0110010 + tries)


def texts(name):
    """The text `name` in every language the PIN pad ships: the test does not depend on the
    language the prefix resolves."""
    found = set()
    for path in glob.glob(os.path.join(LANGS, "*.ini")):
        with open(path, encoding="utf-8-sig") as f:
            for line in f:
                key, sep, value = line.rstrip("\r\n").partition("=")
                if sep and key == name:
                    found.add(value)
    if not found:
        raise AssertionError("no language file has %s" % name)
    return found


def change(old, new, repeat=None, **options):
    return ("change", (old, new, repeat or new), options)


def init(new, repeat=None, **options):
    return ("init", (new, repeat or new), options)


def notice(message, tries, title):
    """The PIN pad's information box after the token function: text id, number, title id."""
    return ("info", (message, tries, title), {})


# name, action, key set-up, the dialogs in order, reply code, the key afterwards.
# Set-up: "tries" left before the request, "fault" (entry, vkey fault options), "admin" info
# text of an administrator key. Afterwards: "refused" (PIN, login status) is tried first, then
# "pin" must log in ("locked": every PIN is refused as locked); "tries" left before those
# logins; "wiped" the key pairs gone and the key's certificate, which CustInitCard cases
# register in the user's store first, no longer there; "marked" parameter 100002 written once.
CASES = [
    ("change with the right old PIN", "ChangePin", {},
     [change(PIN, STRONG)], 0,
     {"refused": (PIN, wrong(5)), "pin": STRONG, "tries": 6}),
    ("change to a weak PIN kept after the question", "ChangePin", {},
     [change(PIN, WEAK, weak="ok")], 0,
     {"refused": (PIN, wrong(5)), "pin": WEAK, "tries": 6}),
    ("change to a weak PIN refused, then cancelled", "ChangePin", {},
     [change(PIN, WEAK, weak="cancel")], -100,
     {"pin": PIN, "tries": 6}),
    ("change cancelled after typing", "ChangePin", {},
     [change(PIN, STRONG, cancel=True)], -100,
     {"refused": (STRONG, wrong(5)), "pin": PIN, "tries": 6}),
    # The change ends after a wrong old PIN: the code carries the tries left.
    ("wrong old PIN, three tries left", "ChangePin", {"tries": 4},
     [change("654321", STRONG), notice("PinRemainTimes", 3, "PAD_USE_TYPE_CHANGEPIN")], -203,
     {"refused": (STRONG, wrong(2)), "pin": PIN, "tries": 3}),
    ("wrong old PIN, five tries left", "ChangePin", {},
     [change("654321", STRONG), notice("PinRemainTimes", 5, "PAD_USE_TYPE_CHANGEPIN")], -205,
     {"pin": PIN, "tries": 5}),
    ("wrong old PIN on the last try", "ChangePin", {"tries": 1},
     [change("654321", STRONG), notice("PinBlocked", None, "PAD_USE_TYPE_CHANGEPIN")], -221,
     {"locked": True, "tries": 0}),
    ("locked key", "ChangePin", {"tries": 0},
     [change(PIN, STRONG), notice("PinBlocked", None, "PAD_USE_TYPE_CHANGEPIN")], -221,
     {"locked": True, "tries": 0}),
    ("change: the key's button not pressed in time", "ChangePin",
     {"fault": ("VexloT_ChangePin", "--status", "0xE011000F")}, [change(PIN, STRONG)], -105,
     {"pin": PIN, "tries": 6}),
    ("change: the environment is gone", "ChangePin",
     {"fault": ("VexloT_ChangePin", "--status", "0xE011FFFE")}, [change(PIN, STRONG)], -393,
     {"pin": PIN, "tries": 6}),
    ("change: the key pulled out", "ChangePin",
     {"fault": ("VexloT_ChangePin", "--remove")}, [change(PIN, STRONG)], -300,
     {"pin": PIN, "tries": 6}),
    ("initialise cancelled", "CustInitCard", {},
     [init(STRONG, cancel=True)], -100,
     {"refused": (STRONG, wrong(5)), "pin": PIN, "tries": 6}),
    ("initialise: the key's button not pressed in time", "CustInitCard",
     {"fault": ("VexloT_InitToken", "--status", "0xE011000F")}, [init(STRONG)], -105,
     {"pin": PIN, "tries": 6}),
    ("initialise: the environment is gone", "CustInitCard",
     {"fault": ("VexloT_InitToken", "--status", "0xE011FFFE")}, [init(STRONG)], -393,
     {"pin": PIN, "tries": 6}),
    ("initialise: the key pulled out", "CustInitCard",
     {"fault": ("VexloT_InitToken", "--remove")}, [init(STRONG)], -300,
     {"pin": PIN, "tries": 6}),
    ("initialise an administrator key that fails the mode check", "CustInitCard",
     {"admin": "AB12CD"}, [], -411,
     {"pin": PIN, "tries": 6}),
    ("initialise", "CustInitCard", {},
     [init(STRONG)], 0,
     {"refused": (PIN, wrong(5)), "pin": STRONG, "tries": 6, "wiped": True, "marked": True}),
    ("initialise with a weak PIN: no strength rules", "CustInitCard", {},
     [init(WEAK)], 0,
     {"refused": (PIN, wrong(5)), "pin": WEAK, "tries": 6, "wiped": True, "marked": True}),
]


class PinManagementThroughTheDialogs(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="koba-pin-management-")
        cls.dir = cls.tmp.name
        cls.ca = vkeyctl.TestCA(cls.dir)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def registered(self, store):
        """The user's MY store entries of the key's provider."""
        p = store.program(CONTROL, "listmy")
        self.assertEqual(p.returncode, 0, p.stderr)
        return [line for line in p.stdout.splitlines() if line.startswith(PROVIDER + "|")]

    def control(self, store, command):
        p = store.program(CONTROL, command)
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assertEqual(p.stdout.split()[:1], ["0"], p.stdout)

    def login(self, store, slot, pin):
        p = store.program(PROBE, "login", str(slot), pin)
        self.assertEqual(p.returncode, 0, p.stderr)
        return p.stdout.strip()

    def visit(self, step, name):
        """One dialog of the request, filled or answered as the step says."""
        kind, values, options = step
        if kind == "info":
            message, tries, title = values
            text, shown_title = pinpad_driver.information_box(DRIVER)
            want = texts(message)
            if tries is not None:
                want = {re.sub("%d", str(tries), t, count=1) for t in want}
            self.assertIn(text, want, name)
            self.assertIn(shown_title, texts(title), name)
            return
        with pinpad_driver.PadDriver(values, exe=DRIVER, dialog=kind, **options) as pad:
            pad.wait()
            asked = pad.asked_weak()
        if "weak" in options:
            self.assertIn(asked, texts("PAD_INPUT_PIN_NOT_C_INT"), name)
        else:
            self.assertIsNone(asked, name)

    def test_pin_management(self):
        for n, (name, action, setup, steps, code, after) in enumerate(CASES):
            with self.subTest(name):
                self.run_case(n, name, action, setup, steps, code, after)

    def run_case(self, n, name, action, setup, steps, code, after):
        serial = "PINM%04d" % n
        # Each case on a store of its own: one key present at a time.
        store = vkeyctl.Store(VKEY, os.path.join(self.dir, serial))
        signcheck.certified_key(store, self.ca, os.path.join(self.dir, serial), serial, "rsa2048",
                                "/O=Bank/CN=Case %d" % n)
        slot = json.loads(store.run("show", serial))["keys"][0]["slot"]
        if "admin" in setup:
            store.run("set", serial, "admin", "1")
            store.run("set", serial, "admin-info", setup["admin"])
        wiped = after.get("wiped", False)
        if action == "CustInitCard":
            # The key's certificate is known to Windows, as the tray monitor leaves it.
            self.control(store, "registercert")
            self.assertEqual(len(self.registered(store)), 1, name)
        if "tries" in setup:
            store.run("set", serial, "tries-left", str(setup["tries"]))
        if "fault" in setup:
            store.run("fault", serial, *setup["fault"])
        before = json.loads(store.run("show", serial))["keys"][0]

        with nmhost.Host(HOST, env=store.env) as host:
            host.send({"type": action, "tabID": n + 1})
            for step in steps:
                self.visit(step, name)
            reply = json.loads(host.receive(60))
            host.close()
        self.assertEqual(reply["tabID"], n + 1, name)
        self.assertEqual(signcheck.joined([reply], action), code, name)

        if "fault" in setup and "--remove" in setup["fault"]:
            store.run("insert", serial)
        key = json.loads(store.run("show", serial))["keys"][0]
        self.assertEqual(key["tries_left"], after["tries"], name)
        self.assertEqual(key["changed"] - before["changed"], 1 if after.get("marked") else 0,
                         name)
        if wiped:
            self.assertEqual((key["pairs"], key["containers"]), ([], []), name)
            self.assertEqual(self.registered(store), [], name)
        else:
            self.assertEqual((key["pairs"], key["containers"]),
                             (before["pairs"], before["containers"]), name)
            if action == "CustInitCard":
                self.assertEqual(len(self.registered(store)), 1, name)
                self.control(store, "unregistercert")
        if after.get("locked"):
            self.assertEqual(self.login(store, slot, PIN), LOCKED, name)
            return
        if "refused" in after:
            pin, status = after["refused"]
            self.assertEqual(self.login(store, slot, pin), status, name)
        self.assertEqual(self.login(store, slot, after["pin"]), OK, name)


if __name__ == "__main__":
    HOST, VKEY, PROBE, DRIVER, CONTROL = (sys.argv.pop(1) for _ in range(5))
    unittest.main(verbosity=2)
