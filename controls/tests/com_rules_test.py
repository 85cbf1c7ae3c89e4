"""The four servers registered side by side in one prefix: every key of their registration, the
calls Internet Explorer makes before scripting (control_host), and unregistration removing
every key it wrote."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import servers  # noqa: E402

HOST = CONTROLS = None


class ComRules(unittest.TestCase):
    def test_register_script_unregister(self):
        for server in servers.SERVERS:
            servers.register(CONTROLS, server)
        try:
            for server in servers.SERVERS:
                with self.subTest(server=server[1]):
                    found = {}
                    for key in servers.top_keys(server)[:5]:
                        found.update(servers.query(key) or {})
                    for item, data in servers.expected_keys(server,
                                                            servers.dll(CONTROLS, server)).items():
                        self.assertIn(item, found)
                        self.assertEqual(found[item], data, item)
                    libid = servers.query("TypeLib\\" + server[7])
                    arch = "win64"
                    self.assertIn(("TypeLib\\%s\\1.0\\0\\%s" % (server[7], arch), ""), libid)
                    for progid in (server[3], server[4]):
                        code, out = servers.wine(HOST, progid)
                        self.assertEqual(code, 0, out)
                        self.assertGreater(out.count("\nok ") + out.startswith("ok "), 20, out)
        finally:
            for server in servers.SERVERS:
                servers.register(CONTROLS, server, undo=True)
        for server in servers.SERVERS:
            for key in servers.top_keys(server):
                with self.subTest(server=server[1], key=key):
                    self.assertIsNone(servers.query(key))


if __name__ == "__main__":
    HOST, CONTROLS = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
