"""What a GMUsbKeySign result must be, judged with OpenSSL: the signing record the key signs,
the reassembly of a chunked reply, and the verification of the PKCS#7 message against the test
CA. Also lays out a virtual key whose signing certificate the test CA issued.

Used by the PIN entry test, the Chromium test, the demonstration and the signing benchmark.
"""
import base64
import os
import subprocess

import vkeyctl


def text_record(xml, key_info, file_part=b""):
    """The text form of the signing record (bytes in the key's text encoding)."""
    def item(tag, value):
        return tag + b"%010d" % len(value) + value
    body = item(b"21", xml) + item(b"22", key_info) + item(b"23", file_part)
    return b"11" + b"%010d" % len(body) + body


def file_part(path, content):
    """The file part of the record: lengths, the path as the page gave it, the content's Base64."""
    path = path.encode("utf-8")
    encoded = base64.b64encode(content)
    n, c = len(path), len(encoded)
    return b"%016d%08d%08d" % (n + c + 16, n + c + 8, n) + path + encoded


def certified_key(store, ca, folder, serial, algorithm, subject):
    """A user key holding one signing key pair of `algorithm` (rsa1024, rsa2048, sm2) with a
    certificate for `subject` (OpenSSL form, /O=.../CN=...) issued by `ca`."""
    store.run("create", serial)
    store.run("genkey", serial, "c1", algorithm, "--spec", "2", "--kind", "0")
    request = os.path.join(folder, "%s.der" % serial)
    store.run("request", serial, "c1", "2", "x", vkeyctl.winpath(request))
    subprocess.run(["openssl", "req", "-inform", "DER", "-in", request, "-out", request + ".pem"],
                   check=True, capture_output=True)
    cert = os.path.join(folder, "%s.pem" % serial)
    args = ["openssl", "x509", "-req", "-in", request + ".pem", "-CA", ca.cert, "-CAkey", ca.key,
            "-set_serial", "7", "-days", "30", "-subj", subject, "-out", cert]
    if algorithm == "sm2":
        args += ["-vfyopt", vkeyctl.SM2_ID]
    subprocess.run(args, check=True, capture_output=True)
    store.run("import-cert", serial, vkeyctl.winpath(cert), "--kind", "0")
    return cert


def joined(replies, action="GMUsbKeySign"):
    """The result text of one reply sequence: every frame but the last says IsOver 0, the last
    IsOver 1, all name the action; a number instead of text is returned as it is."""
    if not replies or any(r.get("action") != action for r in replies):
        raise AssertionError("not a %s reply sequence: %r" % (action, replies)[:300])
    if [r["IsOver"] for r in replies] != [0] * (len(replies) - 1) + [1]:
        raise AssertionError("IsOver flags %r" % [r["IsOver"] for r in replies])
    data = [r["responseData"] for r in replies]
    if len(data) == 1 and isinstance(data[0], int):
        return data[0]
    return "".join(data)


def verified_content(p7_base64, ca_cert, out_prefix):
    """Verifies the Base64 PKCS#7 (signature and certificate chain to `ca_cert`) with OpenSSL;
    saves it as out_prefix.p7 (DER) and returns the signed content. Raises on any failure."""
    der = base64.b64decode(p7_base64, validate=True)
    p7, content = out_prefix + ".p7", out_prefix + ".content"
    with open(p7, "wb") as f:
        f.write(der)
    v = subprocess.run(["openssl", "cms", "-verify", "-inform", "DER", "-in", p7, "-CAfile",
                        ca_cert, "-binary", "-out", content], capture_output=True, text=True)
    if v.returncode != 0:
        raise AssertionError("OpenSSL refused the signature: " + v.stderr.strip())
    with open(content, "rb") as f:
        return f.read()


def digest_name(p7_path):
    """The digest algorithm the signer used, as OpenSSL names it (sha256, sm3, ...)."""
    printed = subprocess.run(["openssl", "cms", "-cmsout", "-print", "-inform", "DER", "-in",
                              p7_path], capture_output=True, text=True, check=True).stdout
    names = {"sha1", "sha256", "sha384", "sha512", "sm3"}
    found = {line.split(":", 1)[1].split()[0] for line in printed.splitlines()
             if "algorithm:" in line} & names
    if len(found) != 1:
        raise AssertionError("digest algorithms %r" % found)
    return found.pop()
