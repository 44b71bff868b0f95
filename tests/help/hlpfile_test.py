#!/usr/bin/env python3
"""The help files read back with a reader of their own: every link between
topics resolves, every context string and help context id leads to a topic
start, the context help maps exactly the ids of the dialogs' help tables,
the user's guide quotes the program's messages as the program shows them,
and the generator refuses faulty sources.

Environment: QVX_ROOT (the sources) and QVX_HELP_DIR (the built .hlp files).
"""

import os
import re
import struct
import sys
import tempfile
import unittest

ROOT = os.environ.get("QVX_ROOT", os.path.join(os.path.dirname(__file__), "..", ".."))
HELP_DIR = os.environ.get("QVX_HELP_DIR", os.path.join(ROOT, "build", "i686", "bin"))
sys.path.insert(0, os.path.join(ROOT, "help"))
import hlpgen  # noqa: E402


# ---- a reader of .hlp files, written from the file format alone ----


def internal_files(data):
    magic, directory, _, size = struct.unpack_from("<IIiI", data, 0)
    assert magic == 0x00035F3F and size == len(data)
    return {name.decode(): content(data, at)
            for name, at in btree_leaves(content(data, directory), directory_entry)}


def content(data, at):
    reserved, used, _ = struct.unpack_from("<IIB", data, at)
    assert reserved == used + 9 and at + reserved <= len(data)
    return data[at + 9:at + 9 + used]


def directory_entry(page, at):
    end = page.index(b"\0", at)
    return (page[at:end], struct.unpack_from("<I", page, end + 1)[0]), end + 5


def context_entry(page, at):
    return struct.unpack_from("<iI", page, at), at + 8


def btree_leaves(tree, parse):
    magic, _, page_size = struct.unpack_from("<HHH", tree, 0)
    root, _, _, levels, count = struct.unpack_from("<HHHHI", tree, 26)
    assert magic == 0x293B
    page = root
    for _ in range(levels - 1):  # the first child, down to the first leaf
        page = struct.unpack_from("<H", tree, 38 + page * page_size + 4)[0]
    entries = []
    while page != 0xFFFF:
        base = 38 + page * page_size
        _, n, _, following = struct.unpack_from("<HHHH", tree, base)
        at = base + 8
        for _ in range(n):
            entry, at = parse(tree, at)
            entries.append(entry)
        page = following
    assert len(entries) == count
    return entries


def lz77_expand(data):
    out = bytearray()
    i = 0
    while i < len(data):
        control = data[i]
        i += 1
        for bit in range(8):
            if i >= len(data):
                break
            if control & (1 << bit):
                code = struct.unpack_from("<H", data, i)[0]
                i += 2
                start = len(out) - (code & 0xFFF) - 1
                for k in range((code >> 12) + 3):
                    out.append(out[start + k])
            else:
                out.append(data[i])
                i += 1
    return bytes(out)


def read_compressed(data, at, signed_long=False):
    """A compressed unsigned short, or a compressed signed long."""
    if signed_long:
        if data[at] & 1:
            return struct.unpack_from("<I", data, at)[0] // 2 - 0x40000000, at + 4
        return struct.unpack_from("<H", data, at)[0] // 2 - 0x4000, at + 2
    if data[at] & 1:
        return struct.unpack_from("<H", data, at)[0] // 2, at + 2
    return data[at] // 2, at + 1


class Topic:
    def __init__(self, title, offset):
        self.title, self.offset, self.text, self.links = title, offset, "", []


def read_topics(data):
    blocks = [lz77_expand(data[b + 12:b + 4096]) for b in range(0, len(data), 4096)]
    topics, chars, pos = [], {}, 12
    while pos != 0xFFFFFFFF:
        block, at = pos // 0x4000, pos % 0x4000 - 12
        size, ld2_size, _, following, ld1_end, kind = struct.unpack_from("<IIIIIB", blocks[block], at)
        ld1 = blocks[block][at + 21:at + ld1_end]
        ld2 = blocks[block][at + ld1_end:at + size]
        if kind == 0x02:
            topics.append(Topic(ld2.decode("cp1252"), block * 0x8000 + chars.get(block, 0)))
        elif kind == 0x20:
            _, i = read_compressed(ld1, 0, signed_long=True)
            length, i = read_compressed(ld1, i)
            chars[block] = chars.get(block, 0) + length
            flags = struct.unpack_from("<H", ld1, i + 4)[0]
            i += 6
            for bit in (0x0002, 0x0004, 0x0008, 0x0010, 0x0020, 0x0040):
                if flags & bit:
                    i += 2 if ld1[i] & 1 else 1
            while ld1[i] != 0xFF:
                command = ld1[i]
                if command == 0x80:
                    i += 3
                elif command in (0xE2, 0xE3, 0xE6, 0xE7):
                    topics[-1].links.append(struct.unpack_from("<i", ld1, i + 1)[0])
                    i += 5
                else:
                    assert command in (0x81, 0x82, 0x83, 0x89), hex(command)
                    i += 1
            topics[-1].text += ld2.replace(b"\0", b"").decode("cp1252") + "\n"
        pos = following
    return topics


class HelpFile:
    def __init__(self, name):
        with open(os.path.join(HELP_DIR, name), "rb") as f:
            self.files = internal_files(f.read())
        self.topics = read_topics(self.files["|TOPIC"])
        self.by_offset = {t.offset: t for t in self.topics}
        self.contexts = dict(btree_leaves(self.files["|CONTEXT"], context_entry))
        data = self.files["|CTXOMAP"]
        self.map = dict(struct.unpack_from("<II", data, 2 + 8 * i)
                        for i in range(struct.unpack_from("<H", data, 0)[0]))


def source_topics(*names):
    paths = []
    for name in names:
        path = os.path.join(ROOT, "help", name)
        paths += sorted(os.path.join(path, f) for f in os.listdir(path)) if os.path.isdir(path) \
            else [path]
    return hlpgen.parse_sources(paths)[1]


def program_help_ids():
    ids = set()
    for name in ("properties.cpp", "diagnostics.cpp"):
        with open(os.path.join(ROOT, "src", "tools", name)) as f:
            for table in re.findall(r"HelpIds\[\] = \{(.*?)\};", f.read(), re.S):
                ids.update(int(n) for n in re.findall(r"\b(\d{5})\b", table))
    return ids


def program_strings():
    with open(os.path.join(ROOT, "src", "resources", "lang_en.rc"), encoding="utf-8") as f:
        texts = re.findall(r'^\s*IDS_\w+\s+"((?:[^"\\]|\\.)*)"', f.read(), re.M)
    return {t.replace("\\n", "\n").replace("\\r", "").replace("\\t", "\t") for t in texts}


# ---- the tests ----


class BuiltFiles(unittest.TestCase):
    def test_links_and_contexts_lead_to_topic_starts(self):
        for name in ("KDX.hlp", "KDXCH.hlp"):
            with self.subTest(file=name):
                hlp = HelpFile(name)
                hashes = list(hlp.contexts)
                self.assertEqual(hashes, sorted(hashes), "|CONTEXT is not in signed order")
                self.assertEqual(sorted(hlp.contexts.values()), [t.offset for t in hlp.topics])
                for topic in hlp.topics:
                    for link in topic.links:
                        self.assertIn(link, hlp.contexts, "a link of %s leads nowhere" % topic.title)
                for number, offset in hlp.map.items():
                    self.assertIn(offset, hlp.by_offset, "help context id %d" % number)

    def test_every_guide_topic_is_reached_from_the_contents(self):
        hlp = HelpFile("KDX.hlp")
        kind, size, contents = struct.unpack_from("<HHI", hlp.files["|SYSTEM"], 12 + 4 +
                                                  struct.unpack_from("<H", hlp.files["|SYSTEM"], 14)[0])
        self.assertEqual((kind, size), (3, 4))
        self.assertEqual(hlp.by_offset[contents].title, "Quorvex Diagnostics Help Contents")
        seen, todo = set(), [contents]
        while todo:
            offset = todo.pop()
            if offset not in seen:
                seen.add(offset)
                todo += [hlp.contexts[h] for h in hlp.by_offset[offset].links]
        self.assertEqual({hlp.by_offset[o].title for o in hlp.by_offset if o not in seen}, set())

    def test_context_help_maps_the_dialogs_ids_to_their_topics(self):
        hlp = HelpFile("KDXCH.hlp")
        ids = program_help_ids()
        self.assertEqual(len(ids), 28)
        self.assertEqual(set(hlp.map), ids)
        first = {n: t.paragraphs[0][1] for t in source_topics("kdxch.txt") for n in t.maps}
        for number in sorted(ids):
            with self.subTest(id=number):
                self.assertEqual(hlp.by_offset[hlp.map[number]].text.split("\n")[0], first[number])


class GuideSources(unittest.TestCase):
    # Topics whose quoted blocks are examples, not the program's messages.
    NOT_MESSAGES = {"listing_files"}

    def test_quoted_messages_are_the_programs_own(self):
        strings = {"\n".join(l.rstrip() for l in s.split("\n")) for s in program_strings()}
        for topic in source_topics("kdx"):
            if topic.name in self.NOT_MESSAGES:
                continue
            for kind, text, where in topic.paragraphs:
                if kind == "message":
                    self.assertIn(text, strings, "%s quotes no message of the program" % where)


class Generator(unittest.TestCase):
    def test_context_hash(self):
        for name, value in [("", 0), ("A", 17), ("a", 17), ("0", 10), ("9", 9), ("._", 529),
                            ("AB", 749), ("contents", 636769674), ("main_window", -2041870328)]:
            with self.subTest(name=name):
                self.assertEqual(hlpgen.context_hash(name), value)

    def test_compressed_numbers(self):
        for encode, value, data in [(hlpgen.comp_ushort, 5, b"\x0a"),
                                    (hlpgen.comp_ushort, 200, b"\x91\x01"),
                                    (hlpgen.comp_short, 12, b"\x98"),
                                    (hlpgen.comp_short, 100, b"\xc9\x80"),
                                    (hlpgen.comp_long, 40, b"\x50\x80"),
                                    (hlpgen.comp_long, 20000, b"\x41\x9c\x00\x80")]:
            with self.subTest(encode=encode.__name__, value=value):
                self.assertEqual(encode(value), data)

    def test_faulty_sources_are_refused_with_their_line(self):
        cases = [
            (".topic a\nSee {b|missing}.\n", ":2: link to unknown topic 'missing'"),
            (".topic a-b\nText.\n", ":1: context string 'a-b'"),
            ("Text.\n", ":1: text before the first .topic"),
            (".topic a\n.map 5\nA.\n.topic b\n.map 5\nB.\n", "help context id 5 is mapped twice"),
            (".topic a\nA.\n.topic a\nB.\n", ":3: topic a is already defined"),
            (".topic a\n.color red\n", ":2: unknown directive .color"),
            (".topic a\n.map five\n", ":2: .map needs a number"),
            (".topic a\n", "topic a has no text"),
            (".topic a\nA \u2192 B\n", ":2: '\u2192' has no code page 1252 form"),
        ]
        for text, expected in cases:
            with self.subTest(source=text):
                with tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False,
                                                 encoding="utf-8") as f:
                    f.write(text)
                try:
                    with self.assertRaises(hlpgen.SourceError) as caught:
                        hlpgen.build([f.name])
                    self.assertIn(expected, str(caught.exception))
                finally:
                    os.unlink(f.name)


if __name__ == "__main__":
    unittest.main()
