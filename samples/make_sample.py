#!/usr/bin/env python3
"""Writes samples/sample.fb2: a short public-domain poem with three small pictures
drawn here (PNG), so the project owns every byte of its sample book."""
import base64
import os
import struct
import zlib


def png(width, height, pixel):
    rows = b"".join(b"\x00" + b"".join(bytes(pixel(x, y)) for x in range(width)) for y in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b"")


def wrapped(data):
    text = base64.b64encode(data).decode()
    return "\n".join(text[i:i + 76] for i in range(0, len(text), 76))


cover = png(48, 64, lambda x, y: (200 - 3 * y, 120 + 2 * x, 60 + y))
sand = png(32, 32, lambda x, y: (230, 200 - ((x * y) % 40), 140))
statue = png(24, 24, lambda x, y: (90, 90, 90) if abs(x - 12) < 4 and y > 4 else (180, 210, 240))

poem = [
    "I met a traveller from an antique land,",
    "Who said\u2014\u201cTwo vast and trunkless legs of stone",
    "Stand in the desert. . . . Near them, on the sand,",
    "Half sunk a shattered visage lies, whose frown,",
    "And wrinkled lip, and sneer of cold command,",
    "Tell that its sculptor well those passions read",
    "Which yet survive, stamped on these lifeless things,",
    "The hand that mocked them, and the heart that fed;",
    "And on the pedestal, these words appear:",
    "My name is Ozymandias, King of Kings;",
    "Look on my Works, ye Mighty, and despair!",
    "Nothing beside remains. Round the decay",
    "Of that colossal Wreck, boundless and bare",
    "The lone and level sands stretch far away.\u201d",
]

book = f"""<?xml version="1.0" encoding="utf-8"?>
<FictionBook xmlns="http://www.gribuser.ru/xml/fictionbook/2.0" xmlns:l="http://www.w3.org/1999/xlink">
 <description>
  <title-info>
   <genre>poetry</genre>
   <author><first-name>Percy</first-name><middle-name>Bysshe</middle-name><last-name>Shelley</last-name></author>
   <book-title>Ozymandias</book-title>
   <coverpage><image l:href="#cover.png"/></coverpage>
   <lang>en</lang>
  </title-info>
  <document-info>
   <author><nickname>vellum</nickname></author>
   <date value="2026-12-08">8 December 2026</date>
   <id>vellum-sample-ozymandias</id>
   <version>1.0</version>
   <history>
    <p>Sample book of the vellum project; the poem (1818) is in the public domain.</p>
   </history>
  </document-info>
 </description>
 <body>
  <title><p>Ozymandias</p></title>
  <section>
  <image l:href="#sand.png"/>
  <poem>
   <stanza>
{chr(10).join(f"    <v>{line}</v>" for line in poem)}
   </stanza>
   <text-author>Percy Bysshe Shelley</text-author>
  </poem>
  <image l:href="#statue.png"/>
  </section>
 </body>
 <binary id="cover.png" content-type="image/png">
{wrapped(cover)}
 </binary>
 <binary id="sand.png" content-type="image/png">
{wrapped(sand)}
 </binary>
 <binary id="statue.png" content-type="image/png">
{wrapped(statue)}
 </binary>
</FictionBook>
"""

path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "sample.fb2")
with open(path, "w", encoding="utf-8", newline="\n") as out:
    out.write(book)
