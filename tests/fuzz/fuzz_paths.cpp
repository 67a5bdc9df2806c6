// Fuzz target: the path check against a model of how Windows itself reads a path.
//
// The input picks a destination and a chain of names (byte 0: the destination; then
// a length byte and that many name bytes, per name). The builder nests the names as
// directories, the last one also as a file, and the reader loads the archive. For
// every entry that CheckEntryPathBelow lets through, the model normalises destination
// + path as Windows' full-path rules do (separators, "." and "..", a trailing dot
// of a folder name, trailing dots and blanks of the last name) and requires that the
// result lies below the destination, keeps every name as written and names no device.
// The destination byte's high bit makes an archive of UTF-8 names (else Windows-1250).
// Where the Win32 edge would hand the whole path over in the long form (\\?\), which
// Windows takes verbatim, that form must name the same names as Windows' reading.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "cp1250.h"
#include "memoryedge.h"
#include "rnvek100.h"
#include "vekbuild.h"
#include "winpath.h"

namespace {

const char* const kDestinations[] = {
    "C:\\dest",
    "\\",
    "/",
    "",
    "\\\\",
    "//",
    "C:",
    ".\\out",
    "\\\\server\\share\\d",
    "\\\\?\\C:\\d",
    "\\\\.\\C:\\d",
    "\\\\server",
    "C:\\dest\\",
    "\\/",
    "\\\\server\\",
    "D:rel",
};

bool Sep(char c) { return c == '\\' || c == '/'; }

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return s;
}

// A path as Windows reads it: where it starts and the names below that.
struct FullPath {
  std::string root;  // "C:\", "\\HOST\SHARE\", "\\.\", "\\?\" (upper case)
  std::vector<std::string> names;
};

// GetFullPathName's reading, with C:\cwd as the current folder (and the root of any
// other drive as that drive's).
FullPath Normalise(const std::string& path) {
  FullPath full;
  std::string rest;
  if (path.compare(0, 4, "\\\\?\\") == 0) {  // taken verbatim: split at backslashes only
    full.root = "\\\\?\\";
    std::string name;
    for (size_t i = 4; i <= path.size(); ++i) {
      if (i == path.size() || path[i] == '\\') {
        if (!name.empty()) full.names.push_back(name);
        name.clear();
      } else {
        name += path[i];
      }
    }
    return full;
  }
  if (path.size() >= 2 && Sep(path[0]) && Sep(path[1])) {
    if (path.size() >= 3 && (path[2] == '.' || path[2] == '?') && (path.size() == 3 || Sep(path[3]))) {
      full.root = "\\\\.\\";
      rest = path.size() > 4 ? path.substr(4) : "";
    } else {
      size_t host_end = 2;
      while (host_end < path.size() && !Sep(path[host_end])) ++host_end;
      size_t share_end = host_end < path.size() ? host_end + 1 : host_end;
      while (share_end < path.size() && !Sep(path[share_end])) ++share_end;
      full.root = "\\\\" + Upper(path.substr(2, host_end - 2)) + "\\" +
                  Upper(host_end < path.size() ? path.substr(host_end + 1, share_end - host_end - 1) : "") + "\\";
      rest = share_end < path.size() ? path.substr(share_end) : "";
    }
  } else if (path.size() >= 2 && path[1] == ':') {
    full.root = Upper(path.substr(0, 1)) + ":\\";
    bool absolute = path.size() >= 3 && Sep(path[2]);
    rest = (!absolute && full.root == "C:\\" ? "cwd\\" : "") + path.substr(absolute ? 3 : 2);
  } else if (!path.empty() && Sep(path[0])) {
    full.root = "C:\\";
    rest = path.substr(1);
  } else {
    full.root = "C:\\";
    rest = "cwd\\" + path;
  }
  std::vector<std::string> parts;
  std::string name;
  for (size_t i = 0; i <= rest.size(); ++i) {
    if (i == rest.size() || Sep(rest[i])) {
      if (!name.empty()) parts.push_back(name);
      name.clear();
    } else {
      name += rest[i];
    }
  }
  bool ends_in_separator = !rest.empty() && Sep(rest.back());
  for (size_t i = 0; i < parts.size(); ++i) {
    std::string part = parts[i];
    if (part == ".") continue;
    if (part == "..") {
      if (!full.names.empty()) full.names.pop_back();
      continue;
    }
    bool last = i + 1 == parts.size() && !ends_in_separator;
    if (last) {
      while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.pop_back();
      if (part.empty()) continue;
    } else if (part.size() >= 2 && part.back() == '.' && part[part.size() - 2] != '.') {
      part.pop_back();
    }
    full.names.push_back(part);
  }
  return full;
}

bool NamesADevice(const std::string& name) {
  std::string base = Upper(name.substr(0, name.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : kDevices) {
    if (base == device) return true;
  }
  if (base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0)) {
    unsigned char digit = static_cast<unsigned char>(base[3]);
    return (digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
  }
  return false;
}

bool SameName(const std::string& a, const std::string& b) { return Upper(a) == Upper(b); }

void Fail(const char* why, const std::string& destination, const std::string& relative) {
  fprintf(stderr, "%s: destination \"%s\", path \"%s\"\n", why, destination.c_str(), relative.c_str());
  abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t kCount = sizeof kDestinations / sizeof kDestinations[0];
  const std::string destination = kDestinations[data[0] % kCount];
  vek::build::ArchiveBuilder builder;
  const bool utf8 = (data[0] & 0x80) != 0;
  if (utf8) builder.StoreNamesInUtf8();
  std::vector<std::string> names;
  size_t i = 1;
  uint16_t parent = 0;
  std::string last;  // as stored
  while (i < size && names.size() < 16) {
    size_t length = data[i++] % 40;
    std::string name(reinterpret_cast<const char*>(data + i), length < size - i ? length : size - i);
    i += name.size();
    parent = builder.AddDirectory(parent, name);
    last = name;
    if (!utf8) {  // the reader's paths are UTF-8
      std::string converted(3 * name.size() + 1, '\0');
      converted.resize(vek::Cp1250ToUtf8(name.data(), name.size(), converted.data(), converted.size()));
      name = converted;
    }
    names.push_back(name);
  }
  if (names.empty()) return 0;
  builder.AddFile(builder.entries()[parent - 1].parent_id, last, "x", 0x26A9636Eu);
  std::string bytes = builder.Serialize();
  vek::testing::MemoryFileEdge edge(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  vek::FileHandle file = vek::kNoFile;
  (void)edge.OpenRead("archive", &file);
  vek::ArchiveReader reader;
  if (!reader.Open(edge, file, 0).ok()) abort();
  // The empty destination is the root of the current drive, and a bare drive "C:" is
  // that drive's root (what is left of "C:\" once its backslash is stripped).
  const bool drive = destination.size() == 2 && destination[1] == ':';
  const FullPath below = Normalise(destination.empty() ? "\\" : drive ? destination + "\\" : destination);
  vek::AnsiString dest(destination.c_str());
  for (uint32_t id = 1; id <= reader.GetEntryCount(); ++id) {
    if (reader.CheckEntryPathBelow(dest, static_cast<int32_t>(id)) != vek::PathSafety::kSafe) continue;
    vek::AnsiString relative = reader.GetEntryPath(static_cast<int32_t>(id));
    std::string rel(relative.data(), relative.size());
    FullPath full = Normalise(destination + rel);
    size_t levels = id <= names.size() ? id : names.size();
    if (full.root != below.root || full.names.size() != below.names.size() + levels) {
      Fail("not below the destination", destination, rel);
    }
    for (size_t k = 0; k < below.names.size(); ++k) {
      if (!SameName(full.names[k], below.names[k])) Fail("not below the destination", destination, rel);
    }
    const std::string joined = destination + rel;
    const vek::LongForm form = vek::LongPathForm(joined.data(), joined.size());
    if (form == vek::LongForm::kDrive || form == vek::LongForm::kUnc) {
      std::string verbatim = form == vek::LongForm::kDrive ? "\\\\?\\" + joined : "\\\\?\\UNC" + joined.substr(1);
      for (char& c : verbatim) {
        if (c == '/') c = '\\';
      }
      const FullPath taken = Normalise(verbatim);
      const size_t head = form == vek::LongForm::kDrive ? 1 : 3;  // "C:", or "UNC", host, share
      if (taken.names.size() != head + full.names.size()) Fail("the long form names other names", destination, rel);
      for (size_t k = 0; k < full.names.size(); ++k) {
        if (taken.names[head + k] != full.names[k]) Fail("the long form names other names", destination, rel);
      }
    }
    for (size_t k = 0; k < levels; ++k) {
      const std::string& written = full.names[below.names.size() + k];
      if (written != names[k]) Fail("a name changed on the way", destination, rel);
      if (NamesADevice(written)) Fail("a device", destination, rel);
      if (written.find(':') != std::string::npos) Fail("a stream or drive", destination, rel);
    }
  }
  return 0;
}
