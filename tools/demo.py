"""The demonstration: installs the system into a fresh Wine prefix and drives it as a bank page
does, printing what goes over the wire; enrols a new certificate for the key (the bank being an
OpenSSL test CA), then signs a transfer with it, with the PIN typed on the PIN pad's on-screen
keyboard each time, and has OpenSSL check the signature. Run through `make demo`."""
import base64
import json
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "pylib"))
import install  # noqa: E402
import nmhost  # noqa: E402
import pinpad_driver  # noqa: E402
import signcheck  # noqa: E402
import vkeyctl  # noqa: E402

ROOT = nmhost.ROOT
BUILD = os.path.join(ROOT, "build", "win64")
OUT = os.path.join(ROOT, "build", "demo")
HOST_EXE = "koba.chrome.KVN.NativeHost.exe"
SERIAL = "KOBA0000DEMO0001"
SUBJECT = "/C=CN/O=Koba Bank/OU=Retail/CN=Zhang San"
PIN = "123456"
TRANSFER = ("<Transfer><From>6222 0210 0000 1234 (Zhang San)</From>"
            "<To>6222 0210 0000 5678 (\u674e\u56db Li Si)</To>"
            "<Amount>12,800.00</Amount><Currency>CNY</Currency>"
            "<Purpose>Rent for December</Purpose></Transfer>")
KEY_INFO = "KOBA-DEMO-TX-0001"


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
    return store, ca


def show(transcript, title, request, replies):
    lines = ["> %s" % title, "  request: %s" % request]
    for reply in replies:
        n = len(reply)
        prefix = " ".join("%02x" % b for b in n.to_bytes(4, "little"))
        lines.append("  reply frame [%s] %s" % (prefix, reply.decode("utf-8")))
    text = "\n".join(lines)
    print(text)
    transcript.write(text + "\n")


def short(reply, limit=160):
    text = reply.decode("utf-8")
    if len(text) <= limit:
        return text
    return "%s ... (%d bytes)" % (text[:limit], len(text))


def exchange(session, transcript, title, request):
    """One request and its reply, shown shortened; returns the responseData."""
    session.send(request)
    reply = session.receive(120)
    lines = ["> " + title, "  request: %s" % short(json.dumps(request).encode()),
             "  reply frame %s" % short(reply)]
    print("\n".join(lines))
    transcript.write("\n".join(lines) + "\n")
    return json.loads(reply)["responseData"]


def enrol(session, transcript, store, ca):
    """A new certificate for the key: GMCreatePKCS10 with the PIN typed on the keyboard, the
    request checked and certified by the test CA, its PKCS#7 reply written back with
    GMWritePKCS7; returns the summary lines."""
    info = "DN(CN=Zhang San,O=Koba Bank)HASH(SHA256)KEYTYPE(RSA2048)CERTTYPE(01)"
    request = {"type": "GMCreatePKCS10", "tabID": 7, "info": info}
    dialog_png = os.path.join(OUT, "enrol-pin-dialog.png")
    with pinpad_driver.PadDriver(PIN, pause=True, timeout=30) as pad:
        session.send(request)
        try:
            box = pad.typed()
        except pinpad_driver.DriverError as e:
            raise SystemExit("No PIN entry: %s\nThe host answered: %s" % (
                e, session.receive(5).decode("utf-8", "replace")))
        pinpad_driver.screenshot(dialog_png, box)
        pad.press("enter")
        pad.wait()
    reply = session.receive(120)
    lines = ["> Enrol a new certificate (key pair made on the key, the PIN typed on the "
             "keyboard)", "  request: %s" % json.dumps(request), "  reply frame %s" % short(reply)]
    print("\n".join(lines))
    transcript.write("\n".join(lines) + "\n")
    text = json.loads(reply)["responseData"]
    if not isinstance(text, str):
        raise SystemExit("GMCreatePKCS10 failed with result code %d" % text)
    der = os.path.join(OUT, "enrol-request.der")
    with open(der, "wb") as f:
        f.write(base64.b64decode(text))
    checked = subprocess.run(["openssl", "req", "-verify", "-inform", "DER", "-in", der,
                              "-noout", "-subject"], capture_output=True, text=True)
    if checked.returncode != 0:
        raise SystemExit("OpenSSL refused the request: " + checked.stderr)
    cert = ca.issue(der, os.path.join(OUT, "enrolled.crt"))
    with open(ca.reply(cert, os.path.join(OUT, "enrol-reply.p7")), "rb") as f:
        p7 = base64.b64encode(f.read()).decode()
    written = exchange(session, transcript, "Write the CA's PKCS#7 reply to the key",
                       {"type": "GMWritePKCS7", "tabID": 9, "p7": p7})
    if written != 0:
        raise SystemExit("GMWritePKCS7 failed with result code %d" % written)
    listed = exchange(session, transcript, "The key's certificates now",
                      {"type": "GMGetPKCS7", "tabID": 10})
    return [
        "Request:       PKCS#10 for %s, RSA-2048, accepted by openssl req -verify (%s)"
        % (checked.stdout.strip(), os.path.relpath(der, ROOT)),
        "PIN entry:     typed on the on-screen keyboard (%s)" % os.path.relpath(dialog_png, ROOT),
        "Certificate:   issued by the test CA, written back as PKCS#7; the key now holds %d "
        "certificate(s), the older one of the same name is gone" % len(listed.split("||")),
    ]


def sign_transfer(session, transcript, store, ca):
    """GMUsbKeySign with the PIN typed on the dialog's keyboard; returns the summary lines."""
    request = {"type": "GMUsbKeySign", "tabID": 8, "certDN": "CN=Zhang San",
               "hashType": "SHA256", "xmlInfo": TRANSFER, "keyInfo": KEY_INFO, "filePath": ""}
    dialog_png = os.path.join(OUT, "pin-dialog.png")
    screen_png = os.path.join(OUT, "screen-pin-entry.png")
    with pinpad_driver.PadDriver(PIN, pause=True, timeout=30) as pad:
        session.send(request)
        try:
            box = pad.typed()
        except pinpad_driver.DriverError as e:
            raise SystemExit("No PIN entry: %s\nThe host answered: %s" % (
                e, session.receive(5).decode("utf-8", "replace")))
        pinpad_driver.screenshot(dialog_png, box)
        pinpad_driver.screenshot(screen_png)
        pad.press("enter")
        pad.wait()
    replies = [session.receive(120)]
    while json.loads(replies[-1])["IsOver"] == 0:
        replies.append(session.receive(120))
    lines = ["> Sign a transfer (the PIN is typed on the PIN pad's on-screen keyboard)",
             "  request: %s" % json.dumps(request, ensure_ascii=False)]
    lines += ["  reply frame %s" % short(r) for r in replies]
    print("\n".join(lines))
    transcript.write("\n".join(lines) + "\n")

    result = signcheck.joined([json.loads(r) for r in replies])
    if not isinstance(result, str):
        raise SystemExit("Signing failed with result code %d" % result)
    record = signcheck.text_record(TRANSFER.encode("utf-8"), KEY_INFO.encode())
    with open(os.path.join(OUT, "signing-record.bin"), "wb") as f:
        f.write(record)
    content = signcheck.verified_content(result, ca.cert, os.path.join(OUT, "signature"))
    if content != record:
        raise SystemExit("The signed content differs from the signing record")
    p7 = os.path.join(OUT, "signature.p7")
    signer = subprocess.run(["openssl", "pkcs7", "-inform", "DER", "-in", p7, "-print_certs",
                             "-noout"], capture_output=True, text=True, check=True).stdout
    subject = next((line.split("=", 1)[1].strip() for line in signer.splitlines()
                    if line.startswith("subject")), "?")
    return [
        "Transaction:   %s" % TRANSFER,
        "Key displayed: %s" % store.run("display", SERIAL).strip(),
        "PIN entry:     typed on the on-screen keyboard, Enter pressed (%s, %s)"
        % (os.path.relpath(dialog_png, ROOT), os.path.relpath(screen_png, ROOT)),
        "Device side:   the virtual key confirms on its own; no confirmation window was shown",
        "Signature:     PKCS#7 signed data, %d bytes, %s, signer %s (%s)"
        % (os.path.getsize(p7), signcheck.digest_name(p7).upper(), subject,
           os.path.relpath(p7, ROOT)),
        "OpenSSL:       signature and certificate chain to the test CA verified",
        "Content:       equal, byte for byte, to the %d-byte signing record (%s)"
        % (len(record), os.path.relpath(os.path.join(OUT, "signing-record.bin"), ROOT)),
    ]


def main():
    os.makedirs(OUT, exist_ok=True)
    folder = install.install(BUILD)
    pinpad_driver.show_chinese_texts()
    host = os.path.join(folder, HOST_EXE)
    print("Installed the system into %s (prefix %s); the host is registered with Chrome and "
          "Edge as %s\n" % ("C:\\" + "\\".join(install.INSTALL_DIR), os.environ["WINEPREFIX"],
                            install.HOST_NAME))
    store, ca = lay_out_key()
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
        enrolment = enrol(session, transcript, store, ca)
        summary = sign_transfer(session, transcript, store, ca)
        _, status = session.close()
        signed = status - 256 if status > 127 else status
        ended = "Input closed: the host ended with exit status %d." % signed
        print(ended)
        transcript.write(ended + "\n")
    print("\nEnrolment summary\n  " + "\n  ".join(enrolment))
    print("\nSigning summary\n  " + "\n  ".join(summary))
    print("\nTranscript: %s" % os.path.relpath(os.path.join(OUT, "transcript.txt"), ROOT))


if __name__ == "__main__":
    main()
