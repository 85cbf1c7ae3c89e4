"""The virtual key bus across a Wine server restart, in a prefix of the test's own (ending the
run's server would end every other test): after install-vkey.sh and a restart the driver is back
by itself and has plugged in exactly the store's present keys."""
import os
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "..", "tools", "pylib"))
import vkeyctl  # noqa: E402

BUILD = None
WINESERVER = "/usr/lib/wine/wineserver64"


class BusRestart(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="vkeybus-restart-")
        self.env = dict(os.environ, WINEPREFIX=os.path.join(self.tmp.name, "prefix"))
        self.env.pop("KOBA_WINE_READY", None)
        self.env.pop("DISPLAY", None)

    def tearDown(self):
        subprocess.run([WINESERVER, "-k"], env=self.env)
        subprocess.run([WINESERVER, "-w"], env=self.env)
        self.tmp.cleanup()

    def devices(self, store, want):
        """Polls `vkey devices` until it prints `want`; returns the last output."""
        deadline = time.monotonic() + 60
        while True:
            p = store.program(store.vkey, "devices")
            if p.stdout.split() == want or time.monotonic() > deadline:
                return p.stdout.split()
            time.sleep(0.1)

    def test_keys_come_back_after_a_server_restart(self):
        p = subprocess.run([os.path.join(vkeyctl.ROOT, "tools", "install-vkey.sh"), BUILD],
                           env=self.env, capture_output=True, text=True, timeout=300)
        self.assertEqual(p.returncode, 0, p.stderr)
        store = vkeyctl.Store(os.path.join(BUILD, "vkey", "vkey.exe"), self.tmp.name)
        store.env.update(WINEPREFIX=self.env["WINEPREFIX"])
        store.env.pop("KOBA_WINE_READY", None)
        for serial in ("BACK0001", "GONE0001", "BACK0002"):
            store.run("create", serial)
        store.run("remove", "GONE0001")
        store.use_for_devices()
        want = ["BACK0001", "5070", "BACK0002", "5070"]
        self.assertEqual(self.devices(store, want), want)

        subprocess.run([WINESERVER, "-k"], env=self.env, check=True)
        subprocess.run([WINESERVER, "-w"], env=self.env, check=True)
        self.assertEqual(self.devices(store, want), want)
        store.run("remove", "BACK0001")
        self.assertEqual(self.devices(store, want[2:]), want[2:])


if __name__ == "__main__":
    BUILD = sys.argv.pop(1)
    unittest.main()
