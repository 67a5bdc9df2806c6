#!/usr/bin/env python3
"""Our compressed installer against its peers on the same tree, in one run: sizes,
then times, the tools alternating run by run.

Usage: peers.py [--trees tarnovista,python3-doc] [--runs N] [--dir DIR] [--level LEVEL]
                [--vekpack FILE] [--vek FILE] [--stub FILE] [--no-wine] [--no-context]
                [--pack-nsis]

For each tree (copied first into DIR, default /dev/shm, symbolic links followed):
  ours  `vekpack -z --stub STUB TREE ours.exe` (--level LEVEL: --compress=LEVEL)
  NSIS  makensis of a generated script: Target amd64-unicode, SetCompressor /SOLID lzma,
        SetCompressorDictSize 64, RequestExecutionLevel user, SilentInstall silent,
        InstallDir under $TEMP, File /r of the tree
  7z    `7zz a -mx9 tree.7z TREE` (a bare archive: no extractor in it)
  and for context (not with --no-context) `tar cf - | xz -9e` and `zip -9 -r`.
Sizes and the ratios ours / NSIS, ours / 7z and ours / min(NSIS, 7z); then, each
a median of --runs runs (default 5) with the fastest and slowest, the pairs run
one after the other and in the other order on every second run:
  install   `ours.exe /S /D=DEST` against `nsis.exe /S /D=DEST`, both under Wine
            (unless --no-wine), DEST in DIR; a shared prefix of our own
            (/tmp/bench-wineprefix, VEK_BENCH_WINEPREFIX to change it), its Wine
            server kept running across runs so that each program pays the same
            start-up. The start of a Wine program (`ours.exe /S /?`, which
            installs nothing) is printed for reference; it is not subtracted.
  pack      `vekpack -z` against `7zz a -mx9` (and makensis with --pack-nsis)
  extract   `vek extract` against `7zz x`, both into DIR
Each pair also gives a run-by-run ratio (ours over the peer run next to it): its
median and range. Every install and extraction is checked against the tree (file
count and bytes; the first one file by file).
Tree names: tarnovista (examples/tarnovista), python3-doc
(/usr/share/doc/python3.11/html), pe (/dev/shm/trees/pe, see solid_choices.py),
pe-stripped (/dev/shm/trees/pe-stripped), or a path to any folder.
Run it under `nice`: the tools inherit its priority alike.
"""
import argparse
import filecmp
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
TREES = {
    "tarnovista": os.path.join(ROOT, "examples", "tarnovista"),
    "python3-doc": "/usr/share/doc/python3.11/html",
    "pe": "/dev/shm/trees/pe",
    "pe-stripped": "/dev/shm/trees/pe-stripped",
}
PREFIX = os.environ.get("VEK_BENCH_WINEPREFIX", "/tmp/bench-wineprefix")


def die(msg):
    sys.exit("peers: " + msg)


def run(cmd, cwd=None, ok=(0,), env=None, shell=False):
    # The errors go to a file, not a pipe: Wine's services, started by the first
    # program, would inherit the pipe and hold it open as long as they run.
    with tempfile.TemporaryFile() as err:
        r = subprocess.run(cmd, cwd=cwd, env=env, shell=shell, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=err)
        if r.returncode not in ok:
            err.seek(0)
            die("%s ended with %d: %s" % (cmd if shell else " ".join(cmd), r.returncode,
                                          err.read().decode(errors="replace")[-2000:]))


def timed(cmd, cwd=None, env=None, ok=(0,), shell=False):
    """Elapsed and processor (user + system of the children) seconds of one run."""
    used = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    run(cmd, cwd=cwd, env=env, ok=ok, shell=shell)
    elapsed = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return elapsed, after.ru_utime - used.ru_utime + after.ru_stime - used.ru_stime


def tree_stats(path):
    files = size = 0
    for d, _, names in os.walk(path):
        for n in names:
            files += 1
            size += os.path.getsize(os.path.join(d, n))
    return files, size


def same_tree(a, b):
    """True when every file below a is below b with the same bytes, and no more."""
    cmp = filecmp.dircmp(a, b)
    if cmp.left_only or cmp.right_only or cmp.funny_files:
        return False
    _, mismatch, errors = filecmp.cmpfiles(a, b, cmp.common_files, shallow=False)
    if mismatch or errors:
        return False
    return all(same_tree(os.path.join(a, s), os.path.join(b, s)) for s in cmp.common_dirs)


def win(path):
    return "Z:" + path.replace("/", "\\")


def clear(path):
    shutil.rmtree(path, ignore_errors=True)
    if os.path.exists(path):
        die("could not remove " + path)


def stats(values):
    return statistics.median(values), min(values), max(values)


class Wine:
    def __init__(self):
        self.wine = shutil.which("wine64") or shutil.which("wine")
        self.server = shutil.which("wineserver")
        for d in ("/usr/lib/wine", "/usr/lib/x86_64-linux-gnu/wine", "/usr/lib64/wine"):
            if not self.wine and os.access(os.path.join(d, "wine64"), os.X_OK):
                self.wine = os.path.join(d, "wine64")
            if not self.server and os.access(os.path.join(d, "wineserver"), os.X_OK):
                self.server = os.path.join(d, "wineserver")
        if not self.wine or not self.server:
            die("wine64 or wineserver not found (install wine64, or pass --no-wine)")
        self.env = dict(os.environ, WINEPREFIX=PREFIX, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        self.env.pop("DISPLAY", None)  # both installers run silent: no window to show

    def start(self):
        subprocess.run([self.server, "-k"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run([self.server, "-w"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not os.path.isfile(os.path.join(PREFIX, "system.reg")):
            print("peers: making the Wine prefix %s (wineboot -i)" % PREFIX, file=sys.stderr)
            # No pipes to programs that leave a server behind: it would hold them open.
            if subprocess.run([self.wine, "wineboot", "-i"], env=self.env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode != 0:
                die("wineboot -i failed")
            subprocess.run([self.server, "-w"], env=self.env)
        # Kept running until stop(): without it the server, and Windows' services with
        # it, would end after each program and start again for the next one.
        if subprocess.run([self.server, "-p"], env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode != 0:
            die("wineserver -p failed")

    def stop(self):
        subprocess.run([self.server, "-k"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def cmd(self, exe, *args):
        return [self.wine, exe] + list(args)


# The x86_64 stub, like ours (and Wine's 64-bit loader alone cannot run the x86 one).
NSI = """Target amd64-unicode
Name "vek peers bench"
OutFile "{out}"
SetCompressor /SOLID lzma
SetCompressorDictSize 64
RequestExecutionLevel user
SilentInstall silent
InstallDir "$TEMP\\vek-peers-bench"
Section
  SetOutPath "$INSTDIR"
  File /r "{tree}/*"
SectionEnd
"""


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--trees", default="tarnovista,python3-doc", help="comma-separated names or paths")
    parser.add_argument("--runs", type=int, default=5, help="timed runs of each tool (default %(default)s)")
    parser.add_argument("--dir", default="/dev/shm", help="where trees, outputs and copies go (default %(default)s)")
    parser.add_argument("--level", type=int, help="vekpack --compress=LEVEL (default: -z alone)")
    parser.add_argument("--vekpack", default=os.path.join(ROOT, "build/native/tools/vekpack"))
    parser.add_argument("--vek", default=os.path.join(ROOT, "build/native/tools/vek"))
    parser.add_argument("--stub", default=os.path.join(ROOT, "build/windows-x64/src/stub/vekstub.exe"))
    parser.add_argument("--no-wine", action="store_true", help="skip the installs under Wine")
    parser.add_argument("--no-context", action="store_true", help="skip tar + xz -9e and zip -9")
    parser.add_argument("--pack-nsis", action="store_true", help="time makensis too")
    args = parser.parse_args()
    if args.runs < 1:
        die("--runs must be at least 1")
    for f in (args.vekpack, args.vek, args.stub):
        if not os.path.isfile(f):
            die("%s is missing: build it first (see README) or name it with an option" % f)
    for tool in ("makensis", "7zz") + (() if args.no_context else ("xz", "zip", "tar")):
        if not shutil.which(tool):
            die("%s is missing (apt-get install nsis 7zip xz-utils zip)" % tool)
    wine = None if args.no_wine else Wine()
    compress = ["--compress=%d" % args.level] if args.level is not None else ["-z"]

    work = tempfile.mkdtemp(prefix="vekpeers-", dir=args.dir)
    try:
        if wine:
            wine.start()
        for name in [t for t in args.trees.split(",") if t]:
            source = TREES.get(name, name)
            if not os.path.isdir(source):
                die("no tree %s (%s)" % (name, source))
            bench_tree(os.path.basename(os.path.normpath(name)), source, work, args, wine, compress)
    finally:
        if wine:
            wine.stop()
        shutil.rmtree(work, ignore_errors=True)


def bench_tree(name, source, work, args, wine, compress):
    tree = os.path.join(work, "tree")
    clear(tree)
    shutil.copytree(source, tree, symlinks=False)
    files, size = tree_stats(tree)
    print("\n== %s: %d files, %d bytes (%s)" % (name, files, size, source), flush=True)

    out = {k: os.path.join(work, v) for k, v in
           (("ours", "ours.exe"), ("nsis", "nsis.exe"), ("7z", "tree.7z"), ("xz", "tree.tar.xz"), ("zip", "tree.zip"))}
    nsi = os.path.join(work, "tree.nsi")
    with open(nsi, "w") as f:
        f.write(NSI.format(out=out["nsis"], tree=tree))

    def pack(tool):
        if os.path.exists(out[tool]):
            os.remove(out[tool])
        if tool == "ours":
            return timed([args.vekpack, "-q"] + compress + ["--stub", args.stub, tree, out["ours"]])
        if tool == "nsis":
            return timed(["makensis", "-V1", nsi])
        if tool == "7z":
            return timed(["7zz", "a", "-bd", "-mx9", out["7z"], "."], cwd=tree)
        if tool == "xz":
            return timed("tar cf - . | xz -9e -T1 > '%s'" % out["xz"], cwd=tree, shell=True)
        return timed(["zip", "-q", "-9", "-r", out["zip"], "."], cwd=tree)

    tools = ["ours", "nsis", "7z"] + ([] if args.no_context else ["xz", "zip"])
    for tool in tools:
        pack(tool)
    # What an NSIS installer weighs with no data: its stub, header and script, from
    # one built the same way around a single empty file.
    empty = os.path.join(work, "empty")
    clear(empty)
    os.makedirs(empty)
    open(os.path.join(empty, "empty.txt"), "w").close()
    with open(os.path.join(work, "empty.nsi"), "w") as f:
        f.write(NSI.format(out=os.path.join(work, "empty.exe"), tree=empty))
    run(["makensis", "-V1", os.path.join(work, "empty.nsi")])
    nsis_overhead = os.path.getsize(os.path.join(work, "empty.exe"))
    sizes = {tool: os.path.getsize(out[tool]) for tool in tools}
    stub = os.path.getsize(args.stub)
    best = min(sizes["nsis"], sizes["7z"])
    titles = {"ours": "ours (vekpack %s, stub included)" % " ".join(compress), "nsis": "NSIS installer (solid lzma)",
              "7z": "7zz a -mx9 (no extractor)", "xz": "tar | xz -9e", "zip": "zip -9"}
    print("  sizes (input %d bytes)" % size)
    for tool in tools:
        print("    %-40s %12d  %6.2f%% of input  ours %.3fx" % (titles[tool], sizes[tool], 100.0 * sizes[tool] / size,
                                                                sizes["ours"] / sizes[tool]))
    print("    ours less its %d-byte stub %23d" % (stub, sizes["ours"] - stub))
    print("    NSIS less its %d bytes with no data %15d" % (nsis_overhead, sizes["nsis"] - nsis_overhead))
    print("    data alone: ours / NSIS = %.3f   ours / 7z = %.3f" %
          ((sizes["ours"] - stub) / (sizes["nsis"] - nsis_overhead), (sizes["ours"] - stub) / sizes["7z"]))
    print("    ours / min(NSIS, 7z) = %.3f   ours / NSIS = %.3f   ours / 7z = %.3f" %
          (sizes["ours"] / best, sizes["ours"] / sizes["nsis"], sizes["ours"] / sizes["7z"]), flush=True)

    first_check = set()

    def check(what, dest):
        got = tree_stats(dest)
        if got != (files, size):
            die("%s wrote %d files, %d bytes; %d files, %d bytes expected" % ((what,) + got + (files, size)))
        if what not in first_check:
            if not same_tree(tree, dest):
                die("%s wrote a tree that differs from the source" % what)
            first_check.add(what)

    def pair(title, a, b, runs):
        """Times a and b (name, function returning (elapsed, cpu)) in alternating order."""
        times = {a[0]: [], b[0]: []}
        cpu = {a[0]: [], b[0]: []}
        for r in range(runs):
            for tool, fn in ((a, b) if r % 2 == 0 else (b, a)):
                e, c = fn()
                times[tool].append(e)
                cpu[tool].append(c)
        report(title, times, cpu, a[0], b[0])

    if wine:
        def install(tool):
            dest = os.path.join(work, "installed-" + tool)
            clear(dest)
            t = timed(wine.cmd(out[tool], "/S", "/D=" + win(dest)), env=wine.env)
            check(tool + " installer", dest)
            clear(dest)
            return t  # the processor time is the installer's process alone, not the Wine server's
        starts = [timed(wine.cmd(out["ours"], "/S", "/?"), env=wine.env)[0] for _ in range(3)]
        install("ours"), install("nsis")  # untimed: the first run of each also loads Wine's libraries
        pair("install under Wine, /S /D= into %s (cpu: the installer's process)" % args.dir, ("ours", lambda: install("ours")),
             ("nsis", lambda: install("nsis")), args.runs)
        print("    (the start of a Wine program, ours.exe /S /?: %.3f s, median of 3; not subtracted)" %
              statistics.median(starts))

    packs = [("ours", lambda: pack("ours")), ("7z", lambda: pack("7z"))]
    pair("pack (elapsed; cpu = user + system)", packs[0], packs[1], args.runs)
    if args.pack_nsis:
        pair("pack against makensis", packs[0], ("nsis", lambda: pack("nsis")), args.runs)

    def extract(tool):
        dest = os.path.join(work, "extracted-" + tool)
        clear(dest)
        if tool == "ours":
            t = timed([args.vek, "extract", "-q", out["ours"], "-C", dest])
        else:
            t = timed(["7zz", "x", "-bd", "-y", "-o" + dest, out["7z"]])
        check("%s extract" % tool, dest)
        clear(dest)
        return t
    pair("extract into %s (elapsed; cpu = user + system)" % args.dir, ("ours", lambda: extract("ours")),
         ("7z", lambda: extract("7z")), args.runs)
    sys.stdout.flush()


def report(title, times, cpu, ours, peer):
    n = len(times[ours])
    print("  %s, median of %d runs [fastest .. slowest]" % (title, n))
    for tool in (ours, peer):
        m, lo, hi = stats(times[tool])
        line = "    %-5s %9.3f s  [%.3f .. %.3f]" % (tool, m, lo, hi)
        if cpu[tool][0] is not None:
            line += "  cpu %.3f s" % statistics.median(cpu[tool])
        print(line)
    pairs = [o / p for o, p in zip(times[ours], times[peer])]
    m, lo, hi = stats(pairs)
    print("    %s / %s: %.3f (ratio of medians); run by run %.3f [%.3f .. %.3f]" %
          (ours, peer, statistics.median(times[ours]) / statistics.median(times[peer]), m, lo, hi), flush=True)
    if cpu[ours][0] is not None:
        pairs = [o / p for o, p in zip(cpu[ours], cpu[peer]) if p > 0]
        if pairs:
            m, lo, hi = stats(pairs)
            print("    %s / %s processor time: %.3f (ratio of medians); run by run %.3f [%.3f .. %.3f]" %
                  (ours, peer, statistics.median(cpu[ours]) / max(statistics.median(cpu[peer]), 1e-9), m, lo, hi),
                  flush=True)


if __name__ == "__main__":
    main()
