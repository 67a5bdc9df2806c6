#!/usr/bin/env python3
"""What each choice of a solid LZMA packer costs on a tree, measured with python3's
lzma module (raw LZMA1, preset 9 | PRESET_EXTREME, 64 MiB dictionary): the bytes a
packer would store for the files' data, choice by choice, against one baseline.

Usage: solid_choices.py [--trees python3-doc,pe,pe-stripped] [--root /dev/shm/trees] [--jobs 2]
                        [--json FILE] [--cache FILE] [--no-combined] [--prepare]

Baseline: files in path order, one stream, lc/lp/pb 3/0/2, nice_len 273, no BCJ.
Each row changes one thing from it:
  order      path; by file name then path; by extension then name; by name stem
             (the name less its last extension); by the name up to its first dot
             (index.html beside index.rst.txt)
  block      one stream; blocks of 64, 32, 16, 8 MiB filled greedily in path order
             (a file is never split: a block is closed before the file that would
             overflow it, and a file larger than the limit has a block of its own);
             one block per file
  order+blk  each order but path's with blocks of 16 and 8 MiB
  lc/lp/pb   3/0/2, 0/2/2, 1/2/2, 4/0/2
  nice_len   273, 64
  bcj        the x86 BCJ filter before LZMA1 (on trees of PE files only), in one
             stream and in one block per file (against the row "one per file")
Then, unless --no-combined, the best order, lc/lp/pb and filter together, in one
stream and in 64 MiB blocks, and with nice_len 64.
Each block's dictionary is min(64 MiB, the block's size rounded up to 4 KiB): the
output is the same as with 64 MiB, only the encoder's set-up is cheaper.
Sizes are the compressed streams alone (no headers, no per-block framing). The
processor seconds column is the encoder's own time in its worker process: a guide to
how much dearer a choice is, not a benchmark.

Trees live in ROOT/NAME (copy them into tmpfs first):
  python3-doc  /usr/share/doc/python3.11/html, symbolic links followed
  pe           the x86_64 PE DLLs of /usr/lib/x86_64-linux-gnu/wine/x86_64-windows,
               sorted by name, the first ones up to 80.5 MB in total. Wine's DLLs
               keep their DWARF sections, which are most of their bytes
  pe-stripped  the same DLLs with those stripped (x86_64-w64-mingw32-strip
               --strip-debug), the first ones up to 80.5 MB: code and data as shipped
--prepare copies whichever of them is missing.
"""
import argparse
import json
import lzma
import multiprocessing
import os
import shutil
import subprocess
import sys
import time

MiB = 1 << 20
DICT = 64 * MiB
PE_SOURCE = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows"
DOC_SOURCE = "/usr/share/doc/python3.11/html"
PE_LIMIT = 80_500_000
PE_TREES = {"pe", "pe-stripped"}

ORDERS = {
    "path": lambda p: p,
    "name": lambda p: (os.path.basename(p), p),
    "ext": lambda p: (os.path.splitext(os.path.basename(p))[1], os.path.basename(p), p),
    "stem": lambda p: (os.path.splitext(os.path.basename(p))[0], os.path.splitext(p)[1], p),
    "dot": lambda p: (os.path.basename(p).split(".", 1)[0], p),
}
ORDER_TITLES = {"path": "path order", "name": "file name, then path",
                "ext": "extension, then name", "stem": "name stem",
                "dot": "name up to its first dot"}
BLOCKS = [("one stream", None), ("64 MiB", 64 * MiB), ("32 MiB", 32 * MiB),
          ("16 MiB", 16 * MiB), ("8 MiB", 8 * MiB), ("one per file", 0)]
LCLPPB = [(3, 0, 2), (0, 2, 2), (1, 2, 2), (4, 0, 2)]


def prepare(root, names):
    for name in names:
        dest = os.path.join(root, name)
        if os.path.isdir(dest):
            continue
        if name == "python3-doc":
            shutil.copytree(DOC_SOURCE, dest, symlinks=False)
        elif name in ("pe", "pe-stripped"):
            if not os.path.isdir(PE_SOURCE):
                sys.exit("solid_choices: %s is missing (install wine64)" % PE_SOURCE)
            strip = shutil.which("x86_64-w64-mingw32-strip")
            if name == "pe-stripped" and not strip:
                sys.exit("solid_choices: x86_64-w64-mingw32-strip is missing (binutils-mingw-w64-x86-64)")
            os.makedirs(dest + ".part", exist_ok=True)
            total = 0
            for entry in sorted(os.listdir(PE_SOURCE)):
                path = os.path.join(PE_SOURCE, entry)
                if not entry.endswith(".dll") or not os.path.isfile(path):
                    continue
                with open(path, "rb") as f:
                    if f.read(2) != b"MZ":
                        continue
                copy = os.path.join(dest + ".part", entry)
                shutil.copy2(path, copy)
                if name == "pe-stripped":
                    subprocess.run([strip, "--strip-debug", copy], check=True)
                size = os.path.getsize(copy)
                if total + size > PE_LIMIT:
                    os.remove(copy)
                    break
                total += size
            os.rename(dest + ".part", dest)
        else:
            sys.exit("solid_choices: no tree %s in %s, and no way to make it" % (name, root))


def list_tree(top):
    files = []
    for dirpath, dirnames, filenames in os.walk(top):
        dirnames.sort()
        for name in filenames:
            full = os.path.join(dirpath, name)
            if os.path.isfile(full):
                files.append((os.path.relpath(full, top).replace(os.sep, "/"), os.path.getsize(full)))
    files.sort()
    return files


def blocks_of(files, limit):
    """Greedy blocks of the files (path, size) in the given order; limit None is one
    stream, 0 one block per file."""
    if limit is None:
        return [files]
    if limit == 0:
        return [[f] for f in files]
    out, cur, used = [], [], 0
    for f in files:
        if cur and used + f[1] > limit:
            out.append(cur)
            cur, used = [], 0
        cur.append(f)
        used += f[1]
    if cur:
        out.append(cur)
    return out


def compress_job(job):
    top, files, limit, lc, lp, pb, nice, bcj = (job[k] for k in
                                                ("top", "files", "limit", "lc", "lp", "pb", "nice", "bcj"))
    key = job["key"]
    start = time.process_time()
    total = 0
    blocks = blocks_of(files, limit)
    for block in blocks:
        size = sum(s for _, s in block)
        dict_size = max(4096, min(DICT, (size + 4095) // 4096 * 4096))
        lzma_filter = {"id": lzma.FILTER_LZMA1, "preset": 9 | lzma.PRESET_EXTREME,
                       "dict_size": dict_size, "lc": lc, "lp": lp, "pb": pb, "nice_len": nice}
        filters = ([{"id": lzma.FILTER_X86}] if bcj else []) + [lzma_filter]
        enc = lzma.LZMACompressor(format=lzma.FORMAT_RAW, filters=filters)
        n = 0
        for rel, _ in block:
            with open(os.path.join(top, rel), "rb") as f:
                n += len(enc.compress(f.read()))
        n += len(enc.flush())
        total += n
    return key, total, len(blocks), time.process_time() - start


def init_worker():
    try:
        os.nice(max(0, 10 - os.nice(0)))  # nice 10, the level of everyone's builds, not more
    except OSError:
        pass


def base(tree, top, files):
    return {"tree": tree, "top": top, "files": files, "limit": None, "lc": 3, "lp": 0, "pb": 2,
            "nice": 273, "bcj": False, "order": "path"}


def with_order(job, order):
    job = dict(job, order=order)
    job["files"] = sorted(job["files"], key=lambda f: ORDERS[order](f[0]))
    return job


def first_round(tree, top, files):
    jobs = []
    b = base(tree, top, files)
    for order in ORDERS:
        jobs.append(dict(with_order(b, order), key=(tree, "order", ORDER_TITLES[order])))
    for title, limit in BLOCKS[1:]:
        jobs.append(dict(b, limit=limit, key=(tree, "block", title)))
    # Whether an order that brings like files together keeps small blocks from losing.
    for order in list(ORDERS)[1:]:
        for title, limit in BLOCKS[3:5]:
            jobs.append(dict(with_order(b, order), limit=limit,
                             key=(tree, "order+blk", "%s, %s" % (ORDER_TITLES[order], title))))
    for lc, lp, pb in LCLPPB[1:]:
        jobs.append(dict(b, lc=lc, lp=lp, pb=pb, key=(tree, "lc/lp/pb", "%d/%d/%d" % (lc, lp, pb))))
    jobs.append(dict(b, nice=64, key=(tree, "nice_len", "64")))
    if tree in PE_TREES:
        jobs.append(dict(b, bcj=True, key=(tree, "bcj", "x86 BCJ")))
        # The filter turns relative calls into absolute addresses from the start of
        # the stream, so code shared by two files stops matching; file by file it
        # only sees one file's calls.
        jobs.append(dict(b, bcj=True, limit=0, key=(tree, "bcj", "x86 BCJ, one block per file")))
    return jobs


def signature(job):
    """What decides a job's output: two jobs alike here (a flat tree sorted by name is
    in path order; a tree under 64 MiB is one block of 64 MiB) are run once."""
    blocks = tuple(tuple(p for p, _ in b) for b in blocks_of(job["files"], job["limit"]))
    return (job["top"], blocks, job["lc"], job["lp"], job["pb"], job["nice"], job["bcj"])


DONE = {}  # signature -> (bytes, blocks, processor seconds)
CACHE = {}  # described() -> the same, kept in --cache across runs
CACHE_FILE = None


def described(job):
    return "%s|%s|%s|%d/%d/%d|%d|%s" % (job["top"], job["order"], job["limit"], job["lc"], job["lp"], job["pb"],
                                        job["nice"], "bcj" if job["bcj"] else "-")


def run_jobs(jobs, processes):
    results, todo, same = {}, {}, []
    for job in jobs:
        sig = signature(job)
        if sig not in DONE and described(job) in CACHE:
            DONE[sig] = tuple(CACHE[described(job)])
        if sig in DONE:
            results[job["key"]] = DONE[sig]
        elif sig in todo:
            same.append((job["key"], sig))
        else:
            todo[sig] = job
    # The dearest first, so that the workers end together.
    order = sorted(todo.values(), key=lambda j: (j["limit"] == 0, -sum(s for _, s in j["files"])))
    keys = {todo[sig]["key"]: sig for sig in todo}
    with multiprocessing.Pool(processes, initializer=init_worker) as pool:
        for key, size, blocks, cpu in pool.imap_unordered(compress_job, order):
            results[key] = DONE[keys[key]] = (size, blocks, cpu)
            if CACHE_FILE:
                CACHE[described(todo[keys[key]])] = (size, blocks, cpu)
                with open(CACHE_FILE + ".part", "w") as f:
                    json.dump(CACHE, f, indent=0)
                os.replace(CACHE_FILE + ".part", CACHE_FILE)
            print("  %-12s %-9s %-36s %12d  (%.0f s)" % (key + (size, cpu)), file=sys.stderr, flush=True)
    for key, sig in same:
        results[key] = DONE[sig]
    return results


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--trees", default="python3-doc,pe,pe-stripped", help="comma-separated tree names in ROOT")
    parser.add_argument("--root", default="/dev/shm/trees", help="where the trees are (default %(default)s)")
    parser.add_argument("--jobs", type=int, default=2, help="worker processes (default %(default)s)")
    parser.add_argument("--prepare", action="store_true", help="copy the missing trees into ROOT first")
    parser.add_argument("--no-combined", action="store_true", help="skip the rows of the best choices together")
    parser.add_argument("--json", help="also write the figures to this file")
    parser.add_argument("--cache", help="keep each result in this file and take those found there")
    args = parser.parse_args()
    global CACHE_FILE
    if args.cache:
        CACHE_FILE = args.cache
        if os.path.exists(args.cache):
            with open(args.cache) as f:
                CACHE.update(json.load(f))

    names = [t for t in args.trees.split(",") if t]
    if args.prepare:
        prepare(args.root, names)
    trees = {}
    for name in names:
        top = os.path.join(args.root, name)
        if not os.path.isdir(top):
            sys.exit("solid_choices: %s is missing (--prepare copies it)" % top)
        trees[name] = (top, list_tree(top))

    jobs = []
    for name, (top, files) in trees.items():
        jobs += first_round(name, top, files)
    results = run_jobs(jobs, args.jobs)
    baseline_key = {name: (name, "order", ORDER_TITLES["path"]) for name in trees}

    if not args.no_combined:
        jobs = []
        for name, (top, files) in trees.items():
            def best(dim, titles):
                return min(titles, key=lambda t: results[(name, dim, t)][0])
            order = min(ORDERS, key=lambda o: results[(name, "order", ORDER_TITLES[o])][0])
            lclppb = best("lc/lp/pb", ["%d/%d/%d" % t for t in LCLPPB[1:]])
            if results[(name, "lc/lp/pb", lclppb)][0] > results[baseline_key[name]][0]:
                lclppb = "3/0/2"
            lc, lp, pb = map(int, lclppb.split("/"))
            bcj = name in PE_TREES and results[(name, "bcj", "x86 BCJ")][0] < results[baseline_key[name]][0]
            what = "%s, %s%s" % (order, lclppb, ", BCJ" if bcj else "")
            b = dict(with_order(base(name, top, files), order), lc=lc, lp=lp, pb=pb, bcj=bcj)
            jobs.append(dict(b, key=(name, "combined", what + ", one stream")))
            jobs.append(dict(b, limit=64 * MiB, key=(name, "combined", what + ", 64 MiB")))
            jobs.append(dict(b, nice=64, key=(name, "combined", what + ", nice 64")))
        results.update(run_jobs(jobs, args.jobs))

    print()
    print("Raw LZMA1, preset 9e, 64 MiB dictionary; each row changes one choice from the")
    print("baseline (path order, one stream, 3/0/2, nice_len 273, no BCJ).")
    print("%-12s %-9s %-36s %12s %8s %7s %7s" % ("tree", "choice", "value", "bytes", "vs base", "blocks", "cpu s"))
    rows = []
    for name, (top, files) in trees.items():
        raw = sum(s for _, s in files)
        print("%-12s %-9s %-36s %12d %8s %7s %7s" % (name, "input", "%d files" % len(files), raw, "", "", ""))
        b = results[baseline_key[name]][0]
        for key in sorted((k for k in results if k[0] == name), key=lambda k: DIM_RANK(k)):
            size, blocks, cpu = results[key]
            print("%-12s %-9s %-36s %12d %+7.2f%% %7d %7.0f" % (name, key[1], key[2], size,
                                                              100.0 * (size - b) / b, blocks, cpu))
            rows.append({"tree": name, "choice": key[1], "value": key[2], "bytes": size,
                         "blocks": blocks, "cpu_s": round(cpu, 1), "input_bytes": raw, "files": len(files)})
        print("%-12s %-9s %-36s %11.2f%%" % (name, "ratio", "baseline / input", 100.0 * b / raw))
    if args.json:
        with open(args.json, "w") as f:
            json.dump(rows, f, indent=1)


def DIM_RANK(key):
    dims = ["order", "block", "order+blk", "lc/lp/pb", "nice_len", "bcj", "combined"]
    order_rank = {"order": list(ORDER_TITLES.values()), "block": [t for t, _ in BLOCKS[1:]],
                  "lc/lp/pb": ["%d/%d/%d" % t for t in LCLPPB[1:]]}
    values = order_rank.get(key[1], [])
    return (dims.index(key[1]), values.index(key[2]) if key[2] in values else 0, key[2])


if __name__ == "__main__":
    main()
