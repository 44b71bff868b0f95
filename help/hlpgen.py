#!/usr/bin/env python3
"""Writes a WinHelp 3.1 help file (.hlp) from the project's plain-text topic
sources.

    hlpgen.py -o OUT.hlp SOURCE.txt [SOURCE.txt ...]

Source markup (UTF-8; written to the help file in code page 1252):

    # a comment line
    .helptitle TEXT      the help file's title (before the first topic)
    .topic NAME          starts a topic; NAME is its context string
    .title TEXT          the topic's title; shown as its heading
    .map NUMBER          a numeric help context id for the topic (repeatable)
    .keywords A; B       index entries for the topic
    .popup               the topic is a popup: no heading
    .contents            the topic is the contents topic (default: the first)

Body: paragraphs are separated by blank lines and their lines joined with a
blank. "== TEXT" is a sub-heading, "* TEXT" a bulleted item, "> TEXT" a
quoted program message whose lines stay as they are (">" alone is an empty
line of it). Inside text,
**bold** is bold, {text|NAME} a jump to topic NAME, {^text|NAME} a popup of
topic NAME.

Only the Python standard library is used. The output is the same for the
same input (no time stamp is written).
"""

import argparse
import re
import struct
import sys

MAGIC = 0x00035F3F
BLOCK_SIZE = 4096
BLOCK_HEADER = 12
TOPIC_RECORD_HEADER = 21

# Font descriptors: (attributes, half points, family, face index)
FACES = ["Arial", "Courier New"]
FONT_NORMAL, FONT_BOLD, FONT_HEADING, FONT_SUBHEADING, FONT_MESSAGE = range(5)
FONTS = [
    (0, 20, 3, 0),  # body text, 10 pt
    (1, 20, 3, 0),  # bold body text
    (1, 28, 3, 0),  # topic heading, 14 pt bold
    (1, 22, 3, 0),  # sub-heading, 11 pt bold
    (0, 18, 1, 1),  # program messages, 9 pt Courier New
]

# Paragraph layout, in half points.
SPACE_AFTER = 12
BULLET_INDENT = 24
MESSAGE_INDENT = 24


class SourceError(Exception):
    """A fault in a topic source; the text names the file and line."""


# ---- context strings ----

HASH_VALUES = {c: i + 17 for i, c in enumerate("ABCDEFGHIJKLMNOPQRSTUVWXYZ")}
HASH_VALUES.update({c.lower(): v for c, v in HASH_VALUES.items()})
HASH_VALUES.update({str(d): d for d in range(1, 10)})
HASH_VALUES.update({"0": 10, ".": 12, "_": 13})
CONTEXT_NAME = re.compile(r"^[A-Za-z0-9._]+$")


def context_hash(name):
    """The viewer's hash of a context string, as a signed 32-bit number."""
    h = 0
    for c in name:
        h = (h * 43 + HASH_VALUES[c]) & 0xFFFFFFFF
    return h - 0x100000000 if h & 0x80000000 else h


# ---- compressed numbers ----


def comp_ushort(v):
    return bytes([v * 2]) if v < 128 else struct.pack("<H", v * 2 + 1)


def comp_short(v):
    if -64 <= v <= 63:
        return bytes([(v * 2 + 0x80) & 0xFF])
    return struct.pack("<H", (v * 2 + 0x8001) & 0xFFFF)


def comp_long(v):
    if -16384 <= v <= 16383:
        return struct.pack("<H", (v * 2 + 0x8000) & 0xFFFF)
    return struct.pack("<I", (v * 2 + 0x80000001) & 0xFFFFFFFF)


def lz77_literals(data):
    """The data as an LZ77 stream of literals only: a zero control byte
    before every eight bytes."""
    out = bytearray()
    for i in range(0, len(data), 8):
        out.append(0)
        out += data[i:i + 8]
    return bytes(out)


def lz77_size(n):
    return n + (n + 7) // 8


# ---- sources ----


class Topic:
    def __init__(self, name, where):
        self.name = name
        self.where = where
        self.title = ""
        self.maps = []
        self.keywords = []
        self.popup = False
        self.contents = False
        self.paragraphs = []  # (kind, text, where)


def message_line(line):
    """A line of a quoted message: "> text", or ">" alone for an empty line."""
    if line == ">":
        return ""
    return line[2:] if line.startswith("> ") else line.strip()


def parse_sources(paths):
    title = ""
    topics = []
    for path in paths:
        with open(path, encoding="utf-8") as f:
            lines = f.read().split("\n")
        topic = None
        block = []  # lines of the paragraph being read

        def flush():
            if block:
                topic.paragraphs.append(paragraph_of(block))
                block.clear()

        def paragraph_of(lines_with_where):
            first, where = lines_with_where[0]
            if first.startswith("> "):
                return ("message", "\n".join(message_line(l) for l, _ in lines_with_where),
                        where)
            text = " ".join(l.strip() for l, _ in lines_with_where)
            for prefix, kind in (("== ", "subheading"), ("* ", "bullet")):
                if text.startswith(prefix):
                    return (kind, text[len(prefix):], where)
            return ("text", text, where)

        for number, raw in enumerate(lines, 1):
            line = raw.rstrip()
            where = "%s:%d" % (path, number)
            if line.startswith("#"):
                continue
            if line.startswith("."):
                word, _, value = line[1:].partition(" ")
                value = value.strip()
                if word == "helptitle":
                    title = value
                    continue
                if word == "topic":
                    if topic is not None:
                        flush()
                    if not CONTEXT_NAME.match(value):
                        raise SourceError("%s: context string %r may hold only letters, "
                                          "digits, '.' and '_'" % (where, value))
                    topic = Topic(value, where)
                    topics.append(topic)
                    continue
                if topic is None:
                    raise SourceError("%s: .%s before the first .topic" % (where, word))
                if word == "title":
                    topic.title = value
                elif word == "map":
                    try:
                        topic.maps.append(int(value, 0))
                    except ValueError:
                        raise SourceError("%s: .map needs a number, not %r" % (where, value))
                elif word == "keywords":
                    topic.keywords += [k.strip() for k in value.split(";") if k.strip()]
                elif word == "popup":
                    topic.popup = True
                elif word == "contents":
                    topic.contents = True
                else:
                    raise SourceError("%s: unknown directive .%s" % (where, word))
                continue
            if topic is None:
                if line.strip():
                    raise SourceError("%s: text before the first .topic" % where)
                continue
            if not line.strip():
                flush()
            elif (line.startswith(("* ", "== ")) and block
                  and not block[0][0].startswith("> ")):
                flush()
                block.append((line, where))
            else:
                block.append((line, where))
        if topic is not None:
            flush()
    return title, topics


# ---- paragraphs into topic records ----

INLINE = re.compile(r"\*\*(.+?)\*\*|\{(\^?)([^{}|]+)\|([^{}|]+)\}")


def encode_text(text, where):
    try:
        return text.encode("cp1252")
    except UnicodeEncodeError as e:
        raise SourceError("%s: %r has no code page 1252 form" % (where, text[e.start:e.end]))


class Paragraph:
    """One text record: its strings and formatting commands, and the jumps
    and popups it holds."""

    def __init__(self, font):
        # Every command has one string before it: the first is empty.
        self.strings = [b"", b""]
        self.commands = [b"\x80" + struct.pack("<H", font)]
        self.links = []  # context strings reached from here
        self.font = font

    def text(self, data):
        self.strings[-1] += data

    def command(self, data):
        self.commands.append(data)
        self.strings.append(b"")

    def end(self, flags, values):
        self.command(b"\x82")
        self.commands.append(b"\xff")
        ld2 = b"".join(s + b"\0" for s in self.strings)
        ld1 = (comp_long(len(ld2)) + comp_ushort(len(ld2)) + b"\x00\x80\x00\x00" +
               struct.pack("<H", flags) + values + b"".join(self.commands))
        return ld1, ld2


def build_paragraph(kind, text, where, names):
    font = {"subheading": FONT_SUBHEADING, "message": FONT_MESSAGE,
            "heading": FONT_HEADING}.get(kind, FONT_NORMAL)
    p = Paragraph(font)
    flags, values = 0x0004, comp_short(SPACE_AFTER)
    if kind == "bullet":
        flags |= 0x0010
        values += comp_short(BULLET_INDENT)
        p.text(b"\x95 ")
    elif kind == "message":
        flags |= 0x0010
        values += comp_short(MESSAGE_INDENT)
    if kind in ("message", "heading"):
        lines = text.split("\n")
        for i, line in enumerate(lines):
            if i:
                p.command(b"\x81")
            p.text(encode_text(line, where))
        return p.end(flags, values), p.links
    pos = 0
    for m in INLINE.finditer(text):
        p.text(encode_text(text[pos:m.start()], where))
        pos = m.end()
        if m.group(1) is not None:
            p.command(b"\x80" + struct.pack("<H", FONT_BOLD))
            p.text(encode_text(m.group(1), where))
            p.command(b"\x80" + struct.pack("<H", font))
            continue
        popup, label, target = m.group(2), m.group(3), m.group(4).strip()
        if target not in names:
            raise SourceError("%s: link to unknown topic %r" % (where, target))
        p.links.append(target)
        p.command((b"\xe2" if popup else b"\xe3") + struct.pack("<i", context_hash(target)))
        p.text(encode_text(label, where))
        p.command(b"\x89")
    p.text(encode_text(text[pos:], where))
    return p.end(flags, values), p.links


def topic_records(topic, names):
    """The topic's text records as (LinkData1, LinkData2) pairs."""
    records = []
    if not topic.popup and topic.title:
        records.append(build_paragraph("heading", topic.title, topic.where, names)[0])
    for kind, text, where in topic.paragraphs:
        records.append(build_paragraph(kind, text, where, names)[0])
    if not records:
        raise SourceError("%s: topic %s has no text" % (topic.where, topic.name))
    return records


# ---- the |TOPIC file ----


def layout_topics(topics, names):
    """Places every record in the 4 KB blocks. Returns the |TOPIC content
    and each topic's TOPICOFFSET."""
    capacity = BLOCK_SIZE - BLOCK_HEADER
    blocks = [bytearray()]  # expanded data of each block
    placed = []  # [block, offset, type, ld1, ld2, topic index]
    offsets = []  # TOPICOFFSET of each topic
    chars = 0  # characters so far in the current block

    def place(kind, ld1, ld2, index, keep=0):
        nonlocal chars
        size = TOPIC_RECORD_HEADER + len(ld1) + len(ld2)
        if lz77_size(size + keep) > capacity:
            raise SourceError("topic %s: a paragraph of %d bytes does not fit a block"
                              % (topics[index].name, size))
        # A topic's header stays in the block of its first text.
        if lz77_size(len(blocks[-1]) + size + keep) > capacity:
            blocks.append(bytearray())
            chars = 0
        placed.append([len(blocks) - 1, len(blocks[-1]), kind, ld1, ld2, index])
        blocks[-1] += bytes(size)  # filled in below, once every address is known
        return chars

    for index, topic in enumerate(topics):
        texts = topic_records(topic, names)
        # The header's data is filled in below; its size is fixed.
        first = TOPIC_RECORD_HEADER + len(texts[0][0]) + len(texts[0][1])
        header_at = place(0x02, bytes(28), encode_text(topic.title or topic.name, topic.where),
                          index, first)
        offsets.append((len(blocks) - 1) * 0x8000 + header_at)
        for ld1, ld2 in texts:
            place(0x20, ld1, ld2, index)
            chars += len(ld2)

    def topicpos(record):
        return record[0] * 0x4000 + BLOCK_HEADER + record[1]

    headers = [r for r in placed if r[2] == 0x02]
    for i, r in enumerate(placed):
        if r[2] != 0x02:
            continue
        index = r[5]
        own = [q for q in placed if q[5] == index]
        size = sum(TOPIC_RECORD_HEADER + len(q[3]) + len(q[4]) for q in own)
        h = headers.index(r)
        r[3] = struct.pack("<IiiIiii", size,
                           offsets[index - 1] if index > 0 else -1,
                           offsets[index + 1] if index + 1 < len(topics) else -1,
                           index, -1, topicpos(placed[i + 1]),
                           topicpos(headers[h + 1]) if h + 1 < len(headers) else -1)
    for i, r in enumerate(placed):
        block, offset, kind, ld1, ld2, _ = r
        prev = topicpos(placed[i - 1]) if i > 0 else 0xFFFFFFFF
        nxt = topicpos(placed[i + 1]) if i + 1 < len(placed) else 0xFFFFFFFF
        data = struct.pack("<IIIIIB", TOPIC_RECORD_HEADER + len(ld1) + len(ld2), len(ld2),
                           prev, nxt, TOPIC_RECORD_HEADER + len(ld1), kind) + ld1 + ld2
        blocks[block][offset:offset + len(data)] = data

    out = bytearray()
    last_header = 0xFFFFFFFF
    for b, data in enumerate(blocks):
        mine = [r for r in placed if r[0] == b]
        before = [r for r in placed if r[0] < b]
        header = struct.pack("<III", topicpos(before[-1]) if before else 0xFFFFFFFF,
                             topicpos(mine[0]), last_header)
        for r in mine:
            if r[2] == 0x02:
                last_header = topicpos(r)
        packed = header + lz77_literals(bytes(data))
        out += packed + bytes(BLOCK_SIZE - len(packed))
    return bytes(out), offsets


# ---- B+ trees ----


def btree(entries, page_size, structure, flags):
    """A B+ tree over (key, value) pairs already in the reader's order; the
    key alone, with the child page, makes an index entry."""
    leaves = [[]]
    used = 8
    for key, value in entries:
        size = len(key) + len(value)
        if used + size > page_size and leaves[-1]:
            leaves.append([])
            used = 8
        leaves[-1].append((key, value))
        used += size
    pages = []
    for i, leaf in enumerate(leaves):
        body = b"".join(k + v for k, v in leaf)
        pages.append(struct.pack("<HHHH", page_size - 8 - len(body), len(leaf),
                                 i - 1 if i > 0 else 0xFFFF,
                                 i + 1 if i + 1 < len(leaves) else 0xFFFF) + body)
    # Index levels above the leaves: (first key, page) of each child.
    level = [(leaf[0][0] if leaf else b"", i) for i, leaf in enumerate(leaves)]
    levels = 1
    while len(level) > 1:
        parents = [[]]
        used = 6
        for key, page in level:
            size = len(key) + 2
            if used + size > page_size and parents[-1]:
                parents.append([])
                used = 6
            parents[-1].append((key, page))
            used += size
        next_level = []
        for group in parents:
            body = b"".join(k + struct.pack("<H", p) for k, p in group[1:])
            next_level.append((group[0][0], len(pages)))
            pages.append(struct.pack("<HHH", page_size - 6 - len(body), len(group) - 1,
                                     group[0][1]) + body)
        level = next_level
        levels += 1
    pages = [p + bytes(page_size - len(p)) for p in pages]
    header = struct.pack("<HHH16sHHHHHHI", 0x293B, flags, page_size, structure.encode(), 0, 0,
                         len(pages) - 1, 0xFFFF, len(pages), levels, len(entries))
    return header + b"".join(pages)


# ---- the other internal files ----


def system_file(title, contents_offset):
    data = struct.pack("<HHHIH", 0x036C, 21, 1, 0, 4)
    data += struct.pack("<HH", 1, len(title) + 1) + title + b"\0"
    data += struct.pack("<HHI", 3, 4, contents_offset)
    return data


def font_file():
    slot = 20
    data = struct.pack("<HHHH", len(FACES), len(FONTS), 8, 8 + slot * len(FACES))
    for face in FACES:
        data += face.encode().ljust(slot, b"\0")
    for attributes, size, family, face in FONTS:
        data += struct.pack("<BBBH", attributes, size, family, face) + bytes(6)
    return data


def context_file(topics, offsets):
    entries = {}
    for topic, offset in zip(topics, offsets):
        h = context_hash(topic.name)
        if h in entries:
            raise SourceError("%s: context strings %s and %s have the same hash"
                              % (topic.where, entries[h][0], topic.name))
        entries[h] = (topic.name, offset)
    rows = [(struct.pack("<i", h), struct.pack("<I", entries[h][1])) for h in sorted(entries)]
    return btree(rows, 2048, "L4", 0x0002)


def ctxomap_file(topics, offsets):
    ids = {}
    for topic, offset in zip(topics, offsets):
        for number in topic.maps:
            if number in ids:
                raise SourceError("%s: help context id %d is mapped twice" % (topic.where, number))
            ids[number] = offset
    data = struct.pack("<H", len(ids))
    for number in sorted(ids):
        data += struct.pack("<II", number & 0xFFFFFFFF, ids[number])
    return data


def keyword_files(topics, offsets):
    words = {}
    for topic, offset in zip(topics, offsets):
        for word in topic.keywords:
            words.setdefault(encode_text(word, topic.where), []).append(offset)
    kwdata = b""
    rows = []
    for word in sorted(words, key=lambda w: (w.lower(), w)):
        rows.append((word + b"\0", struct.pack("<HI", len(words[word]), len(kwdata))))
        kwdata += b"".join(struct.pack("<I", o) for o in words[word])
    return btree(rows, 2048, "F24", 0x0002), kwdata


def assemble(files):
    """The whole .hlp: header, internal files, then the directory."""
    out = bytearray(16)
    where = {}
    for name in sorted(files):
        content = files[name]
        where[name] = len(out)
        out += struct.pack("<IIB", len(content) + 9, len(content), 4) + content
    rows = [(name.encode() + b"\0", struct.pack("<I", where[name])) for name in sorted(files)]
    directory = btree(rows, 1024, "z4", 0x0402)
    directory_at = len(out)
    out += struct.pack("<IIB", len(directory) + 9, len(directory), 4) + directory
    out[0:16] = struct.pack("<IIiI", MAGIC, directory_at, -1, len(out))
    return bytes(out)


def build(paths):
    title, topics = parse_sources(paths)
    if not topics:
        raise SourceError("no topics in %s" % ", ".join(paths))
    names = {}
    for topic in topics:
        if topic.name in names:
            raise SourceError("%s: topic %s is already defined at %s"
                              % (topic.where, topic.name, names[topic.name].where))
        names[topic.name] = topic
    chosen = [t for t in topics if t.contents]
    if len(chosen) > 1:
        raise SourceError("%s: a second .contents topic" % chosen[1].where)
    contents = chosen[0] if chosen else topics[0]
    topic_data, offsets = layout_topics(topics, names)
    files = {
        "|SYSTEM": system_file(encode_text(title, "title"), offsets[topics.index(contents)]),
        "|FONT": font_file(),
        "|TOPIC": topic_data,
        "|CONTEXT": context_file(topics, offsets),
        "|CTXOMAP": ctxomap_file(topics, offsets),
    }
    if any(t.keywords for t in topics):
        files["|KWBTREE"], files["|KWDATA"] = keyword_files(topics, offsets)
    return assemble(files)


def main(argv):
    parser = argparse.ArgumentParser(description="Writes a WinHelp 3.1 file from topic sources.")
    parser.add_argument("-o", "--output", required=True)
    parser.add_argument("sources", nargs="+")
    args = parser.parse_args(argv)
    try:
        data = build(args.sources)
    except SourceError as e:
        print("hlpgen: %s" % e, file=sys.stderr)
        return 1
    with open(args.output, "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
