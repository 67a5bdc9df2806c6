#include "inspect.h"

#include <string.h>

#include <algorithm>
#include <fstream>
#include <unordered_map>

#include "cp1250.h"
#include "dostime.h"
#include "errorwords.h"
#include "nativefile.h"
#include "stubconfig.h"
#include "winpath.h"

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

std::string EntryLabel(int32_t id) { return "entry " + std::to_string(id) + " (" + ShownPath(id) + ")"; }

// The ways two distinct entries can land on one name: the same bytes; names that
// differ only in letter case (one name on Windows); names that this system's file
// names make one (on POSIX, bytes that Windows-1250 leaves undefined all become
// U+FFFD).
enum KeyKind { kExactKey, kFoldedKey, kLocalKey, kKeyKinds };

std::string SegmentKey(KeyKind kind, const char* name, size_t length) {
  std::string key(name, length);
  if (kind == kFoldedKey) {
    for (char& c : key) c = static_cast<char>(FoldCase1250(static_cast<unsigned char>(c)));
  } else if (kind == kLocalKey) {
#ifndef _WIN32
    std::string utf8(length * 3 + 1, '\0');
    size_t n = Cp1250ToUtf8(name, length, utf8.data(), utf8.size());
    key = n == static_cast<size_t>(-1) ? std::string() : utf8.substr(0, n);
#endif
  }
  return key;
}

uint64_t Mix(uint64_t h) {
  h ^= h >> 30;
  h *= 0xBF58476D1CE4E5B9ull;
  h ^= h >> 27;
  h *= 0x94D049BB133111EBull;
  return h ^ (h >> 31);
}

uint64_t HashBytes(const std::string& bytes) {
  uint64_t h = 0xCBF29CE484222325ull;
  for (unsigned char c : bytes) h = (h ^ c) * 0x100000001B3ull;
  return h;
}

// The whole key of an entry's path, segment by segment, to confirm a hash match.
std::string PathKey(KeyKind kind, int32_t id) {
  AnsiString path = GetEntryPath(id);
  std::string key;
  size_t begin = 0;
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i == path.size() || path.data()[i] == '\\') {
      key += '\\';
      key += SegmentKey(kind, path.data() + begin + 1, i - begin - 1);
      begin = i;
    }
  }
  return key;
}

// Entries that land on the path of an earlier entry, by hashes of their paths built
// from their parents' (each entry costs its own name, whatever its depth). Only
// entries with safe paths take part: the others are refused anyway.
void FindDuplicatePaths(const OpenedArchive& archive, std::vector<Problem>* problems) {
  const uint32_t n = archive.count;
  std::vector<uint64_t> hashes(static_cast<size_t>(n + 1) * kKeyKinds);
  std::vector<uint8_t> known(n + 1);
  std::unordered_map<uint64_t, uint32_t> first[kKeyKinds];
  std::vector<uint32_t> chain;
  for (uint32_t id = 1; id <= n; ++id) {
    uint8_t kind = GetEntryKind(static_cast<int32_t>(id));
    if (kind != kEntryKindFile && kind != kEntryKindDirectory) continue;
    if (CheckEntryPath(static_cast<int32_t>(id)) != PathSafety::kSafe) continue;
    // Hash the entry and its ancestors not yet hashed, outermost first.
    chain.clear();
    for (uint32_t at = id; at != 0 && at <= n && !known[at];) {
      chain.push_back(at);
      uint16_t parent = GetEntryParentId(static_cast<int32_t>(at));
      at = parent != 0 && GetEntryKind(parent) != kEntryKindNotFound ? parent : 0;
    }
    while (!chain.empty()) {
      uint32_t at = chain.back();
      chain.pop_back();
      uint16_t parent = GetEntryParentId(static_cast<int32_t>(at));
      bool rooted = parent == 0 || parent > n || GetEntryKind(parent) == kEntryKindNotFound;
      size_t length = 0;
      const char* name = GetEntryName(static_cast<int32_t>(at), &length);
      for (int k = 0; k < kKeyKinds; ++k) {
        uint64_t above = rooted ? 0 : hashes[size_t{parent} * kKeyKinds + k];
        hashes[size_t{at} * kKeyKinds + k] =
            Mix(above * 0x9E3779B97F4A7C15ull + HashBytes(SegmentKey(static_cast<KeyKind>(k), name, length)));
      }
      known[at] = 1;
    }
    for (int k = 0; k < kKeyKinds; ++k) {
#ifdef _WIN32
      if (k == kLocalKey) break;  // the names go to Windows as they are
#endif
      auto [it, inserted] = first[k].emplace(hashes[size_t{id} * kKeyKinds + k], id);
      if (inserted) continue;
      int32_t earlier = static_cast<int32_t>(it->second);
      KeyKind key_kind = static_cast<KeyKind>(k);
      if (PathKey(key_kind, earlier) != PathKey(key_kind, static_cast<int32_t>(id))) continue;
      std::string label = EntryLabel(static_cast<int32_t>(id));
      std::string other = EntryLabel(earlier);
      uint8_t earlier_kind = GetEntryKind(earlier);
      if (k == kExactKey) {
        problems->push_back({"duplicate path",
                             label + ": the same path as " + other +
                                 (kind == kEntryKindFile && earlier_kind == kEntryKindFile
                                      ? "; it would replace that file"
                                      : kind != earlier_kind ? " (a file and a folder of one name)" : "")});
      } else if (k == kFoldedKey) {
        problems->push_back({"duplicate path in other case",
                             label + ": the path of " + other + " in other letter case; on Windows they are one"});
      } else {
        problems->push_back({"duplicate local name",
                             label + ": names the same file here as " + other +
                                 " (bytes that Windows-1250 leaves undefined become one character here)"});
      }
      break;  // the closest match says it
    }
  }
}

}  // namespace

std::string ErrorText(const Error& error) { return ErrorInWords(error); }

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

std::string ShownPath(int32_t id) {
  // Collect names from the entry outward until the root, or until the budget is
  // spent (a deep or cyclic chain): then the path shows as "..." and its tail.
  constexpr size_t kMaxLevels = 64;
  std::vector<std::pair<const char*, size_t>> names;
  size_t bytes = 0;
  bool whole = false;
  int32_t at = id;
  while (names.size() < kMaxLevels && bytes <= kShownPathLimit) {
    size_t length = 0;
    const char* name = GetEntryName(at, &length);
    if (!name) {
      whole = true;
      break;
    }
    names.push_back({name, length});
    bytes += 1 + length;
    uint16_t parent = GetEntryParentId(at);
    if (parent == 0 || GetEntryKind(parent) == kEntryKindNotFound || GetEntryCount() <= names.size()) {
      whole = parent == 0 || GetEntryKind(parent) == kEntryKindNotFound;
      break;
    }
    at = parent;
  }
  if (!whole && names.empty()) return "";
  std::string raw;
  for (size_t i = names.size(); i-- > 0;) {
    raw += '\\';
    raw.append(names[i].first, names[i].second);
  }
  if (raw.size() > kShownPathLimit) raw = raw.substr(raw.size() - kShownPathLimit);
  std::string shown = PrintablePath(raw.data(), raw.size());
  return whole && raw.size() == bytes ? shown : "..." + shown;
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
  e = archive->file.edge->Seek(archive->file.handle, static_cast<int64_t>(start->offset));
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

void NoteHowFound(const OpenedArchive& archive, FILE* out) {
  if (archive.start.source != StartSource::kScan) return;
  fprintf(out, "%s: note: no VEK stub's start offset in this file; the archive at offset %u was found by "
          "searching for its signature\n", archive.path.c_str(), archive.start.offset);
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
    std::string when;
    std::string size;
    if (kind == kEntryKindFile) {
      ++files;
      int32_t s = GetEntrySize(static_cast<int32_t>(id));
      if (s > 0) bytes += static_cast<uint64_t>(s);
      size = std::to_string(s);
      char text[20];
      FormatDosTime(GetEntryTimeStamp(static_cast<int32_t>(id)), text);
      when = text;
      if (when.empty()) when = "(invalid)";
    } else if (kind == kEntryKindDirectory) {
      ++dirs;
    } else {
      ++other;
    }
    fprintf(out, "%5u %-4s %s %-19s %10s %s\n", id, KindName(kind).c_str(),
            Attributes(kind, GetEntryAttributes(static_cast<int32_t>(id))).c_str(), when.c_str(), size.c_str(),
            ShownPath(static_cast<int32_t>(id)).c_str());
  }
  fputs(rule, out);
  fprintf(out, "%37llu %u entries: %u files, %u directories", static_cast<unsigned long long>(bytes),
          archive.count, files, dirs);
  if (other) fprintf(out, ", %u of unknown kind", other);
  fputc('\n', out);
}

std::vector<Problem> CheckArchive(const OpenedArchive& archive) {
  std::vector<Problem> problems;
  if (!archive.config_error.empty()) problems.push_back({"configuration", archive.config_error});
  const unsigned char* signature = GetSignatureBuffer();
  if (memcmp(signature, kArchiveMagic, ArchiveSignature::kMagicSize) != 0 ||
      memcmp(signature + ArchiveSignature::kTailOffset, kSignatureTail, ArchiveSignature::kTailSize) != 0) {
    problems.push_back({"signature", "the signature is not \"RN-VEK\" 00 01"});
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
      problems.push_back({"no record", "entry " + std::to_string(slot) + ": no record carries this identifier"});
      continue;
    }
    std::string label = EntryLabel(id);
    uint16_t parent = GetEntryParentId(id);
    uint8_t kind = GetEntryKind(id);
    if (kind != kEntryKindDirectory && kind != kEntryKindFile) {
      problems.push_back({"unknown kind", label + ": unknown kind " + std::to_string(kind)});
    }
    if (name_length == 0) problems.push_back({"empty name", label + ": empty name"});
    if (parent != 0) {
      uint8_t parent_kind = GetEntryKind(parent);
      if (parent_kind == kEntryKindNotFound) {
        problems.push_back({"missing parent", label + ": its parent " + std::to_string(parent) + " does not exist"});
      } else if (parent >= slot) {
        problems.push_back({"later parent", label + ": its parent " + std::to_string(parent) + " is not an earlier entry"});
      } else if (parent_kind != kEntryKindDirectory) {
        problems.push_back({"file parent", label + ": its parent " + std::to_string(parent) + " is not a directory"});
      }
    }
    PathSafety safety = CheckEntryPath(id);
    if (safety != PathSafety::kSafe) {
      problems.push_back({std::string("unsafe: ") + DescribePathSafety(safety), label + ": unsafe: " + DescribePathSafety(safety)});
    }
    if (kind == kEntryKindFile) {
      int32_t size = GetEntrySize(id);
      uint32_t offset = GetEntryDataOffset(id);
      if (size < 0) {
        problems.push_back({"negative size", label + ": negative size " + std::to_string(size)});
      } else {
        uint64_t end = uint64_t{offset} + uint64_t(size);
        if (end > data_size) {
          problems.push_back({"data past the end", label + ": its data (" + std::to_string(offset) + " + " +
                                                       std::to_string(size) + ") runs past the end of the file"});
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
      problems.push_back({"identifier", "record " + std::to_string(slot) + " carries identifier " + std::to_string(id) +
                                           (id >= 1 && id < slot ? " (a duplicate)" : "") + ", not " +
                                           std::to_string(slot)});
    }
  }
  std::sort(ranges.begin(), ranges.end(), [](const Range& a, const Range& b) { return a.begin < b.begin; });
  for (size_t i = 1; i < ranges.size(); ++i) {
    if (ranges[i].begin < ranges[i - 1].end) {
      problems.push_back({"overlap", EntryLabel(static_cast<int32_t>(ranges[i].id)) + ": its data overlaps that of " +
                                        EntryLabel(static_cast<int32_t>(ranges[i - 1].id))});
    }
  }
  FindDuplicatePaths(archive, &problems);
  return problems;
}

std::vector<std::string> SummariseProblems(const std::vector<Problem>& problems, size_t shown) {
  std::vector<std::string> lines;
  std::vector<std::pair<std::string, size_t>> counts;  // kinds in order of appearance
  for (const Problem& p : problems) {
    auto it = std::find_if(counts.begin(), counts.end(), [&](const auto& c) { return c.first == p.kind; });
    if (it == counts.end()) it = counts.insert(counts.end(), {p.kind, 0});
    if (++it->second <= shown) lines.push_back(p.text);
  }
  for (const auto& [kind, count] : counts) {
    if (count > shown) {
      lines.push_back("... and " + std::to_string(count - shown) + " more of this kind: " + kind);
    }
  }
  return lines;
}

}  // namespace vek::tools
