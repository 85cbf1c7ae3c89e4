"""GMUsbKeySign through the host with the installed PIN pad: the PIN is typed into the real
verify dialog from outside, on its on-screen keyboard, as a user does with the mouse; OpenSSL
judges the signature."""
import json
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools", "pylib"))
import nmhost  # noqa: E402
import pinpad_driver  # noqa: E402
import signcheck  # noqa: E402
import vkeyctl  # noqa: E402

HOST = VKEY = DRIVER = None
SERIAL = "PINE0001"
PIN = "123456"  # a new virtual key's PIN, with 6 tries
XML = "<T><amount>88.00 CNY</amount><payee>\u674e\u56db</payee></T>"  # 李四
KEY_INFO = "ki-7"


class PinEntryThroughTheDialog(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="koba-pin-entry-")
        cls.dir = cls.tmp.name
        cls.store = vkeyctl.Store(VKEY, cls.dir)
        cls.ca = vkeyctl.TestCA(cls.dir)
        signcheck.certified_key(cls.store, cls.ca, cls.dir, SERIAL, "sm2", "/O=Bank/CN=Li Si")

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_pin_entries(self):
        # Each step is one visit of a dialog: ("pin", PIN) types and presses Enter, ("cancel",
        # PIN) types and presses Cancel, ("info", tries left) acknowledges the information box.
        cases = [
            ("right PIN", [("pin", PIN)], 0),
            ("cancelled after typing", [("cancel", PIN)], -100),
            ("wrong PIN, then the right one", [("pin", "654321"), ("info", 5), ("pin", PIN)], 0),
            # The right PIN restored the tries: the first wrong one leaves five again.
            ("two wrong PINs, then cancel",
             [("pin", "000000"), ("info", 5), ("pin", "111111"), ("info", 4), ("cancel", "1")],
             -100),
            # Cancel restores nothing: four tries were left.
            ("cancel keeps the count", [("pin", "222222"), ("info", 3), ("pin", PIN)], 0),
        ]
        expected = signcheck.text_record(XML.encode("utf-8"), KEY_INFO.encode())
        request = {"type": "GMUsbKeySign", "certDN": "CN=Li Si", "hashType": "SM3",
                   "xmlInfo": XML, "keyInfo": KEY_INFO, "filePath": ""}
        # One host serves the cases in order: a case that goes wrong leaves the dialogs out of
        # step with the rest, so the first failure ends the test.
        with nmhost.Host(HOST, env=self.store.env) as host:
            for tab, (name, steps, code) in enumerate(cases, 1):
                host.send(dict(request, tabID=tab))
                for what, value in steps:
                    if what == "info":
                        self.assertIn(str(value), pinpad_driver.acknowledge_info(DRIVER), name)
                    else:
                        with pinpad_driver.PadDriver(value, exe=DRIVER,
                                                     cancel=what == "cancel") as pad:
                            pad.wait()
                replies = [json.loads(host.receive(60))]
                while replies[-1]["IsOver"] == 0:
                    replies.append(json.loads(host.receive(60)))
                self.assertEqual({r["tabID"] for r in replies}, {tab}, name)
                result = signcheck.joined(replies)
                if code:
                    self.assertEqual(result, code, name)
                    continue
                self.assertIsInstance(result, str, name)
                out = os.path.join(self.dir, "case%d" % tab)
                self.assertEqual(signcheck.verified_content(result, self.ca.cert, out), expected,
                                 name)
                self.assertEqual(signcheck.digest_name(out + ".p7"), "sm3", name)
            host.close()
        self.assertEqual(self.store.run("display", SERIAL).strip(), XML)


if __name__ == "__main__":
    HOST, VKEY, DRIVER = sys.argv.pop(1), sys.argv.pop(1), sys.argv.pop(1)
    unittest.main(verbosity=2)
