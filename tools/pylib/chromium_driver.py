"""Drives a native-messaging host from Debian's Chromium, the way a bank page's extension does.

Chromium runs headless with the test extension of tests/chromium/extension in a fresh profile
whose host manifest points at a wrapper that runs the host under Wine. The extension fetches the
requests from a small HTTP server on loopback, sends them over one connectNative port and posts
every reply back. Command line:

    tools/chromium-drive HOST.exe REQUESTS.jsonl   # prints one JSON line of replies per request
"""
import base64
import hashlib
import http.server
import json
import os
import shutil
import signal
import subprocess
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
EXTENSION = os.path.join(ROOT, "tests", "chromium", "extension")
WINE_RUN = os.path.join(ROOT, "tools", "wine-run")
HOST_NAME = "com.google.chrome.koba.kvn"
CHROMIUM = "/usr/lib/chromium/chromium"


def extension_id(manifest_path=os.path.join(EXTENSION, "manifest.json")):
    """The id Chromium gives the extension: sha256 of its key, first 32 hex digits as a-p."""
    with open(manifest_path) as f:
        key = base64.b64decode(json.load(f)["key"])
    digest = hashlib.sha256(key).hexdigest()[:32]
    return "".join(chr(ord("a") + int(c, 16)) for c in digest)


class _Driver(http.server.BaseHTTPRequestHandler):
    requests = []
    result = None
    done = None

    def log_message(self, *args):
        pass

    def do_GET(self):
        body = json.dumps(self.requests).encode()
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_POST(self):
        n = int(self.headers.get("Content-Length", 0))
        type(self).result = json.loads(self.rfile.read(n))
        self.send_response(204)
        self.end_headers()
        self.done.set()


def _logs(work):
    """The ends of Chromium's log and of the host's (its standard error and exit status)."""
    text = []
    for name in ("chromium.log", "host.log"):
        try:
            with open(os.path.join(work, name), errors="replace") as f:
                text.append("%s:\n%s" % (name, f.read()[-3000:]))
        except FileNotFoundError:
            text.append("%s: none" % name)
    return "\n".join(text)


def drive(host_exe, requests, timeout=120, env=None):
    """Sends `requests` (a list of JSON values) through Chromium to the host.

    Returns {"results": [[reply, ...] per request], "disconnect": text or None}.
    """
    work = tempfile.mkdtemp(prefix="koba-chromium-")
    handler = type("Driver", (_Driver,), {"requests": requests, "done": threading.Event()})
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    browser = None
    try:
        ext = os.path.join(work, "extension")
        shutil.copytree(EXTENSION, ext)
        with open(os.path.join(ext, "config.js"), "w") as f:
            f.write("const DRIVER_URL = 'http://127.0.0.1:%d';\n" % server.server_address[1])
            f.write("const HOST_NAME = '%s';\n" % HOST_NAME)

        # The wrapper stays the host's parent and notes how the host ended, so that a port
        # the host closed early can be told apart from one the browser closed.
        wrapper = os.path.join(work, "host.sh")
        host_log = os.path.join(work, "host.log")
        with open(wrapper, "w") as f:
            f.write('#!/bin/sh\n"%s" "%s" "$@" 2>>"%s"\necho "host exit status $?" >>"%s"\n'
                    % (WINE_RUN, os.path.abspath(host_exe), host_log, host_log))
        os.chmod(wrapper, 0o755)

        profile = os.path.join(work, "profile")
        hosts = os.path.join(profile, "NativeMessagingHosts")
        os.makedirs(hosts)
        with open(os.path.join(hosts, HOST_NAME + ".json"), "w") as f:
            json.dump({"name": HOST_NAME, "description": "KOBA USB key host", "path": wrapper,
                       "type": "stdio",
                       "allowed_origins": ["chrome-extension://%s/" % extension_id()]}, f)

        args = [CHROMIUM, "--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic",
                "--no-first-run", "--disable-background-networking",
                "--disable-component-update", "--disable-sync", "--no-default-browser-check",
                "--user-data-dir=" + profile, "--load-extension=" + ext,
                "--disable-extensions-except=" + ext, "about:blank"]
        log = open(os.path.join(work, "chromium.log"), "w")
        browser = subprocess.Popen(args, stdout=log, stderr=subprocess.STDOUT,
                                   start_new_session=True, env=env)
        if not handler.done.wait(timeout):
            raise TimeoutError("no replies from the extension within %d s\n%s" % (
                timeout, _logs(work)))
        result = handler.result
        if result.get("disconnect"):
            result["disconnect"] += "\n" + _logs(work)
        return result
    finally:
        if browser is not None:
            try:
                os.killpg(browser.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            browser.wait()
        server.shutdown()
        server.server_close()
        shutil.rmtree(work, ignore_errors=True)


def main(argv):
    import sys
    if len(argv) != 3:
        sys.exit("usage: chromium-drive HOST.exe REQUESTS.jsonl")
    with open(argv[2]) as f:
        requests = [json.loads(line) for line in f if line.strip()]
    started = time.time()
    outcome = drive(argv[1], requests)
    for replies in outcome["results"]:
        print(json.dumps(replies, ensure_ascii=False))
    if outcome.get("disconnect"):
        print(json.dumps({"disconnect": outcome["disconnect"]}))
    print("# %d requests in %.1f s" % (len(requests), time.time() - started), file=sys.stderr)


if __name__ == "__main__":
    import sys
    main(sys.argv)
