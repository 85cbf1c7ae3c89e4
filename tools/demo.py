"""The demonstration: installs the system into a fresh Wine prefix and drives it as a bank page
does, printing what goes over the wire. Run through `make demo`."""
import json
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "pylib"))
import install  # noqa: E402
import nmhost  # noqa: E402
import vkeyctl  # noqa: E402

ROOT = nmhost.ROOT
BUILD = os.path.join(ROOT, "build", "win64")
OUT = os.path.join(ROOT, "build", "demo")
HOST_EXE = "koba.chrome.KVN.NativeHost.exe"
SERIAL = "KOBA0000DEMO0001"
SUBJECT = "/C=CN/O=Koba Bank/OU=Retail/CN=Zhang San"


def lay_out_key():
    """A virtual user key with an RSA-2048 signature key whose certificate the bank's test CA
    issued; returns the store whose environment the host runs with."""
    store = vkeyctl.Store(os.path.join(BUILD, "vkey", "vkey.exe"), OUT)
    ca = vkeyctl.TestCA(OUT)
    store.run("create", SERIAL)
    store.run("genkey", SERIAL, "sign", "rsa2048", "--spec", "2", "--kind", "1")
    request = os.path.join(OUT, "request.der")
    store.run("request", SERIAL, "sign", "2", "Zhang San", vkeyctl.winpath(request))
    pem = request + ".pem"
    subprocess.run(["openssl", "req", "-inform", "DER", "-in", request, "-out", pem], check=True)
    cert = os.path.join(OUT, "user.crt")
    subprocess.run(["openssl", "x509", "-req", "-in", pem, "-CA", ca.cert, "-CAkey", ca.key,
                    "-set_serial", "4097", "-days", "30", "-subj", SUBJECT, "-out", cert],
                   check=True, capture_output=True)
    store.run("import-cert", SERIAL, vkeyctl.winpath(cert), "--kind", "1")
    return store


def show(transcript, title, request, replies):
    lines = ["> %s" % title, "  request: %s" % request]
    for reply in replies:
        n = len(reply)
        prefix = " ".join("%02x" % b for b in n.to_bytes(4, "little"))
        lines.append("  reply frame [%s] %s" % (prefix, reply.decode("utf-8")))
    text = "\n".join(lines)
    print(text)
    transcript.write(text + "\n")


def main():
    os.makedirs(OUT, exist_ok=True)
    folder = install.install(BUILD)
    host = os.path.join(folder, HOST_EXE)
    print("Installed the system into %s (prefix %s)\n" % (
        "C:\\" + "\\".join(install.INSTALL_DIR), os.environ["WINEPREFIX"]))
    store = lay_out_key()
    print("Inserted a virtual key %s with a certificate for %s\n" % (SERIAL, SUBJECT))
    steps = [
        ("Is the extension's host there?", {"type": "IsExtensionOK", "tabID": 1}),
        ("Which key is inserted?", {"type": "GetMediaID", "tabID": 2}),
        ("Its certificates", {"type": "GMGetCertDN", "tabID": 3}),
        ("Its public keys that have a certificate",
         {"type": "GMGetPublicKey", "keyType": "CertPubKey", "tabID": 4}),
        ("An action this host does not offer", {"type": "GetSomethingElse", "tabID": 5}),
        ("A request without a type", {"tabID": 6}),
        ("Not JSON at all", "this is not json"),
    ]
    with open(os.path.join(OUT, "transcript.txt"), "w") as transcript, \
            nmhost.Host(host, env=store.env) as session:
        for title, request in steps:
            session.send(request)
            show(transcript, title, json.dumps(request) if isinstance(request, dict)
                 else repr(request), [session.receive()])
        _, status = session.close()
        signed = status - 256 if status > 127 else status
        ended = "Input closed: the host ended with exit status %d." % signed
        print(ended)
        transcript.write(ended + "\n")
    print("\nTranscript: %s" % os.path.relpath(os.path.join(OUT, "transcript.txt"), ROOT))


if __name__ == "__main__":
    main()
