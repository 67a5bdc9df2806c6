#include "inspect.h"

#include <string.h>

#include <algorithm>
#include <fstream>

#include "cp1250.h"
#include "nativefile.h"
#include "stubconfig.h"

namespace vek::tools {
namespace {

constexpr uint64_t kPositionLimit = uint64_t{1} << 31;

const char* SourceName(StartSource source) {
  switch (source) {
    case StartSource::kBareArchive: return "bare archive";
    case StartSource::kStubConstant: return "self-extracting executable, start offset from its stub";
    case StartSource::kScan: return "found by searching for the signature";
  }
  return "";
}

std::string Attributes(uint8_t kind, uint32_t a) {
  std::string s = ".....";
  if (kind == kEntryKindDirectory || (a & 0x10)) s[0] = 'D';
  if (a & 0x01) s[1] = 'R';
  if (a & 0x02) s[2] = 'H';
  if (a & 0x04) s[3] = 'S';
  if (a & 0x20) s[4] = 'A';
  return s;
}

std::string KindName(uint8_t kind) {
  if (kind == kEntryKindDirectory) return "dir";
  if (kind == kEntryKindFile) return "file";
  return "?" + std::to_string(kind);
}

std::string EntryLabel(int32_t id) {
  AnsiString path = GetEntryPath(id);
  return "entry " + std::to_string(id) + " (" + PrintablePath(path.data(), path.size()) + ")";
}

}  // namespace

std::string ErrorText(const Error& error) {
  char buffer[128];
  FormatErrorMessage(error, buffer, sizeof buffer);
  return buffer;
}

std::string PrintablePath(const char* bytes, size_t length) {
  std::string out;
  for (size_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x20 || c == 0x7F) {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
#ifdef _WIN32
      out += static_cast<char>(c);
#else
      char utf8[4];
      size_t n = Cp1250ToUtf8(reinterpret_cast<const char*>(&c), 1, utf8, sizeof utf8);
      out.append(utf8, n == static_cast<size_t>(-1) ? 0 : n);
#endif
    }
  }
  return out;
}

std::string FormatDosTime(uint32_t stamp) {
  unsigned date = stamp >> 16, t = stamp & 0xFFFF;
  unsigned year = 1980 + ((date >> 9) & 0x7F), month = (date >> 5) & 0x0F, day = date & 0x1F;
  unsigned hour = (t >> 11) & 0x1F, minute = (t >> 5) & 0x3F, second = (t & 0x1F) * 2;
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59) return "";
  char buffer[32];
  snprintf(buffer, sizeof buffer, "%04u-%02u-%02u %02u:%02u:%02u", year, month, day, hour, minute, second);
  return buffer;
}

bool ReadConfigBlock(const std::string& path, const ArchiveStart& start, std::string* text, std::string* error) {
  if (start.config_offset == 0 || start.config_offset >= start.offset) return false;
  const uint32_t size = start.offset - start.config_offset;
  std::string block(size, '\0');
  std::ifstream in(path, std::ios::binary);
  in.seekg(start.config_offset);
  if (size < kConfigMagicSize || size > kConfigMagicSize + kConfigTextLimit ||
      !in.read(block.data(), size) || memcmp(block.data(), kConfigMagic, kConfigMagicSize) != 0) {
    *error = "the configuration block at " + std::to_string(start.config_offset) + " is damaged";
    return true;
  }
  *text = block.substr(kConfigMagicSize);
  StubConfig config;
  std::string copy = *text;
  ConfigResult result = ParseStubConfig(copy.data(), copy.size(), &config);
  if (!result.ok()) {
    *error = "the configuration, line " + std::to_string(result.line) + ": " + DescribeConfigProblem(result);
  }
  return true;
}

bool OpenArchive(const std::string& path, OpenedArchive* archive, std::string* error) {
  archive->path = path;
  auto start = LocateArchive(path, error);
  if (!start) return false;
  archive->start = *start;
  archive->has_config = ReadConfigBlock(path, *start, &archive->config, &archive->config_error);
  archive->file_size = NativeFileSize(path);
  archive->file.edge = &PlatformFileEdge();
  Error e = OpenNativeForReading(path, &archive->file.handle);
  if (e) {
    *error = ErrorText(e);
    return false;
  }
  e = archive->file.edge->Seek(archive->file.handle, static_cast<int32_t>(start->offset));
  if (!e) e = ReadArchiveSignature(archive->file);
  if (!e) e = ReadArchiveHeader(archive->file);
  if (!e) {
    archive->count = GetEntryCount();
    e = AllocateEntryTable();
  }
  if (!e) e = LoadEntryTable(archive->file);
  if (e) {
    *error = ErrorText(e);
    if (e.kind == ErrorKind::kInOut && e.code == kIoReadBeyondEnd) {
      *error += " (the archive is cut short: " + std::to_string(GetLoadedEntryCount()) + " of " +
                std::to_string(GetEntryCount()) + " entry records present)";
    }
    CloseArchive(archive);
    return false;
  }
  return true;
}

void CloseArchive(OpenedArchive* archive) {
  FreeEntryTable();
  if (archive->file.handle != kNoFile) {
    (void)archive->file.edge->Close(archive->file.handle);
    archive->file.handle = kNoFile;
  }
}

void ListArchive(const OpenedArchive& archive, FILE* out) {
  const unsigned char* header = GetHeaderBuffer();
  unsigned notice_length = header[ArchiveHeader::kNoticeOffset];
  if (notice_length > ArchiveHeader::kNoticeSize - 1) notice_length = ArchiveHeader::kNoticeSize - 1;
  fprintf(out, "Archive: %s\n", archive.path.c_str());
  fprintf(out, "Start:   %u (%s)\n", archive.start.offset, SourceName(archive.start.source));
  fprintf(out, "Notice:  \"%s\"\n\n",
          PrintablePath(reinterpret_cast<const char*>(header + ArchiveHeader::kNoticeOffset + 1), notice_length).c_str());
  if (archive.has_config) {
    // UTF-8, as the publisher wrote it.
    fprintf(out, "Configuration (at %u):\n", archive.start.config_offset);
    if (!archive.config_error.empty()) fprintf(out, "  (%s)\n", archive.config_error.c_str());
    size_t at = 0;
    while (at < archive.config.size()) {
      size_t end = archive.config.find('\n', at);
      if (end == std::string::npos) end = archive.config.size();
      fprintf(out, "  %s\n", archive.config.substr(at, end - at).c_str());
      at = end + 1;
    }
    fputc('\n', out);
  }
  const char* rule = "----- ---- ----- ------------------- ---------- ------------------------\n";
  fprintf(out, "   Id Kind Attr  Modified                  Size Path\n%s", rule);
  uint32_t files = 0, dirs = 0, other = 0;
  uint64_t bytes = 0;
  for (uint32_t id = 1; id <= archive.count; ++id) {
    uint8_t kind = GetEntryKind(static_cast<int32_t>(id));
    AnsiString path = GetEntryPath(static_cast<int32_t>(id));
    std::string when;
    std::string size;
    if (kind == kEntryKindFile) {
      ++files;
      int32_t s = GetEntrySize(static_cast<int32_t>(id));
      if (s > 0) bytes += static_cast<uint64_t>(s);
      size = std::to_string(s);
      when = FormatDosTime(GetEntryTimeStamp(static_cast<int32_t>(id)));
      if (when.empty()) when = "(invalid)";
    } else if (kind == kEntryKindDirectory) {
      ++dirs;
    } else {
      ++other;
    }
    fprintf(out, "%5u %-4s %s %-19s %10s %s\n", id, KindName(kind).c_str(),
            Attributes(kind, GetEntryAttributes(static_cast<int32_t>(id))).c_str(), when.c_str(), size.c_str(),
            PrintablePath(path.data(), path.size()).c_str());
  }
  fputs(rule, out);
  fprintf(out, "%37llu %u entries: %u files, %u directories", static_cast<unsigned long long>(bytes),
          archive.count, files, dirs);
  if (other) fprintf(out, ", %u of unknown kind", other);
  fputc('\n', out);
}

std::vector<std::string> CheckArchive(const OpenedArchive& archive) {
  std::vector<std::string> problems;
  if (!archive.config_error.empty()) problems.push_back(archive.config_error);
  const unsigned char* signature = GetSignatureBuffer();
  if (memcmp(signature, kArchiveMagic, ArchiveSignature::kMagicSize) != 0 ||
      memcmp(signature + ArchiveSignature::kTailOffset, kSignatureTail, ArchiveSignature::kTailSize) != 0) {
    problems.push_back("the signature is not \"RN-VEK\" 00 01");
  }
  uint64_t data_start = uint64_t{archive.start.offset} + kArchivePrologueSize +
                        uint64_t{EntryRecord::kSize} * archive.count;
  uint64_t data_size = archive.file_size > 0 && uint64_t(archive.file_size) > data_start
                           ? uint64_t(archive.file_size) - data_start : 0;
  struct Range {
    uint64_t begin, end;
    uint32_t id;
  };
  std::vector<Range> ranges;
  for (uint32_t slot = 1; slot <= archive.count; ++slot) {
    int32_t id = static_cast<int32_t>(slot);
    size_t name_length = 0;
    const char* name = GetEntryName(id, &name_length);
    if (!name) {
      problems.push_back("entry " + std::to_string(slot) + ": no record carries this identifier");
      continue;
    }
    std::string label = EntryLabel(id);
    uint16_t parent = GetEntryParentId(id);
    uint8_t kind = GetEntryKind(id);
    if (kind != kEntryKindDirectory && kind != kEntryKindFile) {
      problems.push_back(label + ": unknown kind " + std::to_string(kind));
    }
    if (name_length == 0) problems.push_back(label + ": empty name");
    if (parent != 0) {
      uint8_t parent_kind = GetEntryKind(parent);
      if (parent_kind == kEntryKindNotFound) {
        problems.push_back(label + ": its parent " + std::to_string(parent) + " does not exist");
      } else if (parent >= slot) {
        problems.push_back(label + ": its parent " + std::to_string(parent) + " is not an earlier entry");
      } else if (parent_kind != kEntryKindDirectory) {
        problems.push_back(label + ": its parent " + std::to_string(parent) + " is not a directory");
      }
    }
    PathSafety safety = CheckEntryPath(id);
    if (safety != PathSafety::kSafe) problems.push_back(label + ": unsafe: " + DescribePathSafety(safety));
    if (kind == kEntryKindFile) {
      int32_t size = GetEntrySize(id);
      uint32_t offset = GetEntryDataOffset(id);
      if (size < 0) {
        problems.push_back(label + ": negative size " + std::to_string(size));
      } else {
        uint64_t end = uint64_t{offset} + uint64_t(size);
        if (end > data_size) {
          problems.push_back(label + ": its data (" + std::to_string(offset) + " + " + std::to_string(size) +
                             ") runs past the end of the file");
        }
        if (data_start + offset >= kPositionLimit && size > 0) {
          problems.push_back(label + ": its data lies at or beyond 2 GiB, where the extractor cannot seek");
        }
        if (size > 0) ranges.push_back({offset, end, slot});
      }
    }
  }
  // Identifiers must be 1..N in table order: each record's Id is its slot number.
  for (uint32_t slot = 1; slot <= archive.count; ++slot) {
    const unsigned char* record = GetSlotRecord(slot);
    if (!record) break;
    uint16_t id = LoadU16(record + EntryRecord::kIdOffset);
    if (id != slot) {
      problems.push_back("record " + std::to_string(slot) + " carries identifier " + std::to_string(id) +
                         (id >= 1 && id < slot ? " (a duplicate)" : "") + ", not " + std::to_string(slot));
    }
  }
  std::sort(ranges.begin(), ranges.end(), [](const Range& a, const Range& b) { return a.begin < b.begin; });
  for (size_t i = 1; i < ranges.size(); ++i) {
    if (ranges[i].begin < ranges[i - 1].end) {
      problems.push_back(EntryLabel(static_cast<int32_t>(ranges[i].id)) + ": its data overlaps that of " +
                         EntryLabel(static_cast<int32_t>(ranges[i - 1].id)));
    }
  }
  return problems;
}

}  // namespace vek::tools
