// Fuzz target: the input describes a tree (a few bytes per entry: parent choice,
// kind, name, size); the builder writes it, the reader reads it back, and every
// field and path must come back as built; written compressed, every file must come
// back with its size and every deflated one inflate to it.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "archivecheck.h"
#include "cp1250.h"
#include "extension.h"
#include "memoryedge.h"
#include "rnvek100.h"
#include "solid.h"
#include "vekbuild.h"
#include "winpath.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vek::build::ArchiveBuilder builder;
  std::vector<uint16_t> directories{0};
  std::vector<std::string> paths{""};  // by identifier, [0] the root; Windows-1250
  std::vector<bool> too_long{false};
  size_t i = 0;
  while (i + 4 <= size && builder.entries().size() < 500) {
    uint16_t parent = directories[data[i] % directories.size()];
    bool directory = data[i + 1] & 1;
    size_t name_length = 1 + data[i + 2] % 40;
    size_t file_size = data[i + 3] * 37u;
    i += 4;
    std::string name;
    for (size_t k = 0; k < name_length; ++k) {
      unsigned char c = i < size ? data[i++] : 'x';
      // Names as the builder's scan takes them: none that Windows would refuse or
      // change (no separators, forbidden characters or control bytes here).
      if (c == '\\' || c == '/' || c == ':' || c < 0x20 || strchr("*?\"<>|", c) != nullptr) c = '_';
      name.push_back(static_cast<char>(c));
    }
    if (vek::CheckWindowsName(name.data(), name.size()) != vek::NameRule::kFine) {
      name.insert(0, "n_");
      name += '_';
    }
    if (vek::CheckWindowsName(name.data(), name.size()) != vek::NameRule::kFine) name = "n";  // undefined bytes
    uint16_t id;
    if (directory) {
      id = builder.AddDirectory(parent, name);
      directories.push_back(id);
    } else {
      id = builder.AddFile(parent, name, std::string(file_size, static_cast<char>(name_length)), 0x12345678u, 0x20);
    }
    paths.push_back(paths[parent] + "\\" + name);
    // Longer than this platform creates, here or in a folder above.
    const vek::PathLimits& limits = vek::PlatformPathLimits();
    const vek::NameEncoding cp1250 = vek::NameEncoding::kWindows1250;
    size_t units = vek::PathUnits(limits, paths.back().data(), paths.back().size(), cp1250);
    too_long.push_back(too_long[parent] || units > (directory ? limits.max_directory_path : limits.max_file_path) ||
                       vek::PathUnits(limits, name.data(), name.size(), cp1250) > limits.max_name);
  }
  std::string bytes = builder.Serialize();
  vek::testing::MemoryFileEdge edge(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  vek::FileHandle file = vek::kNoFile;
  (void)edge.OpenRead("archive", &file);
  vek::ArchiveReader reader;
  if (!reader.Open(edge, file, 0).ok()) abort();
  if (reader.GetEntryCount() != builder.entries().size()) abort();
  for (const auto& e : builder.entries()) {
    int32_t id = e.id;
    vek::ArchiveEntry entry;
    if (!reader.FindEntry(id, &entry) || entry.kind != e.kind || entry.size != e.size ||
        entry.data_offset != e.data_offset || entry.attributes != e.attributes || entry.time_stamp != e.time_stamp ||
        entry.parent_id != e.parent_id || std::string(entry.name, entry.name_length) != e.name) {
      abort();
    }
    // The reader's paths are UTF-8.
    std::string utf8(3 * paths[e.id].size() + 1, '\0');
    utf8.resize(vek::Cp1250ToUtf8(paths[e.id].data(), paths[e.id].size(), utf8.data(), utf8.size()));
    if (!(reader.GetEntryPath(id) == utf8.c_str())) abort();
    if (reader.CheckEntryPath(id) != (too_long[e.id] ? vek::PathSafety::kTooLong : vek::PathSafety::kSafe)) abort();
  }

  // Compressed: every file comes back with its size, and every block decodes to its
  // files, each under its checksum.
  vek::build::ArchiveOptions compress;
  compress.compress_level = 1 + (size > 0 ? data[0] % 9 : 0);
  compress.threads = 1;
  bytes = builder.Serialize(compress);
  vek::testing::MemoryFileEdge packed(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  (void)packed.OpenRead("archive", &file);
  const uint32_t end = static_cast<uint32_t>(bytes.size() - vek::ExtensionFooter::kSize);
  const uint32_t block = vek::ReadExtensionFooter(reinterpret_cast<const unsigned char*>(bytes.data()) + end);
  if (!reader.Open(packed, file, 0, vek::ExtensionSpan(end - block, end)).ok() || !reader.HasChecksums()) abort();
  vek::DataChecker checker(reader, /*inflate=*/true);
  for (const auto& e : builder.entries()) {
    vek::ArchiveEntry entry;
    if (!reader.FindEntry(e.id, &entry) || entry.kind != e.kind) abort();
    if (e.kind == vek::kEntryKindFile &&
        (entry.original_size != static_cast<uint32_t>(e.size) || !checker.CheckEntry(entry).ok())) {
      abort();
    }
  }
  struct Sound final : vek::BlockFileSink {
    vek::Error Begin(const vek::ArchiveEntry&) override { return vek::NoError(); }
    vek::Error Write(const unsigned char*, size_t) override { return vek::NoError(); }
    vek::Error End(const vek::ArchiveEntry&, const vek::Error& outcome) override {
      if (outcome) abort();
      return vek::NoError();
    }
  } sound;
  vek::SolidPlan plan;
  if (!plan.Make(reader)) abort();
  for (uint32_t b = 0; b < plan.blocks(); ++b) {
    uint32_t n = 0;
    const uint32_t* ids = plan.Files(b, &n);
    uint32_t slot = 0;
    if (!checker.CheckBlock(b).ok() || !vek::DecodeBlock(reader, reader.file(), b, ids, n, sound, &slot).ok()) abort();
  }
  (void)reader.Close();  // before the edge it reads through goes
  return 0;
}
