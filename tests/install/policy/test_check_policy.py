"""Runs check_policy.py on the shipped template and on copies broken one way each."""
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

HERE = Path(__file__).resolve().parent
CHECKER = HERE / "check_policy.py"
POLICY = HERE.parents[2] / "installer" / "policy"
KEY = r"SOFTWARE\Policies\KORVANTA\zinpost"
ADMX = "TessalySendlet.admx"
JA = "ja-JP/TessalySendlet.adml"
EN = "en-US/TessalySendlet.adml"


def run(folder, key=KEY, value="Server"):
    done = subprocess.run([sys.executable, str(CHECKER), "--key", key, "--value", value, str(folder)],
                          capture_output=True, text=True)
    return done.returncode, done.stdout


class CheckPolicyTest(unittest.TestCase):
    def test_shipped_template_passes(self):
        self.assertEqual(run(POLICY), (0, ""))

    def test_key_and_value_come_from_the_command_line(self):
        code, out = run(POLICY, key=r"SOFTWARE\Policies\KORVANTA\other", value="Url")
        self.assertEqual(code, 1)
        self.assertIn(r'is not "SOFTWARE\Policies\KORVANTA\other"', out)
        self.assertIn('no element writes registry value "Url"', out)

    # (name, file, text to replace, replacement or None to delete the file, expected message parts)
    BROKEN = [
        ("string missing in one ADML", JA, '<string id="ServerUrl_Explain">', '<string id="Other">',
         [JA, 'string "ServerUrl_Explain"', "missing from stringTable"]),
        ("refId naming no element", EN, '<textBox refId="ServerUrl">', '<textBox refId="Nowhere">',
         [EN, 'refId "Nowhere" names no element']),
        ("undeclared supportedOn prefix", ADMX, 'ref="windows:SUPPORTED', 'ref="win:SUPPORTED',
         ['supportedOn ref "win:SUPPORTED_Windows7" uses undeclared prefix "win"']),
        ("wrong registry key", ADMX, r'key="SOFTWARE\Policies\KORVANTA\zinpost"', r'key="SOFTWARE\KORVANTA\zinpost"',
         [r'registry key "SOFTWARE\KORVANTA\zinpost" for value "Server"']),
        ("missing ADML", JA, None, None, [JA, "missing ADML for ja-JP"]),
        ("malformed XML", ADMX, "</policies>", "</policy>", [ADMX, "not well-formed XML"]),
    ]

    def test_broken_copies_fail_naming_the_problem(self):
        for name, file, old, new, expected in self.BROKEN:
            with self.subTest(name), tempfile.TemporaryDirectory() as temp:
                folder = Path(temp) / "policy"
                shutil.copytree(POLICY, folder)
                target = folder / file
                if old is None:
                    target.unlink()
                else:
                    text = target.read_text(encoding="utf-8")
                    self.assertIn(old, text, "the case no longer matches the template")
                    target.write_text(text.replace(old, new, 1), encoding="utf-8")
                code, out = run(folder)
                self.assertEqual(code, 1, out)
                for part in expected:
                    self.assertIn(part, out)


if __name__ == "__main__":
    unittest.main()
