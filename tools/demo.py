"""The demonstration: installs the system into a fresh Wine prefix and drives it as a bank page
does, printing what goes over the wire. Run through `make demo`."""
import json
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "pylib"))
import install  # noqa: E402
import nmhost  # noqa: E402

ROOT = nmhost.ROOT
BUILD = os.path.join(ROOT, "build", "win64")
OUT = os.path.join(ROOT, "build", "demo")
HOST_EXE = "koba.chrome.KVN.NativeHost.exe"


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
    steps = [
        ("Is the extension's host there?", {"type": "IsExtensionOK", "tabID": 1}),
        ("An action this host does not offer", {"type": "GetSomethingElse", "tabID": 2}),
        ("A request without a type", {"tabID": 3}),
        ("Not JSON at all", "this is not json"),
    ]
    with open(os.path.join(OUT, "transcript.txt"), "w") as transcript, \
            nmhost.Host(host) as session:
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
