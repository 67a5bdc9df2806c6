#include "list.h"

#include <stdint.h>

#include <algorithm>
#include <string>

#include "check.h"
#include "dostime.h"
#include "nativefile.h"
#include "shown.h"
#include "versioninfo.h"

namespace vek::tools {
namespace {

const char* SourceName(StartSource source) {
  switch (source) {
    case StartSource::kBareArchive: return "bare archive";
    case StartSource::kStubConstant: return "self-extracting executable, start offset from its stub";
    case StartSource::kScan: return "found by searching for the signature";
  }
  return "";
}

// "DRHSA", a dot for each attribute the entry lacks.
std::string Attributes(uint8_t kind, uint32_t a) {
  std::string s = ".....";
  if (kind == kEntryKindDirectory || (a & kAttrDirectory)) s[0] = 'D';
  if (a & kAttrReadOnly) s[1] = 'R';
  if (a & kAttrHidden) s[2] = 'H';
  if (a & kAttrSystem) s[3] = 'S';
  if (a & kAttrArchive) s[4] = 'A';
  return s;
}

std::string KindName(uint8_t kind) {
  if (kind == kEntryKindDirectory) return "dir";
  if (kind == kEntryKindFile) return "file";
  return "?" + std::to_string(kind);
}

void ListConfiguration(const OpenedArchive& archive, FILE* out) {
  // UTF-8, as the publisher wrote it.
  fprintf(out, "Configuration (at %u):\n", archive.start.config_offset);
  if (!archive.config_error.empty()) {
    fprintf(out, "  (%s)\n",
            PrintableText(archive.config_error.data(), archive.config_error.size(), NameEncoding::kUtf8).c_str());
  }
  size_t at = 0;
  while (at < archive.config.size()) {
    size_t end = archive.config.find('\n', at);
    if (end == std::string::npos) end = archive.config.size();
    fprintf(out, "  %s\n", PrintableText(archive.config.data() + at, end - at, NameEncoding::kUtf8).c_str());
    at = end + 1;
  }
  fputc('\n', out);
}

// The executable's version information (the stub in front of the archive), when it
// has any.
void ListVersionInfo(const OpenedArchive& archive, FILE* out) {
  constexpr uint32_t kExecutableLimit = 16 << 20;  // what is read of the part before the archive
  if (archive.start.offset == 0) return;
  std::string image(std::min(archive.start.offset, kExecutableLimit), '\0');
  FileHandle file = kNoFile;
  if (OpenNativeForReading(archive.path, &file)) return;
  FileEdge& edge = PlatformFileEdge();
  uint32_t done = 0;
  const bool read = !edge.Read(file, image.data(), static_cast<uint32_t>(image.size()), &done) && done == image.size();
  (void)edge.Close(file);
  const auto* bytes = reinterpret_cast<const unsigned char*>(image.data());
  std::string problem;
  const auto place = read ? FindVersionResource(bytes, image.size(), &problem) : std::nullopt;
  VersionInfo info;
  if (place && !ReadVersionInfo(bytes + place->file_offset, place->size, &info)) {
    problem = "its version resource is damaged";
  } else if (!place && problem.find("resource table") == std::string::npos) {
    return;  // none, or no PE image with data directories: nothing to tell
  }
  if (!problem.empty()) {
    fprintf(out, "Version information:\n  (%s)\n\n",
            PrintableText(problem.data(), problem.size(), NameEncoding::kUtf8).c_str());
    return;
  }
  const auto numbers = [](const uint16_t* v) {
    return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." + std::to_string(v[3]);
  };
  fprintf(out, "Version information:\n  %-16s %s\n  %-16s %s\n", "(file)", numbers(info.file_version).c_str(),
          "(product)", numbers(info.product_version).c_str());
  for (const auto& [key, value] : info.strings) {
    fprintf(out, "  %-16s %s\n", PrintableText(key.data(), key.size(), NameEncoding::kUtf8).c_str(),
            PrintableText(value.data(), value.size(), NameEncoding::kUtf8).c_str());
  }
  fputc('\n', out);
}

}  // namespace

namespace {

const char* MethodName(const ArchiveEntry& entry) {
  switch (entry.method) {
    case kMethodStored: return "stored";
    case kMethodDeflate: return "deflate";
    case kMethodLzmaSolid: return "lzma";
  }
  return "?";
}

}  // namespace

void ListArchive(const OpenedArchive& archive, FILE* out) {
  const ArchiveReader& reader = archive.reader;
  const unsigned char* header = reader.header();
  unsigned notice_length = header[ArchiveHeader::kNoticeOffset];
  if (notice_length > ArchiveHeader::kNoticeMaxLength) notice_length = ArchiveHeader::kNoticeMaxLength;
  fprintf(out, "Archive: %s\n", archive.path.c_str());
  fprintf(out, "Start:   %u (%s)\n", archive.start.offset, SourceName(archive.start.source));
  fprintf(out, "Notice:  \"%s\"\n",
          PrintableText(reinterpret_cast<const char*>(header + ArchiveHeader::kNoticeOffset + 1), notice_length,
                        NameEncoding::kWindows1250)
              .c_str());
  fprintf(out, "Checksums: %s\n", ChecksumsInWords(reader.extension()));
  if (archive.start.source == StartSource::kStubConstant) {
    fprintf(out, "Stub checksum: %s\n",
            !archive.start.self_checked ? "none (this stub does not check its own bytes)"
            : !archive.start.extension.present()
                ? "none (the stub checks its own bytes, but there is no checksum block)"
            : archive.start.self_crc == 0 ? "none (the stub checks its own bytes, but none was written)"
                                          : "CRC-32 of the stub's own bytes, which the stub checks before it runs");
  }
  // A compressed archive: each file's method, and what it takes stored (the files of a
  // block share its bytes).
  const bool compressed = reader.Compressed();
  const uint32_t blocks = reader.SolidBlockCount();
  uint64_t block_bytes = 0;
  for (uint32_t b = 0; b < blocks; ++b) block_bytes += reader.GetSolidBlock(b).stored_size;
  if (compressed && reader.ExtensionFlags() & kExtensionSolid) {
    fprintf(out,
            "Compression: solid LZMA, %u block%s of %llu bytes stored (Stored: the bytes a file takes in the "
            "archive; the files of a block share its bytes)\n",
            blocks, blocks == 1 ? "" : "s", static_cast<unsigned long long>(block_bytes));
  } else if (compressed) {
    fprintf(out, "Compression: deflate (Stored: the bytes a file takes in the archive)\n");
  }
  fputc('\n', out);
  ListVersionInfo(archive, out);
  if (archive.has_config) ListConfiguration(archive, out);
  const char* rule =
      compressed ? "----- ---- ----- ------------------- ---------- ---------- ------- ------------------------\n"
                 : "----- ---- ----- ------------------- ---------- ------------------------\n";
  fprintf(out, "   Id Kind Attr  Modified                  Size %sPath\n%s", compressed ? "    Stored Method  " : "",
          rule);
  const uint32_t count = reader.GetEntryCount();
  uint32_t files = 0, dirs = 0, other = 0, packed = 0;
  uint64_t bytes = 0, stored_bytes = block_bytes;
  for (uint32_t id = 1; id <= count; ++id) {
    ArchiveEntry entry;
    reader.FindEntry(static_cast<int32_t>(id), &entry);
    std::string when;
    std::string size;
    std::string stored;
    std::string method;
    if (entry.kind == kEntryKindFile) {
      ++files;
      if (entry.method == kMethodDeflate || entry.method == kMethodLzmaSolid) {
        ++packed;
        bytes += entry.original_size;
        size = std::to_string(entry.original_size);
      } else {
        if (entry.size > 0) bytes += static_cast<uint64_t>(entry.size);
        size = std::to_string(entry.size);
      }
      if (entry.method == kMethodLzmaSolid) {
        stored = "block " + std::to_string(entry.block + 1);
      } else {
        if (entry.size > 0) stored_bytes += static_cast<uint64_t>(entry.size);
        stored = std::to_string(entry.size);
      }
      method = MethodName(entry);
      char text[20];
      FormatDosTime(entry.time_stamp, text);
      when = text;
      if (when.empty()) when = "(invalid)";
    } else if (entry.kind == kEntryKindDirectory) {
      ++dirs;
    } else {
      ++other;
    }
    std::string columns;
    if (compressed) {
      char text[32];
      snprintf(text, sizeof text, "%10s %-7s ", stored.c_str(), method.c_str());
      columns = text;
    }
    fprintf(out, "%5u %-4s %s %-19s %10s %s%s\n", id, KindName(entry.kind).c_str(),
            Attributes(entry.kind, entry.attributes).c_str(), when.c_str(), size.c_str(), columns.c_str(),
            ShownPath(reader, static_cast<int32_t>(id)).c_str());
  }
  fputs(rule, out);
  fprintf(out, "%37llu ", static_cast<unsigned long long>(bytes));
  if (compressed) fprintf(out, "%10llu %7s ", static_cast<unsigned long long>(stored_bytes), "");
  fprintf(out, "%u entries: %u files, %u directories", count, files, dirs);
  if (other) fprintf(out, ", %u of unknown kind", other);
  if (compressed && bytes > 0) {
    fprintf(out, "; %u compressed; the files take %.1f%% of their size", packed, 100.0 * stored_bytes / bytes);
  }
  fputc('\n', out);
}

}  // namespace vek::tools
