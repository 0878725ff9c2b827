#!/usr/bin/env python3
"""Writes the seed books of both fuzz targets into OUT/book and OUT/pack.

Each seed is a small book of one shape the tests use: namespaces or none, 8-bit and
UTF-16 encodings, Base64 with white space and padding, elements the reader rejects,
entities, a history or none, and a few inputs that are not books at all. The packing
seeds put a flag byte, a two-byte replacement length and a replacement in front.
"""
import base64
import os
import struct
import sys

NS = ' xmlns="http://www.gribuser.ru/xml/fictionbook/2.0" xmlns:l="http://www.w3.org/1999/xlink"'
PNG = bytes.fromhex("89504e470d0a1a0a0000000d4948445200000001000000010806000000")
B64 = base64.b64encode(PNG).decode()


def book(body, ns=NS, decl='<?xml version="1.0" encoding="utf-8"?>\n', dtd=""):
    return (decl + dtd + "<FictionBook" + ns + ">" + body + "</FictionBook>\n").encode("utf-8")


def binary(id_, text, ctype="image/png"):
    attr = f' content-type="{ctype}"' if ctype is not None else ""
    return f'<binary id="{id_}"{attr}>{text}</binary>'


DESCRIPTION = ("<description><title-info><book-title>Seed</book-title></title-info>"
               "<document-info><history><p>first</p></history></document-info></description>"
               "<body><section><p>Text <image l:href=\"#cover.png\"/></p></section></body>")

SEEDS = {
    "plain": book(DESCRIPTION + binary("cover.png", B64)),
    "no-namespace": book(binary("a.bin", "QUJD", "application/octet-stream"), ns=""),
    "two-binaries": book(binary("one.png", B64) + binary("two.jpg", "/9j/4AAQ", "image/jpeg")),
    "wrapped-base64": book(binary("wrapped.png", "\n".join(B64[i:i + 8] for i in range(0, len(B64), 8)))),
    "crlf-spaces": book(binary("spaced.png", " \r\n\t".join(B64[i:i + 4] for i in range(0, len(B64), 4)))),
    "padding": book(binary("p1", "QQ==") + binary("p2", "QUI=") + binary("p3", "QQ==QUJD") + binary("p4", "Q")),
    "empty-binary": book(binary("empty.png", "") + binary("blank.png", "   \n  ")),
    "no-content-type": book(binary("bare.bin", "QUJD", None)),
    "no-id": book('<binary content-type="image/png">QUJD</binary>' + binary("kept.png", "QUJD")),
    "child-element": book('<binary id="nested.png" content-type="image/png">QU<b>JD</b></binary>'),
    "cdata": book(binary("cdata.png", "<![CDATA[" + B64 + "]]>")),
    "comment-pi": book(binary("mixed.png", "QU<!-- c -->JD<?pi x?>RA==")),
    "char-refs": book(binary("refs.png", "&#81;&#x55;JD")),
    "internal-entity": book(binary("ent.png", "&b64;&amp;"),
                            dtd='<!DOCTYPE FictionBook [<!ENTITY b64 "QUJDREVG">]>\n'),
    "nested-entity": book(binary("nest.png", "&two;"),
                          dtd='<!DOCTYPE FictionBook [<!ENTITY one "QUJD"><!ENTITY two "&one;&one;">]>\n'),
    "attribute-entity": book(binary("&nm;", "QUJD"), dtd='<!DOCTYPE FictionBook [<!ENTITY nm "ent.png">]>\n'),
    "external-entity": book(binary("ext.png", "&ext;"),
                            dtd='<!DOCTYPE FictionBook [<!ENTITY ext SYSTEM "secret.txt">]>\n'),
    "external-dtd": book(binary("dtd.png", "QUJD"), dtd='<!DOCTYPE FictionBook SYSTEM "book.dtd">\n'),
    "long-id": book(binary("x" * 300, "QUJD")),
    "odd-ids": book(binary("../up.png", "QUJD") + binary("a\\b:c.png", "QUJD") + binary("..", "QUJD")
                    + binary("", "QUJD") + binary("tab&#9;lf&#10;.png", "QUJD") + binary("c1&#x85;.png", "QUJD")),
    "same-id-twice": book(binary("dup.png", "QUJD") + binary("DUP.png", "REVG")),
    "binary-outside": book("<body><binary id=\"deep.png\">QUJD</binary></body>" + binary("top.png", "QUJD")),
    "prefixed": ('<?xml version="1.0"?><fb:FictionBook xmlns:fb="http://www.gribuser.ru/xml/fictionbook/2.0">'
                 '<fb:binary id="p.png">QUJD</fb:binary></fb:FictionBook>').encode(),
    "no-history": book("<description><title-info/></description>" + binary("h.png", "QUJD")),
    "history-no-doc-info": book("<description><title-info/><document-info/></description>" + binary("h.png", "QUJD")),
    "cp1251": book("<body><p>\u041f\u0440\u0438\u0432\u0435\u0442</p></body>" + binary("\u0444\u043e\u0442\u043e.png", "QUJD"),
                   decl='<?xml version="1.0" encoding="windows-1251"?>\n').decode("utf-8").encode("cp1251"),
    "utf16le": b"\xff\xfe" + book(binary("u16.png", "QUJD"), decl='<?xml version="1.0" encoding="UTF-16"?>\n')
        .decode().encode("utf-16-le"),
    "utf16be": b"\xfe\xff" + book(binary("u16.png", "QUJD"), decl='<?xml version="1.0" encoding="UTF-16"?>\n')
        .decode().encode("utf-16-be"),
    "utf8-bom": b"\xef\xbb\xbf" + book(binary("bom.png", "QUJD")),
    "other-root": b'<?xml version="1.0"?><html><binary id="x">QUJD</binary></html>',
    "two-roots-in-body": book("<FictionBook><binary id='inner'>QUJD</binary></FictionBook>"),
    "truncated": book(binary("cut.png", B64))[:60],
    "cut-in-picture": book(binary("whole.png", B64) + binary("cut.png", B64))[:-40],
    "broken-before-pictures": book("<body><p>a</b></body>" + binary("after.png", B64) + binary("x.png", "QU&amp;JD")),
    "doctype-elements-only": book(binary("d.png", "QUJD"), dtd='<!DOCTYPE FictionBook [<!ELEMENT p ANY><!-- x -->]>\n'),
    "line-ends": book(binary("cr.png", "QUJD\rREVG\r\n\nR0hJ\r") + binary("\u00e9t\u00e9.png", "QU\u00e9JD\U0001F600")),
    "not-xml": b"PK\x03\x04 this is not a book",
    "empty": b"",
    # Shapes a save by splicing meets: empty-element binaries and levels, the note's
    # chain missing from any level, prefixed look-alikes, UTF-16 and CRLF books,
    # references outside the binaries.
    "empty-tag-binaries": book(DESCRIPTION + '<binary id="a.png"/><binary id="b.png" content-type="image/png" />'
                               + binary("c.png", "QUJD")),
    "no-description": book("<body><p>x</p></body>" + binary("n.png", "QUJD")),
    "empty-document-info": book("<description><title-info/><document-info/></description>" + binary("d.png", "QUJD")),
    "empty-history": book("<description><document-info><history  /></document-info></description>"
                          + binary("e.png", "QUJD")),
    "description-after-binaries": book(binary("z.png", "QUJD") + "<description><document-info><history><p>old</p>"
                                       "</history></document-info></description>"),
    "prefixed-look-alikes": book('<fb:description><fb:document-info><fb:history/></fb:document-info></fb:description>'
                                 '<description><document-info/></description><fb:binary id="l.png">T0xE</fb:binary>'
                                 + binary("l.png", "QUJD"), ns=NS + ' xmlns:fb="http://www.gribuser.ru/xml/fictionbook/2.0"'),
    "prefixed-chain": ('<?xml version="1.0"?><FictionBook xmlns:f="urn:f"><f:description><f:document-info>'
                       '<f:history/></f:document-info></f:description><binary id="q.png">QUJD</binary></FictionBook>'
                       ).encode(),
    "undeclared-prefixes": book('<body><image l:href="#u.png"/></body><u:binary id="u.png">QUJD</u:binary>'
                                + binary("v.png", "QUJD"), ns=""),
    "utf16le-history": b"\xff\xfe" + book(DESCRIPTION + '<binary id="w.png"/>' + binary("x.png", "QUJD"),
                                          decl='<?xml version="1.0" encoding="UTF-16"?>\r\n').decode().encode("utf-16-le"),
    "utf16be-no-declaration": b"\xfe\xff" + book("<description><document-info/></description>"
                                                + binary("\u0444.png", "QUJD"), decl="").decode().encode("utf-16-be"),
    "utf16le-declared-le": b"\xff\xfe" + book(binary("y.png", "QUJD"),
                                              decl='<?xml version="1.0" encoding="UTF-16LE"?>').decode().encode("utf-16-le"),
    "crlf-history": book(DESCRIPTION.replace("><", ">\r\n<") + "\r\n" + binary("r.png", "QUJD\r\nREVG\r\n") + "\r\n"),
    "references-outside": book('<description><document-info><history><p>a&amp;b&#169;&nbsp;&lt;</p></history>'
                               '</document-info></description><body><p title="&nbsp;&quot;">&nbsp;&#x41;</p></body>'
                               + binary("t.png", "QUJD"),
                               dtd='<!DOCTYPE FictionBook [<!ENTITY nbsp "&#160;">]>\n'),
    "doctype-notation": book(binary("m.png", "QUJD"),
                             dtd='<!DOCTYPE FictionBook [<!NOTATION png SYSTEM "image/png">'
                                 '<!ENTITY pic SYSTEM "pic.png" NDATA png>]>\n'),
}


def main():
    out = sys.argv[1]
    for kind in ("book", "pack"):
        os.makedirs(os.path.join(out, kind), exist_ok=True)
    replacements = [b"", b"\x00", b"ABC", PNG, bytes(range(256))]
    for i, (name, data) in enumerate(sorted(SEEDS.items())):
        with open(os.path.join(out, "book", name + ".fb2"), "wb") as f:
            f.write(data)
        replacement = replacements[i % len(replacements)]
        flags = i % 8
        with open(os.path.join(out, "pack", name + ".seed"), "wb") as f:
            f.write(struct.pack("<BH", flags, len(replacement)) + replacement + data)


if __name__ == "__main__":
    main()
