"""The manual page vellum(1) and --help say the same: the same commands, the same
options of vellum and of each command, and the exit statuses the code returns.
The page is also rendered by man, which must not warn."""
import os
import re
import shutil
import subprocess
import tempfile
import unittest

from e2e_support import SOURCE_DIR, run

MANUAL = os.environ.get("VELLUM_MANUAL", "")
OPTION = re.compile(r"(?<![\w-])(--?[A-Za-z][\w-]*)")


def plain(roff):
    """The text of roff source without its escapes for fonts, dashes and quotes."""
    text = re.sub(r"\\f(\(..|\[[^]]*\]|.)", "", roff)
    for escape, char in (("\\-", "-"), ("\\&", ""), ("\\e", "\\"), ("\\ ", " "),
                         ("\\(lq", '"'), ("\\(rq", '"')):
        text = text.replace(escape, char)
    return text


def sections(lines, macro):
    """The lines under each heading of `macro` (.SH, .SS), by the heading's first word."""
    parts, name = {}, None
    for line in lines:
        if line.startswith(macro + " "):
            name = plain(line[len(macro) + 1:]).strip('"').split()[0]
            parts[name] = []
        elif name is not None:
            parts[name].append(line)
    return parts


def tagged_options(lines):
    """The options named in the tags of a part's .TP paragraphs."""
    return {option for previous, line in zip(lines, lines[1:]) if previous == ".TP"
            for option in OPTION.findall(plain(line))}


def help_list(text, heading):
    """The first words of the items under `heading:` in CLI11's help."""
    part = text.split(heading + ":\n", 1)[1].split("\n\n", 1)[0]
    return [line.split()[0] for line in part.splitlines() if re.match(r"  \S", line)]


def help_options(text):
    return {name for item in help_list(text, "Options") for name in item.split(",")}


class ManualPage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(MANUAL, encoding="utf-8") as page:
            lines = [line.rstrip("\n") for line in page]
        cls.sections = sections(lines, ".SH")
        cls.commands = sections(cls.sections["COMMANDS"], ".SS")
        cls.folder = tempfile.mkdtemp()
        cls.help = cls.run_help([])

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder)

    @classmethod
    def run_help(cls, command):
        result = run(command + ["--help"], cls.folder)
        assert result.rc == 0, result
        return result.out

    def test_the_commands_are_those_of_the_help(self):
        self.assertEqual(sorted(help_list(self.help, "Subcommands")), sorted(self.commands))

    def test_each_option_is_described_where_it_applies(self):
        # Options of vellum itself, and --help of every command, are under OPTIONS;
        # a command's own options in its part of COMMANDS.
        common = tagged_options(self.sections["OPTIONS"])
        self.assertEqual(help_options(self.help), common)
        for command, lines in self.commands.items():
            with self.subTest(command=command):
                options = help_options(self.run_help([command]))
                self.assertLessEqual({"-h", "--help"}, common & options)
                self.assertEqual(options - {"-h", "--help"}, tagged_options(lines))

    def test_exit_statuses_agree_with_the_code_and_the_help(self):
        with open(os.path.join(SOURCE_DIR, "tools", "vellum", "vellum.h"), encoding="utf-8") as header:
            code = {int(n) for n in re.findall(r"\bkExit\w+\s*=\s*(\d+)", header.read())}
        shown = {int(n) for n in re.findall(r"^  (\d+) ", self.help.split("Exit status:\n", 1)[1], re.M)}
        page = {int(plain(line)[3:]) for line in self.sections["EXIT"] if re.fullmatch(r"\.B \d+", line)}
        self.assertEqual(code, shown)
        self.assertEqual(code, page)

    def test_man_renders_the_page_without_warnings(self):
        if shutil.which("man") is None:
            self.skipTest("man-db is not installed")
        env = dict(os.environ, LC_ALL="C.UTF-8", MANROFFSEQ="", MANWIDTH="80")
        rendered = subprocess.run(["man", "--warnings", "-E", "UTF-8", "-l", MANUAL], env=env,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=60)
        self.assertEqual(rendered.returncode, 0)
        self.assertEqual(rendered.stderr.decode("utf-8", "replace"), "")


if __name__ == "__main__":
    unittest.main()
