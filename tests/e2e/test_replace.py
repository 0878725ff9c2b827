"""Replacing entries through the vellum command: what the book holds afterwards, the
names that match nothing, files from several folders, moving, and the books that
must be left exactly as they were."""
import os
import re
import unittest

from e2e_support import (NOT_CHANGED, OK, PARTLY, SAMPLE, USAGE, WINDOWS, WorkFolder, b64, book, corpus_books,
                         declared_encoding, file_hash, file_size_limit, read_binaries, server_kept_running)


def history_notes(path):
    with open(path, "rb") as f:
        text = f.read().decode("utf-8", "replace")
    found = re.search(r"<history>(.*?)</history>", text, re.S)
    return len(re.findall(r"<p[ >]", found.group(1))) if found else 0


class Replace(WorkFolder):
    def test_files_from_two_folders_and_a_name_that_matches_nothing(self):
        name = self.copy(SAMPLE)
        statue = self.vellum("cat", name, "statue.png").raw
        notes = history_notes(self.path(name))
        self.write("new/Cover.png", b"new cover bytes")
        self.write("other/SAND.png", os.urandom(1000))
        self.write("other/unknown.png", b"x")
        result = self.vellum("replace", name, "new/Cover.png", "other/SAND.png", "other/unknown.png")
        self.assertExit(result, PARTLY, "unknown.png")
        self.assertIn(f"{name}: 2 entries replaced", result.out)
        self.assertNotIn("unknown", result.out)

        entries = {e["name"]: e for e in self.listing(name)}
        self.assertEqual(sorted(entries), ["cover.png", "files.bbs", "sand.png", "statue.png"])
        self.assertEqual(entries["cover.png"]["size"], len(b"new cover bytes"))
        self.assertEqual(entries["cover.png"]["type"], "image/png")
        self.assertEqual(self.vellum("cat", name, "cover.png").raw, b"new cover bytes")
        self.assertEqual(self.vellum("cat", name, "sand.png").raw, self.read("other/SAND.png"))
        self.assertEqual(self.vellum("cat", name, "statue.png").raw, statue)
        # One call of the plug-in per folder, each adding its note to the history.
        self.assertEqual(history_notes(self.path(name)), notes + 2)
        # Without --move the files stay.
        self.assertTrue(os.path.exists(self.path("new/Cover.png")))

    def test_move_deletes_only_the_files_put_in(self):
        name = self.copy(SAMPLE)
        self.write("in/statue.png", b"moved")
        self.write("in/nothing.png", b"kept")
        result = self.vellum("replace", "--move", name, "in/statue.png", "in/nothing.png")
        self.assertExit(result, PARTLY, "nothing.png")
        self.assertEqual(sorted(os.listdir(self.path("in"))), ["nothing.png"])
        self.assertEqual(self.vellum("cat", name, "statue.png").raw, b"moved")

    def test_books_left_as_they_were(self):
        name = self.copy(SAMPLE)
        before = file_hash(self.path(name))
        self.write("a/none.png", b"1")
        self.write("a/files.bbs", b"2")
        self.write("a/cover.png", b"3")
        self.write("b/cover.png", b"4")
        cases = [
            # (arguments, exit status, words of the message)
            (["a/none.png", "a/files.bbs"], PARTLY, ["none.png", "files.bbs", "nothing was changed"]),
            (["a/cover.png", "missing/sand.png"], PARTLY, ["missing/sand.png", "no such file"]),
            (["a/cover.png", "b/cover.png"], PARTLY, ["would both replace"]),
            (["a"], PARTLY, ["not a file"]),
        ]
        for args, status, words in cases:
            with self.subTest(args=args):
                result = self.vellum("replace", name, *args)
                self.assertExit(result, status, *words)
                self.assertEqual(file_hash(self.path(name)), before)
                self.assertEqual(result.out, "")
        self.assertEqual(sorted(os.listdir(self.dir)), sorted([name, "a", "b"]))

    def test_the_book_itself_is_refused(self):
        self.write("in/b.fb2", book(("b.fb2", "image/png", b64(b"an entry named as the book"))))
        before = file_hash(self.path("in/b.fb2"))
        others = ["in/b.fb2", "in/../in/b.fb2", "./in/b.fb2"]
        if not WINDOWS:
            os.link(self.path("in/b.fb2"), self.path("hard.fb2"))
            os.symlink("in/b.fb2", self.path("soft.fb2"))
            others += ["hard.fb2", "soft.fb2"]
        for other in others:
            with self.subTest(file=other):
                result = self.vellum("replace", "--move", "in/b.fb2", other)
                self.assertExit(result, USAGE, "it is the book itself", "nothing was changed")
                self.assertEqual(file_hash(self.path("in/b.fb2")), before)
                self.assertTrue(os.path.exists(self.path(other)))

    def test_an_entry_listed_under_a_safe_name_is_replaced_under_that_name(self):
        self.write("s.fb2", book(("a:b.png", "image/png", b64(b"old")), ("c.png", "image/png", b64(b"c"))))
        self.assertEqual([e["name"] for e in self.listing("s.fb2")], ["a_b.png", "c.png", "files.bbs"])
        self.write("in/a_b.png", b"new")
        result = self.vellum("replace", "s.fb2", "in/a_b.png")
        self.assertEqual(result.rc, OK, result)
        self.assertEqual(self.vellum("cat", "s.fb2", "a_b.png").raw, b"new")
        self.assertEqual(self.vellum("cat", "s.fb2", "c.png").raw, b"c")

    def test_read_only_book(self):
        if hasattr(os, "geteuid") and os.geteuid() != 0:
            self.skipTest("needs root: a read-only book must be refused even where root may write it")
        name = self.copy(SAMPLE)
        os.chmod(self.path(name), 0o444)
        before = file_hash(self.path(name))
        self.write("in/cover.png", b"new")
        result = self.vellum("replace", "--move", name, "in/cover.png")
        self.assertExit(result, NOT_CHANGED, f"cannot save {name}: the file is read-only")
        self.assertEqual(file_hash(self.path(name)), before)
        self.assertTrue(os.path.exists(self.path("in/cover.png")))

    def test_full_disk(self):
        # A file size limit stands in for a full disk: writes past it fail with EFBIG.
        name = self.copy(SAMPLE)
        before = file_hash(self.path(name))
        self.write("in/cover.png", os.urandom(64 * 1024))
        with server_kept_running():
            result = self.vellum("replace", name, "in/cover.png", limits=file_size_limit(32 * 1024))
        self.assertExit(result, NOT_CHANGED, f"cannot save {name}", "nothing was changed")
        self.assertEqual(file_hash(self.path(name)), before)
        self.assertEqual(sorted(os.listdir(self.dir)), sorted([name, "in"]))

    def test_every_corpus_book(self):
        books = corpus_books()
        if not books:
            self.skipTest("the shared corpus (../shared/corpus/books) is not there")
        for source in books:
            binaries = read_binaries(source)
            if not binaries:
                continue
            with self.subTest(book=os.path.basename(source)):
                if WINDOWS and declared_encoding(source) not in ("utf-8", "utf8"):
                    # Wine 8's DOM writes UTF-8 bytes under an 8-bit declaration when it saves.
                    continue
                name = self.copy(source)
                before = {e["name"]: e for e in self.listing(name)}
                target = binaries[-1].id
                data = os.urandom(3001)
                self.write(os.path.join("in", target), data)
                result = self.vellum("replace", name, os.path.join("in", target))
                self.assertEqual(result.rc, OK, result)
                self.assertIn("1 entry replaced", result.out)
                after = {e["name"]: e for e in self.listing(name)}
                self.assertEqual(sorted(after), sorted(before))
                self.assertEqual(after[target]["size"], len(data))
                for entry in after.values():
                    if entry["name"] not in (target, "files.bbs"):
                        self.assertEqual(entry["size"], before[entry["name"]]["size"], entry)
                self.assertEqual(self.vellum("cat", name, target).raw, data)
                os.remove(self.path(name))

    def test_an_inline_book_of_many_entries(self):
        ids = [f"pic{n}.bin" for n in range(40)]
        self.write("m.fb2", book(*[(i, "application/octet-stream", b64(i.encode())) for i in ids]))
        for i in ids[::3]:
            self.write(os.path.join("in", i), i.upper().encode() * 100)
        files = [os.path.join("in", i) for i in ids[::3]]
        result = self.vellum("replace", "m.fb2", *files)
        self.assertEqual(result.rc, OK, result)
        self.assertIn(f"{len(files)} entries replaced", result.out)
        result = self.vellum("extract", "m.fb2", "-o", "out", "--no-index")
        self.assertEqual(result.rc, OK, result)
        for n, i in enumerate(ids):
            expected = i.upper().encode() * 100 if n % 3 == 0 else i.encode()
            self.assertEqual(self.read(os.path.join("out", i)), expected, i)


if __name__ == "__main__":
    unittest.main()
