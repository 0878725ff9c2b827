"""What vellum says and answers when it cannot do what it is asked: bad arguments,
books it cannot open, plug-ins it cannot load, entries it cannot write."""
import os
import unittest

from e2e_support import (BAD_BOOK, NO_PLUGIN, OK, PARTLY, SAMPLE, USAGE, WINDOWS, WorkFolder, book, file_hash,
                         file_size_limit, server_kept_running)


class Failures(WorkFolder):
    def test_bad_arguments_print_usage(self):
        self.copy(SAMPLE, "b.fb2")
        cases = [
            [],
            ["frobnicate", "b.fb2"],
            ["list"],
            ["list", "b.fb2", "--jsn"],
            ["extract", "b.fb2", "-o"],
            ["cat", "b.fb2"],
            ["replace", "b.fb2"],
            ["test", "b.fb2", "extra"],
        ]
        for args in cases:
            with self.subTest(args=args):
                result = self.vellum(*args)
                self.assertExit(result, USAGE, "Usage:")
                self.assertEqual(result.out, "")

    def test_help_documents_every_exit_status(self):
        result = self.vellum("--help")
        self.assertEqual(result.rc, OK, result)
        for status in ("0 ", "1 ", "2 ", "3 ", "4 ", "5 ", "130 "):
            self.assertIn("\n  " + status, result.out)
        for command in ("list", "test", "extract", "cat", "replace"):
            self.assertIn(command, result.out)
        result = self.vellum("replace", "--help")
        self.assertEqual(result.rc, OK, result)
        self.assertIn("one\nnote in its history for each folder", result.out)

    def test_books_that_cannot_be_opened(self):
        self.write("plain.txt", "This is not a book\n")
        self.write("other.xml", '<?xml version="1.0"?><html><binary id="a">QUJD</binary></html>')
        self.write("two.fb2", "<r>" + book().split("?>", 1)[1] * 2 + "</r>")
        os.mkdir(self.path("folder.fb2"))
        cases = [
            ("missing.fb2", "no such file"),
            ("plain.txt", "not a well-formed XML document"),
            ("other.xml", "not a FictionBook book"),
            ("two.fb2", "not a FictionBook book"),
            ("folder.fb2", "it is a folder"),
        ]
        if not WINDOWS:
            os.mkfifo(self.path("pipe.fb2"))  # no one writes to it: reading it would wait for ever
            cases.append(("pipe.fb2", "not a regular file"))
        for name, why in cases:
            for command in (["list"], ["test"], ["extract", "-o", "out"], ["cat"], ["replace"]):
                args = command[:1] + [name] + command[1:] + (["a.png"] if command[0] in ("cat", "replace") else [])
                if command[0] == "replace":
                    self.write("a.png", b"a")
                with self.subTest(args=args):
                    result = self.vellum(*args)
                    self.assertExit(result, BAD_BOOK, f"cannot open {name}: {why}")
                    self.assertEqual(result.out, "")
        self.assertFalse(os.path.exists(self.path("out")))

    def test_plug_ins_that_cannot_be_used(self):
        self.copy(SAMPLE, "b.fb2")
        self.write("fake.wcx64", b"MZ not really a module")
        for plugin, words in (("missing.wcx64", "cannot load the plug-in missing.wcx64"),
                              ("fake.wcx64", "cannot load the plug-in fake.wcx64")):
            with self.subTest(plugin=plugin):
                result = self.vellum("--plugin", plugin, "list", "b.fb2")
                self.assertExit(result, NO_PLUGIN, words)
                self.assertEqual(result.out, "")

    def test_entries_that_cannot_be_found_or_written(self):
        self.copy(SAMPLE, "b.fb2")
        self.write("blocker", b"a file where a folder is wanted")
        result = self.vellum("extract", "b.fb2", "-o", "blocker/sub")
        self.assertExit(result, PARTLY, "cannot create the folder blocker/sub")
        self.assertEqual(result.out, "")

        result = self.vellum("extract", "b.fb2", "nothing.png", "cover.png", "-o", "out")
        self.assertExit(result, PARTLY, "b.fb2 has no entry named nothing.png")
        self.assertEqual(sorted(os.listdir(self.path("out"))), ["cover.png"])

        result = self.vellum("cat", "b.fb2", "nothing.png")
        self.assertExit(result, PARTLY, "b.fb2 has no entry named nothing.png")
        self.assertEqual(result.raw, b"")

    def test_a_full_disk(self):
        # A file size limit stands in for a full disk: cover.png (8376 bytes) does not
        # fit, the smaller entries do, and no half-written file stays.
        self.copy(SAMPLE, "b.fb2")
        with server_kept_running():
            result = self.vellum("extract", "b.fb2", "-o", "out", limits=file_size_limit(4096))
        self.assertExit(result, PARTLY, "cannot write out")
        self.assertIn("cover.png: the disk is full", result.err)
        self.assertEqual(sorted(os.listdir(self.path("out"))), ["files.bbs", "sand.png", "statue.png"])
        self.assertNotIn("cover.png", result.out)

    def test_files_that_cannot_be_put_into_a_book(self):
        self.copy(SAMPLE, "b.fb2")
        before = file_hash(self.path("b.fb2"))
        with open(self.path("cover.png"), "wb") as f:
            f.truncate(600 << 20)  # sparse: no disk used
        cases = [("cover.png", "must be smaller than 512 MiB")]
        if not WINDOWS:
            os.mkfifo(self.path("sand.png"))
            cases.append(("sand.png", "it is not a file"))
        for name, words in cases:
            with self.subTest(file=name):
                result = self.vellum("replace", "b.fb2", name)
                self.assertExit(result, PARTLY, words, "nothing was changed")
                self.assertEqual(file_hash(self.path("b.fb2")), before)

    def test_no_temporary_folder(self):
        if WINDOWS:
            self.skipTest("Wine takes the temporary folder from its own registry")
        self.copy(SAMPLE, "b.fb2")
        os.environ["TMPDIR"], saved = self.path("missing"), os.environ.get("TMPDIR")
        try:
            listed = self.vellum("list", "b.fb2")
            cat = self.vellum("cat", "b.fb2", "cover.png")
        finally:
            os.environ.pop("TMPDIR") if saved is None else os.environ.update(TMPDIR=saved)
        self.assertExit(listed, OK, "cannot create a temporary file in " + self.path("missing"),
                        "the content types are not shown")
        self.assertIn("4 entries", listed.out)
        self.assertExit(cat, PARTLY, "cannot create a temporary file in " + self.path("missing"))

    def test_standard_output_that_cannot_be_written(self):
        if not os.path.exists("/dev/full"):
            self.skipTest("this system has no /dev/full")
        self.copy(SAMPLE, "b.fb2")
        with open("/dev/full", "wb") as full:
            result = self.vellum("cat", "b.fb2", "cover.png", stdout=full)
        self.assertExit(result, PARTLY, "cannot write to standard output")


if __name__ == "__main__":
    unittest.main()
