#!/usr/bin/env python3
"""Makes the many-small-files benchmark: 5,000 files of 1 to 20 KB in 250 folders.

    bench/many_files.py OUT [--tool PATH]

Writes into the folder OUT (made if missing; left as it is when it already holds a
complete set from this version of the script):

- tree/          the files: tree/dNNN/NNNN.EXT, 20 a folder, 52.5 MB in all;
- many.lzh       `mavusfx pack tree --method lh5`: 250 folder and 5,000 file members;
- one.lzh        the same bytes joined into one file, packed the same way: what
                 decoding the content costs without the members around it;
- files.tsv      one line a file, "PATH<TAB>SIZE<TAB>UNIX-TIME" (PATH with '\\'), in
                 the archive's order: the floor program's list (bench/floor_writer.c).

The content is made from a fixed seed, so every run makes the same bytes and the
same archives.  It is meant to compress as real files do, not as one pattern: a
fifth is prose (words of a Zipf-like vocabulary in sentences and paragraphs), a
fifth source-like text (indented lines of identifiers, keywords and operators), a
fifth records (comma-separated numbers, dates and names), a fifth markup, and a
fifth binary: half of those structured (little-endian records with slowly moving
fields), half incompressible (as images and archives are).  -lh5- packs the whole
to 0.45 of its size (53,445,461 bytes to 24,590,617 with the headers).
"""
import argparse
import os
import random
import struct
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
VERSION = "1"
FOLDERS, PER_FOLDER = 250, 20
SMALLEST, LARGEST = 1000, 20000
FILE_TIME = 1700000000          # 2023-11-14, every file's modification time
SEED = 20260101

KEYWORDS = ("if", "else", "for", "while", "return", "int", "static", "const", "void",
            "struct", "unsigned", "char", "break", "case", "switch", "bool", "true",
            "false", "nullptr", "sizeof")
OPERATORS = (" = ", " == ", " + ", " - ", " * ", " < ", " >= ", " && ", " || ", "->", ".",
             ", ", "(", ")", "[", "]", "; ", " != ", " += ", " << ")
TAGS = ("div", "span", "p", "a", "li", "ul", "td", "tr", "table", "section", "h2", "img")


def vocabulary(rng, count):
    letters = "etaoinshrdlcumwfgypbvkjxqz"
    weights = [12.7, 9.1, 8.2, 7.5, 7.0, 6.7, 6.3, 6.1, 6.0, 4.3, 4.0, 2.8, 2.8, 2.4, 2.4,
               2.2, 2.0, 2.0, 1.9, 1.5, 1.0, 0.8, 0.2, 0.2, 0.1, 0.1]
    words = set()
    while len(words) < count:
        length = min(1 + int(rng.expovariate(0.25)), 14)
        words.add("".join(rng.choices(letters, weights, k=length)))
    words = sorted(words, key=len)
    rng.shuffle(words)
    ranks = [1.0 / (i + 1) ** 1.05 for i in range(count)]
    return words, ranks


class Maker:
    def __init__(self, seed):
        self.rng = random.Random(seed)
        self.words, self.ranks = vocabulary(self.rng, 6000)
        self.cum = []
        total = 0.0
        for r in self.ranks:
            total += r
            self.cum.append(total)

    def take_words(self, n):
        return self.rng.choices(self.words, cum_weights=self.cum, k=n)

    def prose(self, size):
        rng, out, length = self.rng, [], 0
        while length < size:
            sentence = self.take_words(rng.randint(5, 24))
            sentence[0] = sentence[0].capitalize()
            text = " ".join(sentence) + rng.choice(".....?!;")
            text += "\n\n" if rng.random() < 0.15 else " "
            out.append(text)
            length += len(text)
        return "".join(out).encode()[:size]

    def source(self, size):
        rng, out, length, depth = self.rng, [], 0, 1
        idents = self.take_words(400)
        idents = [w + "_" + v if rng.random() < 0.4 else w for w, v in zip(idents, idents[1:] + idents[:1])]
        while length < size:
            parts = []
            for _ in range(rng.randint(2, 9)):
                parts.append(rng.choice(KEYWORDS) if rng.random() < 0.25 else rng.choice(idents))
                parts.append(rng.choice(OPERATORS))
            if rng.random() < 0.1:
                parts.append(str(rng.randint(0, 4096)))
            line = "    " * depth + "".join(parts).rstrip() + rng.choice((";", ";", ";", " {", "}")) + "\n"
            depth = max(0, min(5, depth + (1 if line.endswith("{\n") else -1 if line.endswith("}\n") else 0)))
            if rng.random() < 0.05:
                line += "    " * depth + "// " + " ".join(self.take_words(rng.randint(3, 12))) + "\n"
            out.append(line)
            length += len(line)
        return "".join(out).encode()[:size]

    def records(self, size):
        rng, out, length = self.rng, [], 0
        names = self.take_words(300)
        day, amount = rng.randint(0, 3000), rng.randint(100, 100000)
        while length < size:
            day += rng.randint(0, 2)
            amount = max(1, amount + rng.randint(-500, 500))
            line = "%d,%04d-%02d-%02d,%s,%s,%d.%02d,%d\n" % (
                rng.randint(1, 999999), 2000 + day // 365, 1 + day % 365 // 31, 1 + day % 28,
                rng.choice(names), rng.choice(names), amount // 100, amount % 100, rng.randint(0, 9))
            out.append(line)
            length += len(line)
        return "".join(out).encode()[:size]

    def markup(self, size):
        rng, out, length = self.rng, [], 0
        while length < size:
            tag = rng.choice(TAGS)
            attr = ' class="%s"' % "-".join(self.take_words(2)) if rng.random() < 0.6 else ""
            text = " ".join(self.take_words(rng.randint(1, 14)))
            line = "%s<%s%s>%s</%s>\n" % ("  " * rng.randint(1, 6), tag, attr, text, tag)
            out.append(line)
            length += len(line)
        return "".join(out).encode()[:size]

    def binary(self, size):
        rng = self.rng
        if rng.random() < 0.5:
            return rng.randbytes(size)
        out, fields = bytearray(), [rng.randint(0, 1 << 20) for _ in range(4)]
        while len(out) < size:
            fields = [f + rng.randint(-3, 8) for f in fields]
            out += struct.pack("<IHHiB3x", fields[0] & 0xFFFFFFFF, fields[1] & 0xFFFF,
                               rng.randint(0, 15), fields[2], rng.randint(0, 3))
        return bytes(out[:size])


def make(out, tool):
    stamp = os.path.join(out, "complete")
    if os.path.exists(stamp) and open(stamp).read() == VERSION:
        return
    tree = os.path.join(out, "tree")
    subprocess.run(["rm", "-rf", tree, os.path.join(out, "many.lzh"), os.path.join(out, "one.lzh"),
                    stamp], check=True)
    os.makedirs(tree)
    maker = Maker(SEED)
    kinds = [("txt", maker.prose), ("c", maker.source), ("csv", maker.records),
             ("html", maker.markup), ("dat", maker.binary)]
    listing, joined = [], []
    for d in range(FOLDERS):
        folder = "d%03d" % d
        os.mkdir(os.path.join(tree, folder))
        for f in range(PER_FOLDER):
            ext, make_content = kinds[maker.rng.randrange(len(kinds))]
            size = maker.rng.randint(SMALLEST, LARGEST)
            name = "%04d.%s" % (d * PER_FOLDER + f, ext)
            data = make_content(size)
            path = os.path.join(tree, folder, name)
            with open(path, "wb") as file:
                file.write(data)
            os.utime(path, (FILE_TIME, FILE_TIME))
            listing.append((folder + "\\" + name, size))
            joined.append(data)
        os.utime(os.path.join(tree, folder), (FILE_TIME, FILE_TIME))
    # The archive's order is the packer's (names sorted), which this one is.
    with open(os.path.join(out, "files.tsv"), "w") as f:
        for path, size in listing:
            f.write("%s\t%d\t%d\n" % (path, size, FILE_TIME))
    subprocess.run([tool, "pack", tree, "-o", os.path.join(out, "many.lzh"), "--method", "lh5"],
                   check=True, stdout=subprocess.DEVNULL)
    single = os.path.join(out, "single")
    subprocess.run(["rm", "-rf", single], check=True)
    os.makedirs(single)
    with open(os.path.join(single, "joined.bin"), "wb") as f:
        f.write(b"".join(joined))
    os.utime(os.path.join(single, "joined.bin"), (FILE_TIME, FILE_TIME))
    subprocess.run([tool, "pack", single, "-o", os.path.join(out, "one.lzh"), "--method", "lh5"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["rm", "-rf", single], check=True)
    with open(stamp, "w") as f:
        f.write(VERSION)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("out")
    parser.add_argument("--tool", default=os.path.join(ROOT, "build/native/mavusfx"))
    args = parser.parse_args()
    make(os.path.abspath(args.out), os.path.abspath(args.tool))
    return 0


if __name__ == "__main__":
    sys.exit(main())
