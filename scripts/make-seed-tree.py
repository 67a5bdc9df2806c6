#!/usr/bin/env python3
"""Write a deterministic source tree shaped like the distributed periodical's content.

Usage: make-seed-tree.py OUTDIR

The tree holds 376 entries: 371 files and 5 directories. Four directories form one
chain (the deepest files lie 4 directories down, paths of five segments) and one more
directory sits at the root. Names are 4 to 49 ASCII characters long, with and without
a dot. The longest relative path, counted as "\\" + segment for each segment, is 50
characters and belongs to a file at the root whose name has 49 characters. Files are
35 to 157,170 bytes long, 33 of them longer than 32,768 bytes, none empty, 5,745,418
bytes in all.

Everything (names, sizes, contents, modification times) follows from fixed seeds, so
the same command always writes the same bytes and times, and an archive packed from
the tree is reproducible. Times are local times in 1999, on even seconds (the archive
keeps MS-DOS time stamps), away from the hours around daylight-saving changes.

OUTDIR must not exist yet or must be empty.
"""

import hashlib
import os
import sys
import time

FILE_COUNT = 371
DIR_COUNT = 5
TOTAL_BYTES = 5_745_418
MIN_SIZE = 35
MAX_SIZE = 157_170
BLOCK = 32_768
LARGE_COUNT = 33          # files longer than one 32,768-byte copy block
MIN_NAME = 4
MAX_NAME = 49
LONGEST_PATH = 50         # "\" + the 49-character root file name

# The directory chain, outermost first, and the extra directory at the root.
CHAIN = ["numery", "1999", "marzec", "galeria"]
SIDE_DIR = "obrazki"

# How many files each directory holds (root first); the sum is FILE_COUNT.
FILES_PER_DIR = {
    (): 120,
    ("numery",): 60,
    ("numery", "1999"): 50,
    ("numery", "1999", "marzec"): 60,
    ("numery", "1999", "marzec", "galeria"): 41,
    ("obrazki",): 40,
}

# The one 49-character name at the root, and one 4-character file name.
LONGEST_NAME = "kalendarium-imprez-kulturalnych-wiosna-1999-a.htm"
SHORTEST_NAME = "logo"

# Sizes that sit on the edges of the extractor's 32,768-byte copy block.
EDGE_SIZES = [MIN_SIZE, MAX_SIZE, BLOCK - 1, BLOCK, BLOCK + 1, 2 * BLOCK, 2 * BLOCK + 1,
              3 * BLOCK, 36, 511, 512, 513]

WORDS = [
    "rynek", "ratusz", "zamek", "wzgorze", "rzeka", "most", "kosciol", "szkola",
    "biblioteka", "muzeum", "teatr", "kino", "park", "ogrod", "dworzec", "poczta",
    "kronika", "historia", "kalendarz", "imprezy", "koncert", "wystawa", "festyn",
    "jarmark", "spacer", "szlak", "rower", "gory", "pogorze", "dolina", "las",
    "redakcja", "autorzy", "listy", "ogloszenia", "sport", "mecz", "turniej",
    "wiosna", "zima", "marzec", "kwiecien", "numer", "archiwum", "galeria",
    "zdjecia", "mapa", "plan", "miasto", "region", "gmina", "powiat", "ludzie",
    "rozmowa", "felieton", "wstepniak", "reportaz", "portret", "rzemioslo",
    "kuchnia", "przepisy", "legenda", "podanie", "pomnik", "cmentarz", "kapliczka",
]
TEXT_EXT = [".htm", ".html", ".txt", ".css"]
BINARY_EXT = [".gif", ".jpg", ".png", ".bmp"]
TEXT_ALPHABET = (b"abcdefghijklmnoprstuwyzABCDEKLMNPRSTWZ          ....,,;:-()0123456789"
                 b"acelnoszzACELNOSZZ\n")


class SplitMix64:
    """A small fixed PRNG, so the tree never depends on the Python version's random."""

    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFFFFFFFFFF

    def next64(self):
        self.state = (self.state + 0x9E3779B97F4A7C15) & 0xFFFFFFFFFFFFFFFF
        z = self.state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & 0xFFFFFFFFFFFFFFFF
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & 0xFFFFFFFFFFFFFFFF
        return z ^ (z >> 31)

    def below(self, n):
        return self.next64() % n

    def between(self, lo, hi):
        """An integer from lo to hi inclusive."""
        return lo + self.below(hi - lo + 1)

    def pick(self, seq):
        return seq[self.below(len(seq))]


def path_length(segments):
    return sum(1 + len(p) for p in segments)


def make_names(rng, directory, count, taken):
    """count file names for directory, unique ignoring case, paths below LONGEST_PATH."""
    names = []
    room = LONGEST_PATH - 1 - path_length(directory) - 1   # longest name allowed here
    while len(names) < count:
        words = [rng.pick(WORDS) for _ in range(rng.between(1, 4))]
        stem = "-".join(words)
        if rng.below(5) == 0:
            stem += "-%02d" % rng.between(1, 99)
        kind = rng.below(10)
        if kind < 5:
            ext = rng.pick(TEXT_EXT)
        elif kind < 9:
            ext = rng.pick(BINARY_EXT)
        else:
            ext = ""                                    # a name without a dot
        if rng.below(6) == 0:
            stem = stem.upper() if rng.below(2) else stem.capitalize()
        name = stem + ext
        if not (MIN_NAME <= len(name) <= min(MAX_NAME - 1, room)):
            continue
        key = name.lower()
        if key in taken:
            continue
        taken.add(key)
        names.append(name)
    return names


def make_sizes(rng, count):
    """count sizes: the edge sizes, then random ones, adjusted to TOTAL_BYTES exactly."""
    sizes = list(EDGE_SIZES)
    large = sum(1 for s in sizes if s > BLOCK)
    while len(sizes) < count:
        if large < LARGE_COUNT:
            sizes.append(rng.between(BLOCK + 1, MAX_SIZE - 1))
            large += 1
        else:
            # Mostly small pages and pictures, some of a few blocks' worth of kilobytes.
            if rng.below(4) == 0:
                sizes.append(rng.between(4_096, BLOCK - 2))
            else:
                sizes.append(rng.between(MIN_SIZE + 2, 12_000))
    # Spread the difference evenly over the random sizes, each staying on its side of
    # BLOCK and strictly inside MIN_SIZE..MAX_SIZE, so the edge sizes stay the extremes.
    adjustable = range(len(EDGE_SIZES), count)
    diff = TOTAL_BYTES - sum(sizes)
    while diff != 0:
        share = -(-abs(diff) // len(adjustable))
        for i in adjustable:
            s = sizes[i]
            lo, hi = (BLOCK + 1, MAX_SIZE - 1) if s > BLOCK else (MIN_SIZE + 1, BLOCK - 1)
            if diff > 0:
                step = min(share, diff, hi - s)
            else:
                step = max(-share, diff, lo - s)
            sizes[i] += step
            diff -= step
            if diff == 0:
                break
    return sizes


def content(name, size, seed):
    """size bytes of seeded data: text-like for text names, raw bytes otherwise."""
    raw = hashlib.shake_256(b"seed-tree/%d/%s" % (seed, name.encode("ascii"))).digest(size)
    ext = os.path.splitext(name)[1].lower()
    if ext in TEXT_EXT or ext == "":
        table = bytes(TEXT_ALPHABET[b % len(TEXT_ALPHABET)] for b in range(256))
        return raw.translate(table)
    return raw


def local_time_1999(rng):
    """A local time in 1999 on an even second, between 08:00 and 19:59."""
    month = rng.between(1, 12)
    day = rng.between(1, 28)
    t = (1999, month, day, rng.between(8, 19), rng.between(0, 59), 2 * rng.between(0, 29),
         0, 0, -1)
    return int(time.mktime(t))


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: make-seed-tree.py OUTDIR\n")
        return 2
    out = argv[1]
    if os.path.exists(out) and os.listdir(out):
        sys.stderr.write("make-seed-tree.py: %s exists and is not empty\n" % out)
        return 1
    os.makedirs(out, exist_ok=True)

    assert len(LONGEST_NAME) == MAX_NAME and len(SHORTEST_NAME) == MIN_NAME
    rng = SplitMix64(0x7A72_0399)
    directories = [tuple(CHAIN[:i + 1]) for i in range(len(CHAIN))] + [(SIDE_DIR,)]
    assert len(directories) == DIR_COUNT
    assert sum(FILES_PER_DIR.values()) == FILE_COUNT

    # Names, directory by directory; the root gets the 49- and 4-character ones.
    files = []
    for directory in [()] + directories:
        taken = set()
        count = FILES_PER_DIR[directory]
        fixed = []
        if directory == ():
            fixed = [LONGEST_NAME, SHORTEST_NAME]
        for sub in directories:                     # no file may share a directory's name
            if len(sub) == len(directory) + 1 and sub[:-1] == directory:
                taken.add(sub[-1].lower())
        taken.update(n.lower() for n in fixed)
        for name in fixed + make_names(rng, directory, count - len(fixed), taken):
            files.append(directory + (name,))

    sizes = make_sizes(rng, FILE_COUNT)
    # Deal the sizes out in a seeded order, so edge sizes land in various directories,
    # but keep the largest file at the root's longest name.
    order = list(range(FILE_COUNT))
    for i in range(FILE_COUNT - 1, 0, -1):
        j = rng.below(i + 1)
        order[i], order[j] = order[j], order[i]
    assigned = [sizes[k] for k in order]
    big = assigned.index(MAX_SIZE)
    assigned[0], assigned[big] = assigned[big], assigned[0]

    for directory in directories:
        os.makedirs(os.path.join(out, *directory), exist_ok=True)
    times = {}
    for index, (segments, size) in enumerate(zip(files, assigned)):
        path = os.path.join(out, *segments)
        with open(path, "wb") as f:
            f.write(content("/".join(segments), size, index))
        times[path] = local_time_1999(rng)
    for path, t in times.items():
        os.utime(path, (t, t))
    # Directories last, deepest first: writing into a directory changes its time.
    for directory in sorted(directories, key=len, reverse=True):
        t = local_time_1999(rng)
        os.utime(os.path.join(out, *directory), (t, t))

    longest = max(path_length(p) for p in files + directories)
    print("%s: %d entries (%d files, %d directories), %d bytes, sizes %d..%d, "
          "%d files over %d bytes, longest path %d" % (
              out, len(files) + len(directories), len(files), len(directories),
              sum(assigned), min(assigned), max(assigned),
              sum(1 for s in assigned if s > BLOCK), BLOCK, longest))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
