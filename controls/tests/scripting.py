"""Runs a control's JScript table through cscript on a virtual-key store and reads its lines."""
import os
import subprocess
import tempfile
import time
import urllib.parse

import servers
import pinpad_driver  # noqa: E402  (tools/pylib, put on the path by servers)
import vkeyctl

HERE = os.path.dirname(os.path.abspath(__file__))


class Script:
    """One cscript run of `script` (in this folder) for `progid` and `mode`; params are handed
    over as name=value arguments. `pins` PIN entries are made on the PIN dialogs it opens."""

    def __init__(self, store, script, progid, mode, pins=(), timeout=180, **params):
        args = [servers.WINE_RUN, "cscript", "//nologo", vkeyctl.winpath(os.path.join(HERE, script)),
                progid, mode] + ["%s=%s" % kv for kv in params.items()]
        self.out = tempfile.TemporaryFile()
        proc = subprocess.Popen(args, stdout=self.out, stderr=subprocess.STDOUT,
                                stdin=subprocess.DEVNULL, env=store.env)
        timed_out = False
        try:
            for pin in pins:
                with pinpad_driver.PadDriver(pin) as pad:
                    pad.wait()
            self.code = proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            timed_out = True
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
        self.out.seek(0)
        self.text = self.out.read().decode("utf-8", "replace")
        if timed_out:
            # The rows written so far name the call that did not return.
            raise AssertionError("%s %s did not end within %d s; its output:\n%s"
                                 % (script, mode, timeout, self.text[-3000:]))
        self.rows = {}
        self.order = []
        for line in self.text.splitlines():
            parts = line.split("\t")
            if len(parts) != 5:
                continue
            name, number, last, description, value = parts
            self.order.append(name)
            self.rows[name] = (int(number), int(last) if last.lstrip("-").isdigit() else last,
                               urllib.parse.unquote(description), urllib.parse.unquote(value))

    def __getitem__(self, name):
        if name not in self.rows:
            raise AssertionError("no row %r in:\n%s" % (name, self.text[-3000:]))
        return self.rows[name]
