"""The host's version and log actions under Wine, through its real standard streams, against
the registry and the temporary folder of the run's own prefix."""
import base64
import json
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools", "pylib"))
import nmhost  # noqa: E402

HOST = None
SETTINGS = r"HKLM\Software\Korvanet\507Q2_KOBA"
REGISTRATION = r"HKLM\SOFTWARE\Microsoft\Edge\NativeMessagingHosts\com.google.chrome.koba.kvn"


def wine(*args):
    return subprocess.run([nmhost.WINE_RUN, *args], stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, check=False).stdout


def reg_set(key, value_type, data):
    wine("reg.exe", "add", key, "/v", "version", "/t", value_type, "/d", data, "/f")


def reg_delete(key):
    wine("reg.exe", "delete", key, "/v", "version", "/f")


def temp_folder():
    """The prefix user's temporary folder as a Unix path."""
    win_path = wine("cmd.exe", "/c", "echo %TEMP%").decode().strip()
    return wine("winepath.exe", "-u", win_path).decode().strip()


def request(payloads):
    data = b"".join(nmhost.frame(p) for p in payloads)
    replies, _ = nmhost.run_host(HOST, data)
    return [json.loads(r) for r in replies]


def text(action, data, over=1):
    return {"tabID": 0, "IsOver": over, "action": action, "responseType": action,
            "responseData": data}


class VersionActions(unittest.TestCase):
    def tearDown(self):
        reg_delete(SETTINGS)
        reg_delete(REGISTRATION)

    def test_versions(self):
        cases = [
            ("REG_SZ", "1.0.3.7", "1.0.3.7"),
            ("REG_SZ", "9" * 31, "9" * 31),
            ("REG_SZ", "9" * 32, -101),
            ("REG_DWORD", "5", -101),
            (None, None, -101),
        ]
        for action, key in (("GetDriverVersion", SETTINGS), ("GetVersion", REGISTRATION)):
            for value_type, data, expected in cases:
                with self.subTest(action=action, value=data):
                    if value_type is None:
                        reg_delete(key)
                    else:
                        reg_set(key, value_type, data)
                    self.assertEqual(request([{"type": action}]), [text(action, expected)])


class LogAction(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.temp = temp_folder()
        cls.media = "HOSTTEST%d" % os.getpid()
        cls.path = os.path.join(cls.temp, "KVN_" + cls.media)

    def tearDown(self):
        if os.path.exists(self.path):
            os.remove(self.path)

    def write_log(self, data):
        os.makedirs(self.temp, exist_ok=True)
        with open(self.path, "wb") as f:
            f.write(data)

    def ask(self, members):
        return request([dict({"type": "GetLogFileContent"}, **members)])

    def test_records_and_failures(self):
        records = [b'{"requestId":"%d"}\r\n"insert":"t"\r\n' % i for i in range(1, 51)]
        self.write_log(b"".join(records))

        def tail(first):
            return base64.b64encode(b"".join(records[first - 1:]).replace(b"\r\n", b"\n")).decode()

        cases = [
            ({"MediaID": self.media, "LineNum": 5}, tail(46)),
            ({"MediaID": self.media, "LineNum": 0}, tail(31)),
            ({"MediaID": self.media, "LineNum": 100}, tail(11)),
            ({"MediaID": self.media, "LineNum": 2.9}, tail(49)),
            ({"MediaID": self.media}, -106),
            ({"MediaID": self.media, "LineNum": "5"}, -106),
            ({"MediaID": 7, "LineNum": 5}, -106),
            ({"LineNum": 5}, -106),
            ({"MediaID": "NOSUCHKEY", "LineNum": 5}, -300),
            ({"MediaID": "..\\..\\..\\windows\\win.ini", "LineNum": 5}, -300),
            ({"MediaID": self.media + "\u0000x", "LineNum": 5}, -300),
        ]
        for members, expected in cases:
            with self.subTest(members=members):
                self.assertEqual(self.ask(members), [text("GetLogFileContent", expected)])

    def test_long_log_is_chunked(self):
        # No request records: the whole file, well over one chunk once encoded.
        line = b'"insert":"' + b"x" * 4000 + b'"\r\n'
        self.write_log(line * 300)
        replies = self.ask({"MediaID": self.media, "LineNum": 5})
        self.assertGreater(len(replies), 1)
        self.assertEqual([r["IsOver"] for r in replies], [0] * (len(replies) - 1) + [1])
        joined = "".join(r["responseData"] for r in replies)
        self.assertEqual(base64.b64decode(joined), (line * 300).replace(b"\r\n", b"\n"))


if __name__ == "__main__":
    HOST = sys.argv.pop(1)
    unittest.main(verbosity=2)
