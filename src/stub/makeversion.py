#!/usr/bin/env python3
"""Writes the stub's version resource (the data of resource type 16, id 1).

Each string has a slot just large enough for the stub's own text: a publisher's
texts come with a manifest of their own, for which vekpack writes the resources
anew anyway, with blocks that fit them (src/pack/versioninfo.h). A String block's
length covers its whole slot; its value length counts the text and its terminating
zero only.

    makeversion.py VERSION OUTPUT.bin      (VERSION: the project's, such as 1.0.0)
"""
import struct
import sys

# Key and the stub's own text; FileVersion and ProductVersion are set by the program
# to VERSION.
STRINGS = [
    ("CompanyName", ""),
    ("FileDescription", "Self-extracting VEK archive"),
    ("FileVersion", None),
    ("LegalCopyright", ""),
    ("ProductName", "VEK self-extractor"),
    ("ProductVersion", None),
]
LANGUAGE = 0x0409  # the string table's language and code page (UTF-16)
CODE_PAGE = 1200
FIXED_SIGNATURE = 0xFEEF04BD
VOS_NT_WINDOWS32 = 0x00040004
VFT_APP = 1


def pad4(data):
    data += b"\0" * (-len(data) % 4)


def block(key, value=b"", value_length=0, text=True, children=()):
    """A block: wLength, wValueLength, wType, the key, the value, the children."""
    data = bytearray(struct.pack("<HHH", 0, value_length, 1 if text else 0))
    data += (key + "\0").encode("utf-16-le")
    pad4(data)
    data += value
    for child in children:
        pad4(data)
        data += child
    struct.pack_into("<H", data, 0, len(data))
    return bytes(data)


def string(key, text):
    units = text.encode("utf-16-le")
    return block(key, units + b"\0\0", len(units) // 2 + 1)


def main():
    version_text = sys.argv[1]
    parts = [int(p) for p in version_text.split(".")][:4]
    parts += [0] * (4 - len(parts))
    high, low = parts[0] << 16 | parts[1], parts[2] << 16 | parts[3]
    fixed = struct.pack("<13I", FIXED_SIGNATURE, 0x00010000, high, low, high, low, 0x3F, 0,
                        VOS_NT_WINDOWS32, VFT_APP, 0, 0, 0)
    strings = [string(key, version_text if text is None else text) for key, text in STRINGS]
    table = block("%04X%04X" % (LANGUAGE, CODE_PAGE), children=strings)
    translation = block("Translation", struct.pack("<HH", LANGUAGE, CODE_PAGE), 4, text=False)
    root = block("VS_VERSION_INFO", fixed, len(fixed), text=False,
                 children=[block("StringFileInfo", children=[table]),
                           block("VarFileInfo", children=[translation])])
    with open(sys.argv[2], "wb") as f:
        f.write(root)


if __name__ == "__main__":
    main()
