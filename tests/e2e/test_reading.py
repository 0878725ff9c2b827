"""Listing, testing and extracting books through the vellum command: the sample
book, every book of the corpus, and books whose entry names try to leave the
output folder."""
import calendar
import datetime
import json
import os
import time
import unittest

from e2e_support import (BAD_BOOK, NOT_CHANGED, OK, PARTLY, SAMPLE, WINDOWS, WorkFolder, b64, book, corpus_books,
                         file_hash, index_text, local_path, plain_name, read_binaries, whole_binaries)


class Reading(WorkFolder):
    def check_book(self, name, binaries):
        """Lists, tests and extracts book `name` and compares everything with the
        reference reading `binaries` of its elements."""
        entries = self.listing(name)
        self.assertEqual(len(entries), len(binaries) + 1)
        index = entries[-1]
        self.assertEqual((index["name"], index["index"], index["packed"], index["type"]),
                         ("files.bbs", True, 0, None))
        expected_index = index_text(binaries)
        for entry, b in zip(entries, binaries):
            self.assertFalse(entry["index"])
            self.assertEqual(entry["size"], len(b.decoded()), entry)
            self.assertEqual(entry["type"], b.content_type[:258], entry)
            if plain_name(b.id):
                self.assertEqual(entry["name"], b.id)
            if not WINDOWS:
                self.assertEqual(entry["packed"], b.utf16_length(), entry)
        if expected_index.isascii() or not WINDOWS:
            self.assertEqual(index["size"], len(expected_index.encode("utf-8")))

        result = self.vellum("test", name)
        self.assertEqual(result.rc, OK, result)
        self.assertEqual(result.out.count("\nOK  ") + result.out.startswith("OK  "), len(entries), result)
        self.assertIn("no errors", result.out)

        result = self.vellum("extract", name, "-o", "out")
        self.assertEqual(result.rc, OK, result)
        written = [local_path(line) for line in result.out.splitlines()]
        self.assertEqual(len(written), len(entries), result)
        for path, b in zip(written, binaries):
            self.assertTrue(path.startswith("out/"), path)
            self.assertEqual(self.read(path), b.decoded(), path)
        self.assertEqual(written[-1], "out/files.bbs")
        if expected_index.isascii() or not WINDOWS:
            self.assertEqual(self.read("out/files.bbs"), expected_index.encode("utf-8"))
        self.assertEqual(sorted(os.listdir(self.path("out"))), sorted(p[4:] for p in written))
        return entries

    def test_sample_book(self):
        name = self.copy(SAMPLE)
        entries = self.check_book(name, read_binaries(self.path(name)))
        self.assertEqual([e["name"] for e in entries], ["cover.png", "sand.png", "statue.png", "files.bbs"])

    def test_every_corpus_book(self):
        books = corpus_books()
        if not books:
            self.skipTest("the shared corpus (../shared/corpus/books) is not there")
        for source in books:
            with self.subTest(book=os.path.basename(source)):
                name = self.copy(source)
                binaries = read_binaries(self.path(name))
                if binaries is None:
                    binaries = whole_binaries(self.path(name))
                if binaries is None:
                    result = self.vellum("list", name)
                    self.assertExit(result, BAD_BOOK, "cannot open " + name)
                    self.assertEqual(result.out, "")
                    continue
                self.check_book(name, binaries)
                os.remove(self.path(name))
                for f in os.listdir(self.path("out")):
                    os.remove(self.path("out", f))

    def test_a_book_cut_short_shows_its_whole_pictures_and_is_not_changed(self):
        text = book(("a.png", "image/png", b64(b"first")), ("b.png", "image/png", b64(b"second")))
        name = self.write("cut.fb2", text[:text.index(b64(b"second")) + 3])  # inside the second picture
        self.check_book(name, whole_binaries(self.path(name)))
        self.assertEqual([e["name"] for e in self.listing(name)], ["a.png", "files.bbs"])
        before = file_hash(self.path(name))
        self.write("in/a.png", b"new")
        result = self.vellum("replace", name, "in/a.png")
        self.assertExit(result, NOT_CHANGED, "cannot change " + name + ": it is damaged")
        self.assertEqual(file_hash(self.path(name)), before)

    def test_table_lists_every_entry_with_the_open_time(self):
        name = self.copy(SAMPLE)
        before = time.time()
        result = self.vellum("list", name)
        self.assertEqual(result.rc, OK, result)
        lines = result.out.splitlines()
        self.assertEqual(lines[0].split(), ["Size", "Packed", "Date", "Time", "Type", "Name"])
        rows = [line.split() for line in lines[2:-2]]
        self.assertEqual([r[-1] for r in rows], ["cover.png", "sand.png", "statue.png", "files.bbs"])
        self.assertEqual([r[4] for r in rows], ["image/png"] * 3 + ["-"])
        self.assertEqual(lines[-1].split()[-2:], ["4", "entries"])
        self.assertEqual(int(lines[-1].split()[0]), sum(int(r[0]) for r in rows))
        # Linux: a Unix timestamp shown in local time; Windows: the UTC open time packed as a DOS date.
        stamp = datetime.datetime.strptime(rows[0][2] + " " + rows[0][3], "%Y-%m-%d %H:%M:%S")
        seconds = calendar.timegm(stamp.timetuple()) if WINDOWS else time.mktime(stamp.timetuple())
        self.assertLess(abs(seconds - before), 120, rows[0])
        self.assertEqual({(r[2], r[3]) for r in rows}, {(rows[0][2], rows[0][3])})

    def test_named_entries_match_regardless_of_case(self):
        name = self.copy(SAMPLE)
        binaries = read_binaries(self.path(name))
        result = self.vellum("extract", name, "SAND.PNG", "Cover.png", "-o", "some/new/folder")
        self.assertEqual(result.rc, OK, result)
        self.assertEqual([local_path(p) for p in result.out.splitlines()],
                         ["some/new/folder/cover.png", "some/new/folder/sand.png"])
        self.assertEqual(self.read("some/new/folder/sand.png"), binaries[1].decoded())
        self.assertEqual(sorted(os.listdir(self.path("some/new/folder"))), ["cover.png", "sand.png"])

        result = self.vellum("cat", name, "STATUE.png")
        self.assertEqual(result.rc, OK, result)
        self.assertEqual(result.raw, binaries[2].decoded())

    def test_extract_all_into_the_current_folder_without_the_index(self):
        name = self.copy(SAMPLE)
        result = self.vellum("extract", name, "--no-index", "--quiet")
        self.assertEqual(result.rc, OK, result)
        self.assertEqual(result.out.splitlines(), ["cover.png", "sand.png", "statue.png"])
        self.assertEqual(result.err, "")
        self.assertEqual(sorted(os.listdir(self.dir)), sorted([name, "cover.png", "sand.png", "statue.png"]))

    def test_hostile_names_stay_inside_the_output_folder(self):
        ids = ["../x", "a/b", "..\\y", "c:d", "", ".", "..", "/tmp-abs", "tab&#9;name", "CON", "dot.", "x" * 300]
        self.write("inner/h.fb2", book(*[(i, "text/plain", b64(f"entry {n}".encode())) for n, i in enumerate(ids)]))
        result = self.vellum("extract", "h.fb2", "-o", "out", cwd="inner")
        self.assertEqual(result.rc, OK, result)
        written = [local_path(p) for p in result.out.splitlines()]
        self.assertEqual(len(written), len(ids) + 1, result)
        for n, path in enumerate(written[:-1]):
            self.assertTrue(path.startswith("out/") and "/" not in path[4:], path)
            self.assertEqual(self.read(os.path.join("inner", path)), f"entry {n}".encode())
        # Nothing but the book and the output folder, and nothing beside the work folder's own.
        self.assertEqual(sorted(os.listdir(self.path("inner"))), ["h.fb2", "out"])
        self.assertEqual(sorted(os.listdir(self.dir)), ["inner"])
        self.assertEqual(len(os.listdir(self.path("inner", "out"))), len(ids) + 1)

    def test_a_second_entry_of_the_same_name_is_not_written_over_the_first(self):
        self.write("d.fb2", book(("p.png", "image/png", b64(b"first")), ("P.PNG", "image/png", b64(b"second"))))
        result = self.vellum("extract", "d.fb2", "-o", "out")
        self.assertExit(result, PARTLY, "P.PNG")
        self.assertEqual(self.read("out/p.png"), b"first")
        self.assertEqual(len(os.listdir(self.path("out"))), 2)
        result = self.vellum("cat", "d.fb2", "P.png")
        self.assertEqual((result.rc, result.raw), (OK, b"first"))

    def test_existing_files_are_kept_unless_overwrite_is_given(self):
        name = self.copy(SAMPLE)
        self.write("outside/kept.png", b"outside")
        self.write("out/cover.png", b"old cover")
        links = not WINDOWS  # Wine's file system has no symbolic links of its own to test
        if links:
            os.symlink(self.path("outside/kept.png"), self.path("out/sand.png"))
            os.symlink(self.path("outside/new.png"), self.path("out/statue.png"))
        result = self.vellum("extract", name, "-o", "out")
        self.assertExit(result, PARTLY, "cover.png is not written over: it exists (--overwrite replaces it)")
        self.assertEqual(self.read("out/cover.png"), b"old cover")
        self.assertEqual(local_path(result.out).splitlines()[-1], "out/files.bbs")

        result = self.vellum("extract", name, "-o", "out", "--overwrite")
        self.assertEqual(result.rc, OK, result)
        binaries = read_binaries(self.path(name))
        for b in binaries:
            self.assertEqual(self.read(os.path.join("out", b.id)), b.decoded(), b.id)
            self.assertFalse(os.path.islink(self.path("out", b.id)), b.id)
        # A link at an entry's name is replaced; what it points to is never written.
        self.assertEqual(self.read("outside/kept.png"), b"outside")
        self.assertEqual(os.listdir(self.path("outside")), ["kept.png"])

    def test_the_book_is_never_written_over(self):
        self.write("in/b.fb2", book(("b.fb2", "image/png", b64(b"an entry named as the book"))))
        before = self.read("in/b.fb2")
        for args in (["b.fb2"], ["b.fb2", "--overwrite"], ["b.fb2", "-o", "../in", "--overwrite"]):
            with self.subTest(args=args):
                result = self.vellum("extract", *args, cwd="in")
                self.assertExit(result, PARTLY, "b.fb2 is not written over")
                self.assertEqual(self.read("in/b.fb2"), before)

    def test_broken_base64_and_a_book_without_binaries(self):
        self.write("w.fb2", book(("w.bin", "", "QU JD\nRA==QUJD"), ("e.bin", "x/y", "")))
        entries = self.listing("w.fb2")
        self.assertEqual([(e["name"], e["size"], e["type"]) for e in entries],
                         [("w.bin", 4, ""), ("e.bin", 0, "x/y"), ("files.bbs", 37, None)])
        self.assertEqual(self.vellum("cat", "w.fb2", "w.bin").raw, b"ABCD")
        self.assertEqual(self.vellum("cat", "w.fb2", "e.bin").raw, b"")

        self.write("none.fb2", book())
        entries = self.listing("none.fb2")
        self.assertEqual([(e["name"], e["size"]) for e in entries], [("files.bbs", 0)])
        result = self.vellum("extract", "none.fb2", "-o", "out")
        self.assertEqual(result.rc, OK, result)
        self.assertEqual(self.read("out/files.bbs"), b"")

    def test_arguments_are_paths_and_names_whatever_they_hold(self):
        # A path that begins with "/" is no option (on Windows it names the current
        # drive), and a name in brackets is no list.
        self.write("b.fb2", book(("[BR]", "image/png", b64(b"br")), ("[a,b]", "image/png", b64(b"ab"))))
        full = self.path("b.fb2")
        self.assertTrue(full.startswith("/"))
        self.assertEqual([e["name"] for e in self.listing(full)], ["[BR]", "[a,b]", "files.bbs"])
        self.assertEqual(self.vellum("cat", full, "[BR]").raw, b"br")
        result = self.vellum("extract", full, "[a,b]", "-o", "out")
        self.assertEqual(result.rc, OK, result)
        self.assertEqual(self.read("out/[a,b]"), b"ab")
        self.write("in/[BR]", b"new")
        result = self.vellum("replace", full, "in/[BR]")
        self.assertEqual(result.rc, OK, result)
        self.assertEqual(self.vellum("cat", "b.fb2", "[BR]").raw, b"new")


if __name__ == "__main__":
    unittest.main()
