"""Lays out virtual USB keys for tests and demonstrations: runs the `vkey` tool under Wine on a
store folder of the caller's own, and acts as the bank's test CA with OpenSSL.

    store = vkeyctl.Store(vkey_exe, tmpdir)   # KOBA_VKEY_STORE points at tmpdir/store
    store.run("create", "AB12")
    ca = vkeyctl.TestCA(tmpdir)
    cert = ca.issue(request_der_path, days=30)
"""
import os
import subprocess
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WINE_RUN = os.path.join(ROOT, "tools", "wine-run")
SM2_ID = "distid:1234567812345678"


def winpath(path):
    """The Wine name of a Linux path (drive Z: maps the Linux root)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Store:
    def __init__(self, vkey_exe, folder):
        self.vkey = vkey_exe
        self.folder = os.path.join(folder, "store")
        os.makedirs(self.folder, exist_ok=True)
        self.env = dict(os.environ, KOBA_VKEY_STORE=winpath(self.folder), KOBA_VKEY_POLL_MS="20")

    def use_for_devices(self):
        """Makes this store the prefix's machine store, which the virtual key bus driver (when
        installed by install-vkey.sh) follows: its present keys show as USB devices."""
        self.run("use-store", winpath(self.folder))

    def run(self, *args, check=True):
        """Runs vkey.exe with args; returns stdout text."""
        p = self.program(self.vkey, *args)
        if check and p.returncode != 0:
            raise RuntimeError("vkey %s: %s" % (" ".join(args), p.stderr.strip()))
        return p.stdout

    def program(self, exe, *args, timeout=120):
        """Runs a Windows program on this store; returns a CompletedProcess with text output.
        Output goes through files: Wine's background processes may inherit pipes and keep
        them open."""
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            p = subprocess.run([WINE_RUN, exe, *args], env=self.env, stdout=out, stderr=err,
                               stdin=subprocess.DEVNULL, timeout=timeout)
            out.seek(0)
            err.seek(0)
            return subprocess.CompletedProcess(p.args, p.returncode,
                                               out.read().decode("utf-8", "replace"),
                                               err.read().decode("utf-8", "replace"))


class TestCA:
    """An RSA test CA; `issue` signs PKCS#10 requests (RSA or SM2) with chosen validity."""

    def __init__(self, folder):
        self.dir = os.path.join(folder, "ca")
        os.makedirs(os.path.join(self.dir, "new"), exist_ok=True)
        self.key = os.path.join(self.dir, "ca.key")
        self.cert = os.path.join(self.dir, "ca.pem")
        open(os.path.join(self.dir, "index.txt"), "w").close()
        with open(os.path.join(self.dir, "serial"), "w") as f:
            f.write("1000\n")
        self.conf = os.path.join(self.dir, "ca.cnf")
        with open(self.conf, "w") as f:
            f.write("[ca]\ndefault_ca=test\n[test]\ndir=%s\ndatabase=$dir/index.txt\n"
                    "new_certs_dir=$dir/new\nserial=$dir/serial\ndefault_md=sha256\n"
                    "policy=any\nunique_subject=no\ncopy_extensions=none\n"
                    "[any]\ncommonName=supplied\n" % self.dir)
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                        self.key, "-out", self.cert, "-subj", "/CN=Koba Test CA/O=Koba Bank",
                        "-days", "30"], check=True, capture_output=True)

    def issue(self, request_der, out_pem, start=None, end=None, days=30):
        """Signs a DER request; start/end as YYYYMMDDHHMMSSZ give a chosen validity."""
        pem = request_der + ".pem"
        sm2 = b"SM2" in subprocess.run(["openssl", "req", "-inform", "DER", "-in", request_der,
                                        "-noout", "-text"], capture_output=True).stdout
        subprocess.run(["openssl", "req", "-inform", "DER", "-in", request_der, "-out", pem],
                       check=True, capture_output=True)
        args = ["openssl", "ca", "-batch", "-config", self.conf, "-cert", self.cert, "-keyfile",
                self.key, "-in", pem, "-out", out_pem, "-notext"]
        args += ["-startdate", start, "-enddate", end] if start else ["-days", str(days)]
        if sm2:
            args += ["-vfyopt", SM2_ID]
        subprocess.run(args, check=True, capture_output=True)
        return out_pem

    def reply(self, cert_pem, out_der):
        """The CA's reply: a certificates-only PKCS#7 (DER)."""
        subprocess.run(["openssl", "crl2pkcs7", "-nocrl", "-certfile", cert_pem, "-outform",
                        "DER", "-out", out_der], check=True, capture_output=True)
        return out_der
