"""The host as Chromium runs it: a real extension talks to it over one connectNative port."""
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools", "pylib"))
import chromium_driver  # noqa: E402

HOST = None
ODD_NAME = 'q"b\\s\u0001\u00e9\u4e2d\U0001F511'


class HostThroughChromium(unittest.TestCase):
    def test_dispatcher_replies_over_one_port(self):
        requests = [
            {"type": "IsExtensionOK", "tabID": 1},
            {"type": "NoSuchAction", "tabID": 7},
            {"tabID": 3},
            {"type": 5},
            {"type": ODD_NAME, "tabID": 2},
            {"type": "IsExtensionOK", "tabID": 4},
        ]
        outcome = chromium_driver.drive(HOST, requests)
        self.assertIsNone(outcome["disconnect"])
        self.assertEqual(outcome["results"], [
            [{"tabID": 1, "IsOver": 1, "action": "IsExtensionOK",
              "responseType": "IsExtensionOK", "responseData": 0}],
            [{"tabID": 7, "IsOver": 1, "action": "NoSuchAction", "responseType": "NoSuchAction",
              "error": "NativeExe: not supported function", "responseData": -411}],
            [{"tabID": 3, "IsOver": 1, "action": "invalid action",
              "error": 'NativeExe: can not find "type" in params'}],
            [{"tabID": 0, "IsOver": 1, "action": "invalid action",
              "error": 'NativeExe: can not find "type" in params'}],
            # Quotation marks, backslashes, control and non-ASCII characters in a name come
            # back intact: the reply is JSON that Chromium accepts.
            [{"tabID": 2, "IsOver": 1, "action": ODD_NAME, "responseType": ODD_NAME,
              "error": "NativeExe: not supported function", "responseData": -411}],
            [{"tabID": 4, "IsOver": 1, "action": "IsExtensionOK",
              "responseType": "IsExtensionOK", "responseData": 0}],
        ])


if __name__ == "__main__":
    HOST = sys.argv.pop(1)
    unittest.main(verbosity=2)
