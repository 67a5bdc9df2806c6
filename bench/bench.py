#!/usr/bin/env python3
"""Extraction and packing speed of vek/vekpack against tar, unzip and 7z on the same
trees, measured side by side in one run; prints each tool's median with the fastest
and slowest run, the ratio of medians, the median processor time (user + system: on
a busy machine it shows each tool's own work where the elapsed time also holds the
wait for a processor), and (with strace installed) the system calls each tool
makes per file.

Usage: bench.py [--quick] [--runs N] [--trees seed,small,mid,big,many] [--dir DIR] [--pack-only] BUILD-DIR
       bench.py --compressed[=LEVEL] [--runs N] [--trees seed,...] [--tree PATH] [--dir DIR] BUILD-DIR
With --compressed, vekpack --compress is measured against `zip -9 -r` and
`tar czf`, and vek extract of its archive against `unzip` and `tar xzf`, on the
same trees in the same run: sizes, packing and extraction times, ratios. --tree
adds a tree of your own (a documentation folder, say), copied into DIR first.
BUILD-DIR is a native build (build/native) holding tools/vek and tools/vekpack.
--dir is where the trees, archives and extracted copies live: /dev/shm (tmpfs) shows
the tools' own work, a folder on disk the file system's as well.
Trees: seed (seed-shaped, 376 entries, 5.5 MiB), small (20,000 files of 20 bytes in
79 folders), mid (300 files of 1 MiB), big (1 GiB in 10,000 files), many (65,279
small files, 65,534 entries).
Needs tar, zip/unzip and 7-Zip (7z or 7zz); installs zip, unzip and 7zip when missing.
"""
import argparse
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


SEVEN_ZIP = shutil.which("7z") and "7z" or "7zz"  # Debian's 7zip names its program 7zz


def ensure_peers(seven_zip=True):
    peers = (("zip", "zip"), ("unzip", "unzip")) + ((("7zip", SEVEN_ZIP),) if seven_zip else ())
    missing = [p for p, c in peers if not shutil.which(c)]
    if missing:
        subprocess.run(["apt-get", "install", "-y", "-qq", "--no-install-recommends"] + missing,
                       check=True, stdout=subprocess.DEVNULL)


def run(cmd, cwd=None):
    subprocess.run(cmd, cwd=cwd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


CPU = {}  # tool -> processor seconds (user + system) of each run


def timed(cmd, cwd=None, before=None, tool=None):
    if before:
        before()
    used = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    run(cmd, cwd)
    elapsed = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if tool:
        CPU.setdefault(tool, []).append(after.ru_utime - used.ru_utime + after.ru_stime - used.ru_stime)
    return elapsed


def fresh(path):
    def go():
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(path)
        subprocess.run(["sync"])
        time.sleep(0.2)  # let deferred work of the deletion pass
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


def make_many_tree(path, files, size=None):
    os.makedirs(path)
    per_dir = 256
    for i in range(files):
        d = os.path.join(path, "g%03d" % (i // per_dir))
        if i % per_dir == 0:
            os.makedirs(d)
        with open(os.path.join(d, "f%05d.txt" % i), "wb") as f:
            f.write(b"%019d\n" % i if size == 20 else b"%d\n" % i * 10)


def make_flat_tree(path, files, size):
    os.makedirs(path)
    block = os.urandom(size)
    for i in range(files):
        with open(os.path.join(path, "m%03d.bin" % i), "wb") as f:
            f.write(block)


def count_entries(path):
    n = 0
    for _, dirs, files in os.walk(path):
        n += len(dirs) + len(files)
    return n


def count_files(path):
    return sum(len(files) for _, _, files in os.walk(path))


STRACE = shutil.which("strace")


def calls_per_file(cmd, files, before=None):
    """System calls of one run of cmd (and its children) per file of the tree."""
    if before:
        before()
    with tempfile.NamedTemporaryFile(mode="r", suffix=".strace") as log:
        subprocess.run(["strace", "-c", "-f", "-o", log.name] + cmd, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        total = 0
        for line in log.read().splitlines():
            fields = line.split()
            if fields and fields[-1] == "total":
                total = int(fields[3] if len(fields) >= 5 else fields[2])
        return total / files


def bench_tree(name, tree, tools, scratch, runs, files, pack_only=False):
    CPU.clear()
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
        time.sleep(0.2)  # let deferred work of the previous run (deletions) pass

    # Each tool starts with nothing left to write back, and the order alternates so
    # that neither always pays for the other's write-back.
    pack = {"vekpack": [], "tar -c": []}
    jobs = [("vekpack", [vekpack, "-q", tree, archive]), ("tar -c", ["tar", "-cf", tar, "-C", tree, "."])]
    for r in range(runs):
        for tool, cmd in (jobs if r % 2 == 0 else jobs[::-1]):
            pack[tool].append(timed(cmd, before=settle, tool=tool))
    calls = {}
    if STRACE:
        for tool, cmd in jobs:
            calls[tool] = calls_per_file(cmd, files)
    if pack_only:
        shutil.rmtree(work)
        return pack, None, calls
    run(["zip", "-q", "-0", "-r", zipf, "."], cwd=tree)
    run([SEVEN_ZIP, "a", "-mx0", "-bd", sevenz, "."], cwd=tree)

    extract = {"vek extract": [], "tar -x": [], "unzip": [], "7z x": []}
    jobs = [("vek extract", [vek, "extract", "-q", archive, "-C", out]), ("tar -x", ["tar", "-xf", tar, "-C", out]),
            ("unzip", ["unzip", "-q", "-o", zipf, "-d", out]), ("7z x", [SEVEN_ZIP, "x", "-y", "-bd", "-o" + out, sevenz])]
    for r in range(runs):
        for tool, cmd in (jobs if r % 2 == 0 else jobs[::-1]):
            extract[tool].append(timed(cmd, before=fresh(out), tool=tool))
    if STRACE:
        for tool, cmd in jobs:
            calls[tool] = calls_per_file(cmd, files, before=fresh(out))
    shutil.rmtree(work)
    return pack, extract, calls


def bench_compressed(name, tree, tools, scratch, runs, level):
    """vekpack --compress against zip -9 and tar czf; vek extract against unzip and tar xzf."""
    CPU.clear()
    vek, vekpack = tools
    work = os.path.join(scratch, name)
    os.makedirs(work)
    paths = {ext: os.path.join(work, "a." + ext) for ext in ("vek", "zip", "tar.gz")}
    archive, zipf, tgz = paths["vek"], paths["zip"], paths["tar.gz"]
    out = os.path.join(work, "out")

    def rm(path):  # each packer starts from no output, with nothing left to write back
        def go():
            if os.path.exists(path):
                os.remove(path)
            subprocess.run(["sync"])
        return go

    compress = "--compress" if level is None else "--compress=%d" % level
    pack = {"vekpack -z": [], "zip -9": [], "tar czf": []}
    jobs = [("vekpack -z", [vekpack, "-q", compress, tree, archive], archive),
            ("zip -9", ["zip", "-q", "-9", "-r", zipf, "."], zipf),
            ("tar czf", ["tar", "czf", tgz, "-C", tree, "."], tgz)]
    for r in range(runs):
        for tool, cmd, made in (jobs if r % 2 == 0 else jobs[::-1]):
            pack[tool].append(timed(cmd, cwd=tree, before=rm(made), tool=tool))
    sizes = {tool: os.path.getsize(made) for tool, _, made in jobs}

    extract = {"vek extract": [], "unzip": [], "tar xzf": []}
    jobs = [("vek extract", [vek, "extract", "-q", archive, "-C", out]),
            ("unzip", ["unzip", "-q", "-o", zipf, "-d", out]),
            ("tar xzf", ["tar", "xzf", tgz, "-C", out])]
    for r in range(runs):
        for tool, cmd in (jobs if r % 2 == 0 else jobs[::-1]):
            extract[tool].append(timed(cmd, before=fresh(out), tool=tool))
    subprocess.run(["diff", "-r", tree, out], check=True, stdout=subprocess.DEVNULL)  # the last run: tar's
    shutil.rmtree(work)
    return sizes, pack, extract


def report_sizes(sizes, original):
    print("  sizes (the tree: %d bytes)" % original)
    for tool, size in sizes.items():
        print("    %-12s %12d bytes  %5.1f%% of the tree  %5.3fx zip -9  %5.3fx tar czf" %
              (tool, size, 100.0 * size / original, size / sizes["zip -9"], size / sizes["tar czf"]))


def tree_bytes(path):
    return sum(os.path.getsize(os.path.join(d, f)) for d, _, files in os.walk(path) for f in files)


def report(title, results, reference, calls, also=None):
    base = statistics.median(results[reference])
    print("  %s (median of %d runs, fastest and slowest in brackets)" % (title, len(results[reference])))
    for tool, times in results.items():
        m = statistics.median(times)
        line = "    %-12s %8.3f s  [%.3f .. %.3f]  %5.2fx %s" % (tool, m, min(times), max(times), m / base, reference)
        if tool in CPU:
            line += "  cpu %.3f s" % statistics.median(CPU[tool])
        if also:
            line += "  %5.2fx %s" % (m / statistics.median(results[also]), also)
        if tool in calls:
            line += "  %6.2f calls/file" % calls[tool]
        print(line)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("build_dir")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--quick", action="store_true", help="smaller trees (100 MiB, 5,000 small files)")
    parser.add_argument("--trees", default="seed,small,mid",
                        help="comma-separated: seed, small, mid, big, many (default seed,small,mid)")
    parser.add_argument("--only", choices=["seed", "small", "mid", "big", "many"], help="one tree")
    parser.add_argument("--dir", default=os.environ.get("VEK_BENCH_DIR"),
                        help="where trees and outputs live (e.g. /dev/shm or a folder on disk)")
    parser.add_argument("--pack-only", action="store_true", help="measure packing only (vekpack and tar -c)")
    parser.add_argument("--compressed", nargs="?", const=0, type=int, metavar="LEVEL",
                        help="vekpack --compress[=LEVEL] against zip -9 and tar czf")
    parser.add_argument("--tree", action="append", default=[], help="a tree of your own, copied first")
    args = parser.parse_args()
    wanted = [args.only] if args.only else [t for t in args.trees.split(",") if t]
    wanted += ["path:" + os.path.abspath(t) for t in args.tree]
    vek = os.path.join(args.build_dir, "tools", "vek")
    vekpack = os.path.join(args.build_dir, "tools", "vekpack")
    for tool in (vek, vekpack):
        if not os.access(tool, os.X_OK):
            sys.exit("bench: %s is missing: build the native preset first" % tool)
    vek, vekpack = os.path.abspath(vek), os.path.abspath(vekpack)
    if not args.pack_only:
        ensure_peers(seven_zip=args.compressed is None)
    if not STRACE:
        print("(strace is not installed: no system-call counts)")
    scratch = tempfile.mkdtemp(prefix="vekbench-", dir=args.dir)
    print("trees and outputs in %s" % scratch)
    try:
        for name in wanted:
            tree = os.path.join(scratch, (os.path.basename(name) if name.startswith("path:") else name) + "-tree")
            if name.startswith("path:"):
                shutil.copytree(name[5:], tree, symlinks=False)
                title = "%s (%d entries, %.1f MiB)" % (name[5:], count_entries(tree), tree_bytes(tree) / 2**20)
                name = os.path.basename(name[5:]) or "tree"
            elif name == "seed":
                run([sys.executable, os.path.join(ROOT, "scripts", "make-seed-tree.py"), tree])
                title = "seed-shaped tree (376 entries, 5.5 MiB)"
            elif name == "small":
                count = 5000 if args.quick else 20000
                make_many_tree(tree, count, size=20)
                title = "%d files of 20 bytes in %d folders" % (count, (count + 255) // 256)
            elif name == "mid":
                count = 100 if args.quick else 300
                make_flat_tree(tree, count, 1 << 20)
                title = "%d files of 1 MiB" % count
            elif name == "big":
                size, files = ((100 << 20), 1000) if args.quick else ((1 << 30), 10000)
                make_big_tree(tree, size, files)
                title = "%d MiB in %d files" % (size >> 20, files)
            elif name == "many":
                count = 5000 if args.quick else 65535 - 256
                make_many_tree(tree, count)
                title = "%d small files (%d entries)" % (count, count_entries(tree))
            else:
                sys.exit("bench: unknown tree %s" % name)
            print("%s:" % title)
            sys.stdout.flush()
            if args.compressed is not None:
                sizes, pack, extract = bench_compressed(name, tree, (vek, vekpack), scratch, args.runs,
                                                        args.compressed or None)
                report_sizes(sizes, tree_bytes(tree))
                report("packing", pack, "zip -9", {}, also="tar czf")
                report("extraction", extract, "unzip", {}, also="tar xzf")
                sys.stdout.flush()
                shutil.rmtree(tree)
                continue
            pack, extract, calls = bench_tree(name, tree, (vek, vekpack), scratch, args.runs, count_files(tree),
                                              args.pack_only)
            if extract:
                report("extraction", extract, "tar -x", calls)
            report("packing", pack, "tar -c", calls)
            sys.stdout.flush()
            shutil.rmtree(tree)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
