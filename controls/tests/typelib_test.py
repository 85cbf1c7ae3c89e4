"""The type libraries of the four servers: the members in DISPID order with their parameters,
the identities, the GBK help texts, and the same content from widl's 32-bit target as from this
build's (the win32 build embeds the former; its DLLs cannot run here)."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import servers  # noqa: E402

HOST = CONTROLS = None

TOKEN_MEMBERS = [
    "LastError", "GetMediaID", "GetPublicKey", "GetPublicKeyC", "GetPublicKeyNum", "GetVersion",
    "GetCSPInfo", "RegisterCert", "CustInitCard", "ChangePin", "GetCharsetList", "SetCharset",
    "GetLanguageList", "SetLanguage", "SetWarningMsg", "UnRegisterCert", "GMCreatePKCS10",
    "GMWritePKCS7", "GMGetAdminKeyInfo", "GMUsbKeySign", "GMGetCertDN", "GMGetPublicKey",
    "GMGetPublicKeyC", "GMDelTempKey", "GetDriverVersion", "GMGetFileName", "GMUsbKeySignFile",
    "GMGetPKCS7", "GMJudgeAndDelOlderDN", "NSChooseFileExt", "GMUsbKeySignFileExt",
    "GetSignFileContent", "NSFileToTokenExt", "ClearSSLState", "GetLogFileContent"]
HELPER_MEMBERS = [
    "LastError", "GetMediaID", "GetPublicKey", "GetPublicKeyC", "GetPublicKeyNum", "GetVersion",
    "GetCSPInfo", "RegisterCert", "CustInitCard", "ChangePin", None, None, "GetCharsetList",
    "SetCharset", "GetLanguageList", "SetLanguage", "SetWarningMsg", "UnRegisterCert",
    "ClearSSLState", "GetLogFileContent"]
# target: interface, coclass, library name, interface IID, members
TABLES = {
    "token_control_32": ("IGMToken_KOBA", "GMToken_KOBA", "KOBA_KvnGMUsbKeyLib",
                         "{B317C732-E39C-4319-8273-ADA8EF02CDA9}", TOKEN_MEMBERS),
    "token_control_64": ("IGMToken_KOBA_64", "GMToken_KOBA_64", "KOBA_KvnGMUsbKey_64Lib",
                         "{36223628-0A8C-4E38-B337-8FC30A61FF55}", TOKEN_MEMBERS),
    "page_helper_32": ("IToken", "Token", "koba_kvnusbkeyLib",
                       "{4B0BEEC0-2831-41D3-9FB5-81E16E4BAE41}", HELPER_MEMBERS),
    "page_helper_64": ("ITokenUsb64", "TokenUsb64", "koba_kvnusbkey64Lib",
                       "{F4D03CB8-E645-40E7-9091-403D1CEBDF5A}", HELPER_MEMBERS),
}
LIBRARY_HELP = {"token_control_32": "KOBA_KvnGMUsbKey 1.0 typelib",
                "token_control_64": "KOBA_KvnGMUsbKey_64 1.0 typelib",
                "page_helper_32": "koba_kvnusbkey 1.0 typelib",
                "page_helper_64": "koba_kvnusbkey64 1.0 类型库"}


def dump(path):
    code, out = servers.wine(HOST, "--typelib", "Z:" + path.replace("/", "\\"))
    if code != 0:
        raise AssertionError(out)
    return [line for line in out.splitlines() if line.strip()]


class TypeLibraries(unittest.TestCase):
    def test_content(self):
        for server in servers.SERVERS:
            target = server[0]
            interface, coclass, library, iid, members = TABLES[target]
            with self.subTest(target=target):
                tlb = os.path.join(CONTROLS, target, "typelib.tlb")
                lines = dump(tlb)
                self.assertTrue(lines[0].startswith("library %s %s 1.0 " % (library, server[7])),
                                lines[0])
                self.assertEqual(lines[1], "syskind 3")
                starts = [i for i, l in enumerate(lines) if l.startswith("type ")] + [len(lines)]
                blocks = {lines[a].split()[1]: lines[a:b] for a, b in zip(starts, starts[1:])}
                self.assertEqual(sorted(blocks), sorted([interface, coclass]))
                self.assertEqual(blocks[coclass][0].split()[2], server[2])
                self.assertIn("  implements %s flags 1" % interface, blocks[coclass])
                self.assertEqual(blocks[interface][0].split()[2], iid)
                # Dispatch kind 4 with the dual flag 0x40 among its flags.
                self.assertIn(" kind 4 ", blocks[interface][0])
                self.assertTrue(int(blocks[interface][0].split()[6], 16) & 0x40)
                ids = [(int(l.split()[1]), l.split()[2]) for l in blocks[interface]
                       if l.startswith("  member") and int(l.split()[1]) < 0x60000000]
                want = [(i + 1, name) for i, name in enumerate(members) if name]
                self.assertEqual(ids, want)
                with open(tlb, "rb") as f:
                    raw = f.read()
                for name in filter(None, members[1:]):
                    help_text = ("method " if name == "GMJudgeAndDelOlderDN" else "方法") + name
                    self.assertIn(help_text.encode("gbk"), raw, name)
                self.assertIn("属性 LastError".encode("gbk"), raw)
                self.assertIn(("%s 接口" % interface).encode("gbk"), raw)
                self.assertIn(LIBRARY_HELP[target].encode("gbk"), raw)
                self.assertIn(("%s Class" % coclass).encode("gbk"), raw)
                # The win32 build's library says the same, for 32-bit Windows.
                lines32 = dump(os.path.join(CONTROLS, "win32", target, "typelib.tlb"))
                self.assertEqual(lines32[1], "syskind 1")
                self.assertEqual(lines32[:1] + lines32[2:], lines[:1] + lines[2:])

    def test_parameters(self):
        lines = dump(os.path.join(CONTROLS, "token_control_64", "typelib.tlb"))
        by_name = {l.split()[2]: l for l in lines if l.startswith("  member")}
        # BSTR 8, long 3, pointers 1000+; in 1, out 2, retval 8.
        self.assertIn("(signedFileToken vt 8 flags 0x1, maxLength vt 3 flags 0x1, "
                      "fileOffset vt 3 flags 0x1", by_name["GetSignFileContent"])
        self.assertIn("params 0", by_name["GMJudgeAndDelOlderDN"])
        self.assertIn("invoke 2", by_name["LastError"])


if __name__ == "__main__":
    HOST, CONTROLS = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
