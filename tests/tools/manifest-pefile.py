#!/usr/bin/python3
"""The manifest and version information vekpack writes, read back by pefile (an
independent reader of PE images): the execution level a configured installer's folder
needs, the identity and description that name its product, the version strings it
adds, and the stub's manifest byte for byte without a configuration.

    manifest-pefile.py VEKPACK STUB SCRATCH     (exit 77: no such stub, skipped)
"""
import os
import shutil
import subprocess
import sys
import xml.etree.ElementTree as ET

import pefile

vekpack, stub, scratch = sys.argv[1:4]
if not os.path.isfile(stub):
    print("no built stub at " + stub)
    sys.exit(77)
shutil.rmtree(scratch, ignore_errors=True)
os.makedirs(os.path.join(scratch, "src"))
with open(os.path.join(scratch, "src", "index.htm"), "w") as f:
    f.write("<html></html>")

V1, V3 = "{urn:schemas-microsoft-com:asm.v1}", "{urn:schemas-microsoft-com:asm.v3}"
STUB_NAME, STUB_DESCRIPTION = "VEK.SelfExtractor", "Self-extracting VEK archive"

# Configuration; execution level, assembly name, version and description; strings.
CASES = [
    ("folder = {programfiles}\\Acme\nproduct = Acme Reader\npublisher = Acme Ltd.\nversion = 2.1\n"
     "original-filename = acme-setup.exe\ninternal-name = acmesetup\ncomments = Made with care\n",
     "requireAdministrator", "Acme.Ltd.Acme.Reader", "2.1.0.0", "Acme Reader 2.1",
     {"OriginalFilename": "acme-setup.exe", "InternalName": "acmesetup", "Comments": "Made with care",
      "CompanyName": "Acme Ltd.", "ProductName": "Acme Reader", "FileVersion": "2.1"}),
    ("folder = {localappdata}\\Programs\\Acme\nid = acme_reader-2\nuninstall = yes\n",
     "asInvoker", "acme.reader.2", "1.0.0.0", STUB_DESCRIPTION, {}),
    ("folder = C:\\Program Files (x86)\\Acme\ncaption = Acme <Setup> & more\n",
     "requireAdministrator", STUB_NAME, "1.0.0.0", "Acme <Setup> & more", {"FileDescription": "Acme <Setup> & more"}),
    ("folder = C:\\Windows\\Fonts\\Acme\nelevation = User\n", "asInvoker", STUB_NAME, "1.0.0.0", STUB_DESCRIPTION, {}),
    ("folder = C:\\Acme\nelevation = admin\n", "requireAdministrator", STUB_NAME, "1.0.0.0", STUB_DESCRIPTION, {}),
    (None, "asInvoker", STUB_NAME, "1.0.0.0", STUB_DESCRIPTION, {}),
]


def resources(path):
    """The manifest's bytes and the first string table of the version information."""
    pe = pefile.PE(path)
    manifest = None
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.id == pefile.RESOURCE_TYPE["RT_MANIFEST"]:
            leaf = kind.directory.entries[0].directory.entries[0].data.struct
            manifest = pe.get_data(leaf.OffsetToData, leaf.Size)
    strings = {}
    for info in pe.FileInfo[0]:
        if info.Key == b"StringFileInfo":
            strings = {k.decode(): v.decode() for k, v in info.StringTable[0].entries.items()}
    return manifest, strings


own_manifest, _ = resources(stub)
failures = 0
for number, (config, level, name, version, description, strings) in enumerate(CASES):
    exe = os.path.join(scratch, "setup%d.exe" % number)
    command = [vekpack, "-q", "--stub", stub]
    if config is not None:
        cfg = os.path.join(scratch, "setup%d.cfg" % number)
        with open(cfg, "w", encoding="utf-8") as f:
            f.write(config)
        command += ["--config", cfg]
    subprocess.run(command + [os.path.join(scratch, "src"), exe], check=True)
    manifest, found = resources(exe)
    root = ET.fromstring(manifest)
    identity = root.find(V1 + "assemblyIdentity")
    requested = root.find(".//" + V3 + "requestedExecutionLevel")
    got = (requested.get("level"), identity.get("name"), identity.get("version"), root.find(V1 + "description").text)
    problems = []
    if got != (level, name, version, description):
        problems.append("manifest %r, not %r" % (got, (level, name, version, description)))
    if config is None and manifest != own_manifest:
        problems.append("the stub's manifest changed")
    for key, value in strings.items():
        if found.get(key) != value:
            problems.append("%s is %r, not %r" % (key, found.get(key), value))
    for problem in problems:
        print("case %d (%r): %s" % (number, config, problem))
    failures += len(problems)
    if not problems:
        print("case %d: %s, %s %s" % (number, level, name, version))
sys.exit(1 if failures else 0)
