#!/usr/bin/env python3
"""Changes the files of a folder in place the way a fan translation changes a game's files:
in some of the files, some of the texts (ASCII strings and the UTF-16 strings of Windows
resources) are replaced by other texts of the same length, so that no file changes its size
and the disc image made from the folder keeps its layout. The same folder and seed always give
the same bytes.

    translate.py FOLDER [SEED]        prints how many texts it replaced
"""
import os
import random
import re
import sys

ASCII_TEXT = re.compile(rb"[A-Za-z][ -~]{11,}")
WIDE_TEXT = re.compile(rb"(?:[A-Za-z]\x00)(?:[ -~]\x00){7,}")
FILE_SHARE = 0.35    # of the files, this many are translated
TEXT_SHARE = 0.014   # of their texts, this many are replaced
LETTERS = "aeiouaeiounrstlmdkgpbvzhy"


def translated(length, rng):
    """A text of `length` characters that reads like a word-wrapped sentence."""
    out = []
    while len(out) < length:
        word = "".join(rng.choice(LETTERS) for _ in range(rng.randint(2, 9)))
        out.extend(word + " ")
    return "".join(out[:length])


def translate_file(path, rng):
    with open(path, "rb") as f:
        data = bytearray(f.read())
    replaced = 0
    for pattern, wide in ((ASCII_TEXT, False), (WIDE_TEXT, True)):
        for match in pattern.finditer(bytes(data)):
            if rng.random() >= TEXT_SHARE:
                continue
            length = (match.end() - match.start()) // (2 if wide else 1)
            text = translated(length, rng).encode("ascii")
            if wide:
                text = text.decode("ascii").encode("utf-16-le")
            data[match.start():match.end()] = text
            replaced += 1
    if replaced:
        with open(path, "r+b") as f:
            f.write(data)
    return replaced


def main():
    folder = sys.argv[1]
    rng = random.Random(int(sys.argv[2]) if len(sys.argv) > 2 else 21)
    files = sorted(os.path.join(root, name) for root, _, names in os.walk(folder) for name in names)
    replaced = 0
    for path in files:
        if rng.random() < FILE_SHARE:
            replaced += translate_file(path, rng)
    print(f"{replaced} texts replaced in {folder}")


if __name__ == "__main__":
    main()
