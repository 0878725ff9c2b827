"""Books and entries named in any script, through the vellum command: on Windows it
calls the plug-in's Unicode functions, so no name passes through the code page.
Run under a Western code page (1252), which holds none of these names."""
import json
import os
import unittest

from e2e_support import BAD_BOOK, OK, WINDOWS, WorkFolder, b64, book, local_path

# Wine takes code page 1252 from this locale, and names Linux files in UTF-8.
os.environ["LC_ALL"] = "C.UTF-8"

BOOK = "Война и мир.fb2"
IDS = ["обложка.png", "東京.jpg", "🖼.png", "Ж.png", "Щ.png"]  # the last two are " .png" in code page 1252


class Unicode(WorkFolder):
    def setUp(self):
        super().setUp()
        self.write(BOOK, book(*[(i, "image/png", b64(f"picture {i}".encode())) for i in IDS]))

    def test_list_and_extract_show_every_name_in_full(self):
        entries = self.listing(BOOK)
        self.assertEqual([e["name"] for e in entries], IDS + ["files.bbs"])
        self.assertEqual([e["type"] for e in entries], ["image/png"] * len(IDS) + [None])

        result = self.vellum("list", BOOK)
        self.assertEqual(result.rc, OK, result)
        self.assertEqual([line.split()[-1] for line in result.out.splitlines()[2:-2]], IDS + ["files.bbs"])

        result = self.vellum("extract", BOOK, "-o", "out")
        self.assertEqual(result.rc, OK, result)
        self.assertEqual([local_path(p) for p in result.out.splitlines()], ["out/" + n for n in IDS + ["files.bbs"]])
        for i in IDS:
            self.assertEqual(self.read("out/" + i), f"picture {i}".encode())

    def test_replace_matches_a_name_in_another_case(self):
        self.write("new/ОБЛОЖКА.PNG", b"new cover")
        result = self.vellum("replace", BOOK, "new/ОБЛОЖКА.PNG")
        self.assertEqual(result.rc, OK, result)
        self.assertIn("replaced обложка.png with new/ОБЛОЖКА.PNG", result.out)
        self.assertEqual(self.vellum("cat", BOOK, "обложка.png").raw, b"new cover")

    def test_both_interfaces_agree_on_names_the_code_page_holds(self):
        self.write("new/CAFÉ.PNG", b"new")
        seen = []
        for interface in ([], ["--ansi"]):
            self.write("café.fb2", book(("café.png", "image/png", b64(b"one")), ("Ärger.jpg", "image/jpeg", b64(b"two"))))
            listing = self.vellum(*interface, "list", "--json", "café.fb2")
            extract = self.vellum(*interface, "extract", "café.fb2", "-o", "out" + str(len(seen)))
            files = {n: self.read(os.path.join("out" + str(len(seen)), n)) for n in ("café.png", "Ärger.jpg", "files.bbs")}
            replace = self.vellum(*interface, "replace", "café.fb2", "new/CAFÉ.PNG")
            self.assertEqual((listing.rc, extract.rc, replace.rc), (OK, OK, OK), (listing, extract, replace))
            entries = [(e["name"], e["size"], e["packed"], e["type"]) for e in json.loads(listing.out)["entries"]]
            seen.append((entries, extract.out.replace(str(len(seen)), ""), files, replace.out))
        self.assertEqual(seen[0], seen[1])

    @unittest.skipUnless(WINDOWS, "on Linux the 8-bit functions take UTF-8")
    def test_the_8_bit_functions_cannot_name_the_book(self):
        result = self.vellum("--ansi", "list", BOOK)
        self.assertExit(result, BAD_BOOK, "cannot open " + BOOK, "code page")


if __name__ == "__main__":
    unittest.main()
