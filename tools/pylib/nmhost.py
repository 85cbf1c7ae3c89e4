"""Talks to a native-messaging host program run under Wine: frames in, frames out.

Used by the host's tests, the demonstration and the benchmarks.
"""
import json
import os
import struct
import subprocess
import threading

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WINE_RUN = os.path.join(ROOT, "tools", "wine-run")


def frame(payload):
    """One request frame: the little-endian length, then the payload bytes."""
    if isinstance(payload, (dict, list)):
        payload = json.dumps(payload)
    if isinstance(payload, str):
        payload = payload.encode("utf-8")
    return struct.pack("<I", len(payload)) + payload


def split_frames(data):
    """Splits host output into reply texts; raises ValueError on a torn frame."""
    replies, pos = [], 0
    while pos < len(data):
        if len(data) - pos < 4:
            raise ValueError("partial length prefix at byte %d" % pos)
        (n,) = struct.unpack_from("<I", data, pos)
        pos += 4
        if n > len(data) - pos:
            raise ValueError("frame of %d bytes, %d present" % (n, len(data) - pos))
        replies.append(data[pos:pos + n])
        pos += n
    return replies


class Host:
    """A running host process; `exe` is the Windows program, run through tools/wine-run."""

    def __init__(self, exe, args=(), env=None):
        self.proc = subprocess.Popen([WINE_RUN, exe, *args], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)

    def send(self, payload):
        self.proc.stdin.write(frame(payload))
        self.proc.stdin.flush()

    def peak_memory(self):
        """The host's peak resident memory so far, in bytes: wine-run execs Wine, which runs the
        program in the same process, so its VmHWM is the program's."""
        with open("/proc/%d/status" % self.proc.pid) as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) * 1024
        raise RuntimeError("no VmHWM for process %d" % self.proc.pid)

    def send_raw(self, data):
        self.proc.stdin.write(data)
        self.proc.stdin.flush()

    def _read_exact(self, n):
        buf = b""
        while len(buf) < n:
            chunk = self.proc.stdout.read(n - len(buf))
            if not chunk:
                raise EOFError("host output ended after %d of %d bytes" % (len(buf), n))
            buf += chunk
        return buf

    def receive(self, timeout=30):
        """Reads one reply frame; fails if none arrives within `timeout` seconds."""
        result = {}

        def read():
            try:
                (n,) = struct.unpack("<I", self._read_exact(4))
                result["reply"] = self._read_exact(n)
            except Exception as e:  # handed to the caller below
                result["error"] = e

        t = threading.Thread(target=read, daemon=True)
        t.start()
        t.join(timeout)
        if t.is_alive():
            self.kill()
            raise TimeoutError("no reply within %s s" % timeout)
        if "error" in result:
            raise result["error"]
        return result["reply"]

    def request(self, payload, timeout=30):
        self.send(payload)
        return json.loads(self.receive(timeout))

    def close(self, timeout=30):
        """Closes the host's input; returns (remaining output, exit status)."""
        out, _ = self.proc.communicate(timeout=timeout)
        return out, self.proc.returncode

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.kill()


def run_host(exe, data, timeout=60):
    """Feeds `data` to a fresh host, closes its input; returns (reply texts, exit status)."""
    proc = subprocess.run([WINE_RUN, exe], input=data, stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, timeout=timeout)
    return split_frames(proc.stdout), proc.returncode
