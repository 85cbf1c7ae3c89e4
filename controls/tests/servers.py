"""The four COM servers as the tests see them: files, identities and registration under Wine."""
import os
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tools", "pylib"))
import vkeyctl  # noqa: E402

WINE_RUN = os.path.join(ROOT, "tools", "wine-run")

# target, file, CLSID, ProgID, version-independent ProgID, AppID, AppID name, LIBID, class name
SERVERS = [
    ("token_control_32", "KOBAGM_KVNUsbKey_32.dll", "{50B20C64-357F-4A51-A5D2-5BF4930F4B3D}",
     "KOBA_KvnGMUsbKey.GMToken_KOBA.1", "KOBA_KvnGMUsbKey.GMToken_KOBA",
     "{B795D001-0BE1-45B9-8253-08DFE8B8CE32}", "KOBA_KvnGMUsbKey",
     "{B3965A55-65E1-4118-87BA-3BC5E94B7AD9}", "GMToken_KOBA Class"),
    ("token_control_64", "KOBAGM_KVNUsbKey_64.dll", "{32348DB2-82FC-4642-8CFA-514DCA7F5B45}",
     "KOBA_KvnGMUsbKey_64.GMToken_KOBA_64.1", "KOBA_KvnGMUsbKey_64.GMToken_KOBA_64",
     "{467BAFDB-B947-4FC7-B1C1-5D6626BA5B2B}", "KOBA_KvnGMUsbKey_64",
     "{F473BD26-0A2C-4139-A0EC-1DFC4D3F6E42}", "GMToken_KOBA_64 Class"),
    ("page_helper_32", "koba_kvnusbkey.dll", "{746E471A-B6E4-44E3-8F3C-2A09B3A030B4}",
     "koba_kvnusbkey.Token.1", "koba_kvnusbkey.Token",
     "{4A905F7F-8C69-44AF-8169-377177C64DEC}", "koba_kvnusbkey",
     "{8ACA2263-1B7A-4244-B516-E92FFE081C47}", "Token Class"),
    ("page_helper_64", "koba_kvnusbkey64.dll", "{0266A29B-993F-4FF0-889B-B652949BB572}",
     "koba_kvnusbkey64.TokenUsb64.1", "koba_kvnusbkey64.TokenUsb64",
     "{4C1D1B13-732F-4B8E-973B-EFA05384047D}", "koba_kvnusbkey64",
     "{583FE94A-4574-4C3C-81AF-E6A4B1D3BFA6}", "TokenUsb64 Class"),
]


def wine(*args, env=None, timeout=120):
    """Runs a Windows program; returns (exit code, output text)."""
    with tempfile.TemporaryFile() as out:
        p = subprocess.run([WINE_RUN, *args], stdout=out, stderr=subprocess.STDOUT,
                           stdin=subprocess.DEVNULL, env=env, timeout=timeout)
        out.seek(0)
        return p.returncode, out.read().decode("utf-8", "replace")


def dll(controls_dir, server):
    return vkeyctl.winpath(os.path.join(controls_dir, server[1]))


def register(controls_dir, server, undo=False):
    code, out = wine("regsvr32", "/s", *(["/u"] if undo else []), dll(controls_dir, server))
    if code != 0:
        raise AssertionError("regsvr32 %s%s: %d %s" % ("/u " if undo else "", server[1], code, out))


def query(key):
    """The values under HKCR\\key and its subkeys as {(subkey, value name): data}, or None."""
    code, out = wine("reg", "query", "HKCR\\" + key, "/s")
    if code != 0:
        return None
    values, current = {}, None
    for line in out.splitlines():
        if line.startswith("HKEY_CLASSES_ROOT\\"):
            current = line[len("HKEY_CLASSES_ROOT\\"):]
            values.setdefault((current, None), None)
        elif line.startswith("    ") and current is not None:
            parts = line.strip().split("    ")
            name = "" if parts[0] == "(Default)" else parts[0]
            values[(current, name)] = parts[2] if len(parts) > 2 else ""
    return values


def expected_keys(server, module):
    """Every key and value the Parts name for a server: {(key, value name): data}; a key that
    holds nothing is (key, None): None."""
    _, _, clsid, progid, vi, appid, appname, libid, cls = server
    c = "CLSID\\" + clsid
    return {
        ("AppID\\" + appid, ""): appname,
        ("AppID\\%s.DLL" % appname, "AppID"): appid,
        (progid, ""): cls, (progid + "\\CLSID", ""): clsid,
        (vi, ""): cls, (vi + "\\CLSID", ""): clsid, (vi + "\\CurVer", ""): progid,
        (c, ""): cls, (c, "AppID"): appid, (c + "\\ProgID", ""): progid,
        (c + "\\VersionIndependentProgID", ""): vi, (c + "\\Programmable", None): None,
        (c + "\\InprocServer32", ""): module, (c + "\\InprocServer32", "ThreadingModel"): "Apartment",
        (c + "\\TypeLib", ""): libid,
    }


def top_keys(server):
    _, _, clsid, progid, vi, appid, appname, libid, _ = server
    return ["CLSID\\" + clsid, progid, vi, "AppID\\" + appid, "AppID\\%s.DLL" % appname,
            "TypeLib\\" + libid]
