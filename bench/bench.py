#!/usr/bin/env python3
"""Extraction and packing speed of vek/vekpack against tar, unzip and 7z on the same
trees, measured side by side in one run; prints medians and ratios.

Usage: bench.py [--quick] [--runs N] [--only seed|big|many] BUILD-DIR
BUILD-DIR is a native build (build/native) holding tools/vek and tools/vekpack.
Needs tar, zip/unzip and 7-Zip (7z or 7zz); installs zip, unzip and 7zip when missing.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


SEVEN_ZIP = shutil.which("7z") and "7z" or "7zz"  # Debian's 7zip names its program 7zz


def ensure_peers():
    missing = [p for p, c in (("zip", "zip"), ("unzip", "unzip"), ("7zip", SEVEN_ZIP)) if not shutil.which(c)]
    if missing:
        subprocess.run(["apt-get", "install", "-y", "-qq", "--no-install-recommends"] + missing,
                       check=True, stdout=subprocess.DEVNULL)


def run(cmd, cwd=None):
    subprocess.run(cmd, cwd=cwd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def timed(cmd, cwd=None, before=None):
    if before:
        before()
    start = time.perf_counter()
    run(cmd, cwd)
    return time.perf_counter() - start


def fresh(path):
    def go():
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(path)
        subprocess.run(["sync"])
    return go


def make_big_tree(path, total_bytes, files):
    size = total_bytes // files
    block = os.urandom(1 << 20)
    for i in range(files):
        d = os.path.join(path, "d%02d" % (i % 50), "s%02d" % (i % 7))
        os.makedirs(d, exist_ok=True)
        with open(os.path.join(d, "file%05d.bin" % i), "wb") as f:
            left = size
            while left > 0:
                n = min(left, len(block))
                f.write(block[:n])
                left -= n


def make_many_tree(path, files):
    os.makedirs(path)
    per_dir = 256
    for i in range(files):
        d = os.path.join(path, "g%03d" % (i // per_dir))
        if i % per_dir == 0:
            os.makedirs(d)
        with open(os.path.join(d, "f%05d.txt" % i), "wb") as f:
            f.write(b"%d\n" % i * 10)


def count_entries(path):
    n = 0
    for _, dirs, files in os.walk(path):
        n += len(dirs) + len(files)
    return n


def bench_tree(name, tree, tools, scratch, runs):
    vek, vekpack = tools
    work = os.path.join(scratch, name)
    os.makedirs(work)
    archive = os.path.join(work, "a.vek")
    tar = os.path.join(work, "a.tar")
    zipf = os.path.join(work, "a.zip")
    sevenz = os.path.join(work, "a.7z")
    out = os.path.join(work, "out")

    def settle():
        subprocess.run(["sync"])

    # Each tool starts with nothing left to write back, and the order alternates so
    # that neither always pays for the other's write-back.
    pack = {"vekpack": [], "tar -c": []}
    jobs = [("vekpack", [vekpack, "-q", tree, archive]), ("tar -c", ["tar", "-cf", tar, "-C", tree, "."])]
    for r in range(runs):
        for tool, cmd in (jobs if r % 2 == 0 else jobs[::-1]):
            pack[tool].append(timed(cmd, before=settle))
    run(["zip", "-q", "-0", "-r", zipf, "."], cwd=tree)
    run([SEVEN_ZIP, "a", "-mx0", "-bd", sevenz, "."], cwd=tree)

    extract = {"vek extract": [], "tar -x": [], "unzip": [], "7z x": []}
    jobs = [("vek extract", [vek, "extract", "-q", archive, "-C", out]), ("tar -x", ["tar", "-xf", tar, "-C", out]),
            ("unzip", ["unzip", "-q", "-o", zipf, "-d", out]), ("7z x", [SEVEN_ZIP, "x", "-y", "-bd", "-o" + out, sevenz])]
    for r in range(runs):
        for tool, cmd in (jobs if r % 2 == 0 else jobs[::-1]):
            extract[tool].append(timed(cmd, before=fresh(out)))
    shutil.rmtree(work)
    return pack, extract


def report(title, results, reference):
    base = statistics.median(results[reference])
    print("  %s (median of %d runs)" % (title, len(results[reference])))
    for tool, times in results.items():
        m = statistics.median(times)
        print("    %-12s %8.3f s   %5.2fx %s" % (tool, m, m / base, reference))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("build_dir")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--quick", action="store_true", help="smaller trees (100 MiB, 5,000 small files)")
    parser.add_argument("--only", choices=["seed", "big", "many"])
    args = parser.parse_args()
    vek = os.path.join(args.build_dir, "tools", "vek")
    vekpack = os.path.join(args.build_dir, "tools", "vekpack")
    for tool in (vek, vekpack):
        if not os.access(tool, os.X_OK):
            sys.exit("bench: %s is missing: build the native preset first" % tool)
    ensure_peers()
    scratch = tempfile.mkdtemp(prefix="vekbench-", dir=os.environ.get("VEK_BENCH_DIR"))
    try:
        trees = []
        if args.only in (None, "seed"):
            seed = os.path.join(scratch, "seed-tree")
            run([sys.executable, os.path.join(ROOT, "scripts", "make-seed-tree.py"), seed])
            trees.append(("seed-shaped tree (376 entries, 5.5 MiB)", "seed", seed))
        if args.only in (None, "big"):
            big = os.path.join(scratch, "big-tree")
            size, files = ((100 << 20), 1000) if args.quick else ((1 << 30), 10000)
            make_big_tree(big, size, files)
            trees.append(("%d MiB in %d files" % (size >> 20, files), "big", big))
        if args.only in (None, "many"):
            many = os.path.join(scratch, "many-tree")
            count = 5000 if args.quick else 65535 - 256
            make_many_tree(many, count)
            trees.append(("%d small files (%d entries)" % (count, count_entries(many)), "many", many))
        for title, name, tree in trees:
            print("%s:" % title)
            pack, extract = bench_tree(name, tree, (vek, vekpack), scratch, args.runs)
            report("extraction", extract, "tar -x")
            report("packing", pack, "tar -c")
            shutil.rmtree(tree)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
