#!/usr/bin/env python3
"""Manual pages from help texts: the layouts our programs' --help use, and text roff would misread."""
import importlib.util
import os
import stat
import subprocess
import sys
import tempfile
import unittest

GENERATOR = sys.argv.pop(1) if len(sys.argv) > 1 else "packaging/help-to-man.py"
module_spec = importlib.util.spec_from_file_location("help_to_man", GENERATOR)
help_to_man = importlib.util.module_from_spec(module_spec)
module_spec.loader.exec_module(help_to_man)


def page_of(help_text, **extra):
    arguments = dict(name="tool", section="1", summary="does things", version="2.3", date="2026-01-02",
                     see_also=[], files=[])
    arguments.update(extra)
    return help_to_man.render(help_text=help_text, **arguments)


class ParseTest(unittest.TestCase):
    def test_usage_headings_rows_and_paragraphs(self):
        synopsis, blocks = help_to_man.parse(
            "usage: tool [--port PATH] COMMAND\n"
            "commands:\n"
            "  ping ID                 print the ID that answers\n"
            "  firmware FILE [--frames]  length and kind of an image\n"
            "exit codes: 0 ok, 1 no reply,\n"
            "            5 upgrade error\n")
        self.assertEqual(synopsis, [("tool", "[--port PATH] COMMAND")])
        self.assertEqual(blocks, [
            ("heading", "commands"),
            ("row", "ping ID", ["print the ID that answers"]),
            ("row", "firmware FILE [--frames]", ["length and kind of an image"]),
            ("heading", "exit codes"),
            ("para", ["0 ok, 1 no reply,", "5 upgrade error"]),
        ])

    def test_single_space_before_description_is_split_at_the_continuation_column(self):
        _, blocks = help_to_man.parse(
            "  --fault RULE a line fault; repeat for more\n"
            "               KIND: drop checksum\n"
            "               id=ID  which answers\n")
        self.assertEqual(blocks, [
            ("row", "--fault RULE", ["a line fault; repeat for more", "KIND: drop checksum", "id=ID  which answers"]),
        ])

    def test_paragraph_lines_at_the_margin_join_until_a_blank_line(self):
        _, blocks = help_to_man.parse("Serves servos.\nPrints the port\n\nThen waits.\n")
        self.assertEqual(blocks, [("para", ["Serves servos.", "Prints the port"]), ("para", ["Then waits."])])

    def test_row_without_description(self):
        _, blocks = help_to_man.parse("  --verbose\n")
        self.assertEqual(blocks, [("row", "--verbose", [])])

    def test_capital_usage_and_several_usage_lines(self):
        synopsis, _ = help_to_man.parse("Usage: tool scan\nusage: tool ping ID\n")
        self.assertEqual(synopsis, [("tool", "scan"), ("tool", "ping ID")])


class RenderTest(unittest.TestCase):
    def test_roff_control_characters_are_escaped(self):
        page = page_of("usage: tool\n.hidden line\n'quoted\n  --path DIR  a C:\\temp folder\n")
        self.assertIn("\\&.hidden line", page)
        self.assertIn("\\&'quoted", page)
        self.assertIn("a C:\\etemp folder", page)
        self.assertIn(".B \\-\\-path DIR", page)
        self.assertNotIn("\n.hidden", page)

    def test_sentence_continues_and_list_lines_break(self):
        page = page_of("  --tour DIR      walk through the tool,\n"
                       "                  save pictures\n"
                       "  --baud CODE     rate code\n"
                       "                  0=1000000 1=500000\n")
        self.assertIn("walk through the tool,\nsave pictures", page)
        self.assertIn("rate code\n.br\n0=1000000 1=500000", page)

    def test_table_inside_a_description_is_not_filled(self):
        page = page_of("  --fault RULE  a fault\n"
                       "                id=ID     which answers\n"
                       "                count=N   how many\n")
        self.assertIn(".nf\nid=ID     which answers\ncount=N   how many\n.fi", page)

    def test_header_sections_and_cross_references(self):
        page = page_of("usage: tool-x [--a]\n", name="tool-x", see_also=["other(1)", "more-tools(8)"],
                       files=[("/usr/lib/x.rules", "the rule")])
        self.assertTrue(page.startswith('.TH TOOL-X 1 "2026-01-02" "tool-x 2.3" "User Commands"\n'))
        self.assertIn(".SH NAME\ntool\\-x \\- does things\n", page)
        self.assertIn(".SH FILES\n.TP\n.I /usr/lib/x.rules\nthe rule\n", page)
        self.assertIn(".SH SEE ALSO\n.BR other (1),\n.BR more\\-tools (8)\n", page)

    def test_page_renders_without_warnings(self):
        page = page_of("usage: tool [--port PATH]\ncommands:\n  ping ID  print it\n"
                       "  --fault RULE  a fault\n                id=ID     which\n                n=N       many\n")
        with tempfile.NamedTemporaryFile("w", suffix=".1") as file:
            file.write(page)
            file.flush()
            result = subprocess.run(["man", "--warnings", "-E", "UTF-8", "-l", file.name], capture_output=True,
                                    text=True, env=dict(os.environ, LC_ALL="C.UTF-8", MANWIDTH="80"))
        self.assertEqual(result.stderr, "")
        self.assertIn("ping ID", result.stdout)


class ProgramTest(unittest.TestCase):
    def run_generator(self, script):
        with tempfile.TemporaryDirectory() as folder:
            program = os.path.join(folder, "prog")
            with open(program, "w") as file:
                file.write("#!/bin/sh\n" + script)
            os.chmod(program, stat.S_IRWXU)
            output = os.path.join(folder, "prog.1")
            result = subprocess.run([sys.executable, GENERATOR, "--name", "prog", "--summary", "s", "--version",
                                     "1", "--date", "2026-01-02", "--output", output, program],
                                    capture_output=True, text=True)
            return result, os.path.exists(output)

    def test_failing_help_writes_no_page(self):
        result, written = self.run_generator("echo broken >&2; exit 3\n")
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("exit 3", result.stderr)
        self.assertFalse(written)

    def test_empty_help_writes_no_page(self):
        result, written = self.run_generator("exit 0\n")
        self.assertNotEqual(result.returncode, 0)
        self.assertFalse(written)

    def test_help_becomes_the_page(self):
        result, written = self.run_generator("echo 'usage: prog [--x]'\n")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(written)


if __name__ == "__main__":
    unittest.main()
