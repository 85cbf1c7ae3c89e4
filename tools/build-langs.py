#!/usr/bin/env python3
"""Builds the PIN pad library's language files from their readable sources.

build-langs.py SRC_DIR KEY_FILE OUT_DIR BUILTIN_CPP

SRC_DIR holds one UTF-8 INI source per language, named "<language id>.ini", and the language
list source "KVNLang_KOBA.ini". Every language source must carry the same sections and keys as
the English one (1033), each with a non-empty value of at most 260 UTF-16 units and the same
"%s"/"%d" placeholders. Produces in OUT_DIR:
  <id>_enc.ini          the source enciphered with two-key triple DES (ECB, PKCS#5 padding)
  <id>.ini              the same document in UTF-16LE with a byte order mark, which the
                        platform's INI reader understands in every code page
  KVNLang_KOBA_enc.ini  the language list, enciphered the same way
and BUILTIN_CPP with the cipher key and the SHA-1 digests of the enciphered files. The
openssl program named by the environment variable OPENSSL (default: openssl) enciphers.
"""
import configparser
import hashlib
import os
import pathlib
import re
import subprocess
import sys

REFERENCE = 1033
SUPPORTED = [2052, 1028, 1033, 1049, 1036, 1057, 1041, 1031, 1087, 1042, 1025, 1054, 1045, 1043]
LIST_SOURCE = "KVNLang_KOBA.ini"
LIST_LIMIT = 4096
MAX_UNITS = 260
PLACEHOLDER = re.compile(r"%[%sd]")


def fail(message):
    sys.exit(f"build-langs: {message}")


def parse(path):
    parser = configparser.RawConfigParser(interpolation=None, strict=True, delimiters=("=",),
                                          comment_prefixes=(";",))
    parser.optionxform = str
    try:
        with open(path, encoding="utf-8-sig") as f:
            parser.read_file(f)
    except (configparser.Error, UnicodeDecodeError) as e:
        fail(f"{path}: {e}")
    return parser


def units(text):
    return len(text.encode("utf-16-le")) // 2


def check_language(path, doc, ref):
    for section in ref.sections():
        if not doc.has_section(section):
            fail(f"{path}: section [{section}] missing")
        for key, ref_value in ref.items(section):
            if not doc.has_option(section, key):
                fail(f"{path}: [{section}] {key} missing")
            value = doc.get(section, key)
            if not value:
                fail(f"{path}: [{section}] {key} is empty")
            if units(value) > MAX_UNITS:
                fail(f"{path}: [{section}] {key} is longer than {MAX_UNITS} units")
            wanted = [p for p in PLACEHOLDER.findall(ref_value) if p != "%%"]
            found = [p for p in PLACEHOLDER.findall(value) if p != "%%"]
            if wanted != found:
                fail(f"{path}: [{section}] {key} has placeholders {found}, expected {wanted}")
    for section in doc.sections():
        if not ref.has_section(section):
            fail(f"{path}: unknown section [{section}]")
        for key in doc.options(section):
            if not ref.has_option(section, key):
                fail(f"{path}: unknown key [{section}] {key}")


def crlf_bytes(path):
    text = path.read_text(encoding="utf-8-sig")
    return text.replace("\r\n", "\n").replace("\n", "\r\n")


def encipher(data, key_hex):
    openssl = os.environ.get("OPENSSL", "openssl")
    try:
        result = subprocess.run([openssl, "enc", "-des-ede-ecb", "-e", "-nosalt", "-K", key_hex],
                                input=data, capture_output=True, check=False)
    except OSError as e:
        fail(f"{openssl}: {e}")
    if result.returncode != 0:
        fail(f"openssl: {result.stderr.decode(errors='replace').strip()}")
    return result.stdout


def c_bytes(data):
    return "{" + ", ".join(f"0x{b:02x}" for b in data) + "}"


def main():
    if len(sys.argv) != 5:
        fail(__doc__.strip().splitlines()[2])
    src, key_file, out, builtin = (pathlib.Path(a) for a in sys.argv[1:])
    key_hex = key_file.read_text().strip()
    if not re.fullmatch(r"[0-9a-fA-F]{32}", key_hex):
        fail(f"{key_file}: not a 16-byte key in hex")
    out.mkdir(parents=True, exist_ok=True)

    ref = parse(src / f"{REFERENCE}.ini")
    digests = []
    for lang in SUPPORTED:
        path = src / f"{lang}.ini"
        if not path.exists():
            fail(f"{path} missing")
        check_language(path, parse(path), ref)
        text = crlf_bytes(path)
        enc = encipher(text.encode("utf-8"), key_hex)
        (out / f"{lang}_enc.ini").write_bytes(enc)
        (out / f"{lang}.ini").write_bytes(b"\xff\xfe" + text.encode("utf-16-le"))
        digests.append((lang, hashlib.sha1(enc).digest()))

    list_path = src / LIST_SOURCE
    listing = parse(list_path)
    ids = {int(v, 0) for _, v in listing.items("LangID")}
    if ids != set(SUPPORTED):
        fail(f"{list_path}: the list names {sorted(ids)}, not the supported languages")
    list_enc = encipher(crlf_bytes(list_path).encode("utf-8"), key_hex)
    if len(list_enc) > LIST_LIMIT:
        fail(f"{list_path}: enciphered list is larger than {LIST_LIMIT} bytes")
    (out / "KVNLang_KOBA_enc.ini").write_bytes(list_enc)

    rows = "\n".join(f"    {{{lang}, {c_bytes(d)}}}," for lang, d in digests)
    cpp = f"""// Generated by tools/build-langs.py from pinpad/langs: do not edit.
#include "lang_builtin.h"

namespace VKey {{

const unsigned char kLangFileKey[16] = {c_bytes(bytes.fromhex(key_hex))};

const LangFileDigest kLangFileDigests[] = {{
{rows}
}};
const size_t kLangFileDigestCount = {len(digests)};

const unsigned char kLangListDigest[20] = {c_bytes(hashlib.sha1(list_enc).digest())};

}}  // namespace VKey
"""
    builtin.write_bytes(cpp.encode())


if __name__ == "__main__":
    main()
