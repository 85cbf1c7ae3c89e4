"""The host program under Wine, through its real standard streams: frames in, frames out,
exit status."""
import json
import os
import struct
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools", "pylib"))
import nmhost  # noqa: E402

HOST = None
EXIT_MINUS_ONE = 255  # exit(-1) as Wine reports it to the Linux parent

INVALID = ('{"tabID": 0,"IsOver": 1,"action": "invalid action",'
           '"error":"NativeExe: can not find \\"type\\" in params"}').encode()
OK = ('{"tabID": %d,"IsOver": 1,"action": "IsExtensionOK",'
      '"responseType": "IsExtensionOK","responseData": 0}')


def ok(tab=0):
    return (OK % tab).encode()


class HostStdio(unittest.TestCase):
    def check(self, data, replies):
        got, status = nmhost.run_host(HOST, data)
        self.assertEqual(got, replies)
        self.assertEqual(status, EXIT_MINUS_ONE)

    def test_sessions(self):
        f = nmhost.frame
        cases = [
            ("IsExtensionOK", f('{"type":"IsExtensionOK"}'), [ok()]),
            ("zero length ends the host", struct.pack("<i", 0) + f('{"type":"IsExtensionOK"}'), []),
            ("negative length ends the host", struct.pack("<i", -5) + b"{}", []),
            ("no input", b"", []),
            ("not JSON, then on", f("abc") + f('{"type":"IsExtensionOK","tabID":4}'),
             [INVALID, ok(4)]),
            ("trailing value", f("{} {}"), [INVALID]),
            ("scalar and array roots", f("1") + f("true") + f("false") + f("null") + f('["type"]'),
             [INVALID] * 5),
            ("CR LF inside the payload", f(b'{"type":\r\n"IsExtensionOK",\r\n"tabID":10}'),
             [ok(10)]),
            ("truncated payload at the end", struct.pack("<i", 60) + b'{"type":"IsExt', [INVALID]),
            ("partial length at the end", f('{"type":"IsExtensionOK"}') + b"\x10\x00", [ok()]),
            ("embedded NUL ends the text", f(b'{"type":"IsExtensionOK"}\x00junk'), [ok()]),
        ]
        for what, data, replies in cases:
            with self.subTest(what):
                self.check(data, replies)

    def test_exact_first_frame_bytes(self):
        with nmhost.Host(HOST) as host:
            host.send_raw(struct.pack("<I", 0x18) + b'{"type":"IsExtensionOK"}')
            out, status = host.close()
        self.assertEqual(out, struct.pack("<I", len(ok())) + ok())
        self.assertEqual(status, EXIT_MINUS_ONE)

    def test_length_bytes_are_never_translated(self):
        # Reply lengths whose low byte is 0x0A or 0x0D, the bytes a text-mode stream would
        # expand. The not-supported reply carries the name twice around a fixed skeleton; a
        # two-digit tab number adds one byte.
        skeleton = len('{"tabID": 0,"IsOver": 1,"action": "","responseType": "",'
                       '"error":"NativeExe: not supported function","responseData": -411}')
        for target in (0x10A, 0x10D):
            tab = 0 if (target - skeleton) % 2 == 0 else 10
            name_len = (target - skeleton - len(str(tab)) + 1) // 2
            got, _ = nmhost.run_host(HOST, nmhost.frame({"type": "N" * name_len, "tabID": tab}))
            self.assertEqual([len(r) for r in got], [target])

    def test_replies_arrive_while_input_stays_open(self):
        with nmhost.Host(HOST) as host:
            for tab in (1, 2, 3):
                self.assertEqual(host.request({"type": "IsExtensionOK", "tabID": tab}),
                                 json.loads(ok(tab)))
            out, status = host.close()
            self.assertEqual((out, status), (b"", EXIT_MINUS_ONE))

    def test_oversized_frame_keeps_the_stream_in_step(self):
        big = 64 * 1024 * 1024 + 1
        data = struct.pack("<I", big) + b" " * big + nmhost.frame('{"type":"IsExtensionOK"}')
        self.check(data, [INVALID, ok()])

    def test_hostile_frames_are_refused_within_a_memory_bound(self):
        # The largest frames the host reads, shaped to make a parser build tens of millions of
        # values. Each is refused, the next request is served, and the process never holds
        # more than twice the frame (the parse alone used to take over 20 times).
        size = 64 * 1024 * 1024
        count = (size - 2) // 2
        cases = [
            ("nested arrays", b"[" * (size // 2) + b"]" * (size // 2)),
            ("tiny elements", b"[" + b"0," * (count - 1) + b"0]"),
        ]
        for what, payload in cases:
            with self.subTest(what), nmhost.Host(HOST) as host:
                host.send_raw(nmhost.frame(payload) + nmhost.frame('{"type":"IsExtensionOK"}'))
                self.assertEqual(host.receive(120), INVALID)
                self.assertEqual(host.receive(), ok())
                self.assertLess(host.peak_memory(), 2 * size)
                self.assertEqual(host.close(), (b"", EXIT_MINUS_ONE))

    def test_large_valid_request(self):
        payload = json.dumps({"type": "IsExtensionOK", "tabID": 9, "pad": "x" * (8 << 20)})
        self.check(nmhost.frame(payload), [ok(9)])


if __name__ == "__main__":
    HOST = sys.argv.pop(1)
    unittest.main(verbosity=2)
