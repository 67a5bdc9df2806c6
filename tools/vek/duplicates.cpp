// vek test: entries that land on one path.
#include <stdint.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "casefold.h"
#include "check.h"
#include "cp1250.h"
#include "shown.h"

namespace vek::tools {
namespace {

// The ways two distinct entries can land on one name: the same characters, or names
// that differ only in letter case (one name on Windows). Keys are UTF-8, whatever the
// archive's encoding, so that a path built by the reader compares with its names.
enum KeyKind { kExactKey, kFoldedKey, kKeyKinds };

std::string SegmentKey(KeyKind kind, const char* name, size_t length, NameEncoding encoding) {
  if (kind == kFoldedKey) return FoldedName(name, length, encoding);
  if (encoding == NameEncoding::kUtf8) return std::string(name, length);
  std::string utf8(3 * length + 1, '\0');
  utf8.resize(Cp1250ToUtf8(name, length, utf8.data(), utf8.size()));
  return utf8;
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
std::string PathKey(const ArchiveReader& reader, KeyKind kind, int32_t id) {
  AnsiString path = reader.GetEntryPath(id);
  std::string key;
  size_t begin = 0;
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i == path.size() || path.data()[i] == '\\') {
      key += '\\';
      key += SegmentKey(kind, path.data() + begin + 1, i - begin - 1, NameEncoding::kUtf8);
      begin = i;
    }
  }
  return key;
}

}  // namespace

// By hashes of the entries' paths built from their parents' (each entry costs its own
// name, whatever its depth), sorted to find the first entry of each. Only entries with
// safe paths take part: the others are refused anyway.
void FindDuplicatePaths(const ArchiveReader& reader, std::vector<Problem>* problems) {
  const uint32_t n = reader.GetEntryCount();
  std::vector<uint64_t> hashes(static_cast<size_t>(n + 1) * kKeyKinds);
  std::vector<uint8_t> known(n + 1);
  std::vector<uint32_t> taking;  // the entries taking part, in table order
  std::vector<uint32_t> chain;
  for (uint32_t id = 1; id <= n; ++id) {
    uint8_t kind = reader.GetEntryKind(static_cast<int32_t>(id));
    if (kind != kEntryKindFile && kind != kEntryKindDirectory) continue;
    if (reader.CheckEntryPath(static_cast<int32_t>(id)) != PathSafety::kSafe) continue;
    taking.push_back(id);
    // Hash the entry and its ancestors not yet hashed, outermost first.
    chain.clear();
    for (uint32_t at = id; at != 0 && at <= n && !known[at];) {
      chain.push_back(at);
      uint16_t parent = reader.GetEntryParentId(static_cast<int32_t>(at));
      at = parent != 0 && reader.GetEntryKind(parent) != kEntryKindNotFound ? parent : 0;
    }
    while (!chain.empty()) {
      uint32_t at = chain.back();
      chain.pop_back();
      uint16_t parent = reader.GetEntryParentId(static_cast<int32_t>(at));
      bool rooted = parent == 0 || parent > n || reader.GetEntryKind(parent) == kEntryKindNotFound;
      size_t length = 0;
      const char* name = reader.GetEntryName(static_cast<int32_t>(at), &length);
      for (int k = 0; k < kKeyKinds; ++k) {
        uint64_t above = rooted ? 0 : hashes[size_t{parent} * kKeyKinds + k];
        hashes[size_t{at} * kKeyKinds + k] =
            Mix(above * 0x9E3779B97F4A7C15ull +
                HashBytes(SegmentKey(static_cast<KeyKind>(k), name, length, reader.name_encoding())));
      }
      known[at] = 1;
    }
  }
  // Per key kind, the first entry taking part whose path has each entry's hash.
  std::vector<uint32_t> first(static_cast<size_t>(n + 1) * kKeyKinds);
  std::vector<std::pair<uint64_t, uint32_t>> sorted(taking.size());
  for (int k = 0; k < kKeyKinds; ++k) {
    for (size_t i = 0; i < taking.size(); ++i) sorted[i] = {hashes[size_t{taking[i]} * kKeyKinds + k], taking[i]};
    std::sort(sorted.begin(), sorted.end());
    for (size_t i = 0; i < sorted.size(); ++i) {
      const uint32_t earliest = i > 0 && sorted[i - 1].first == sorted[i].first
                                    ? first[size_t{sorted[i - 1].second} * kKeyKinds + k]
                                    : sorted[i].second;
      first[size_t{sorted[i].second} * kKeyKinds + k] = earliest;
    }
  }
  for (uint32_t id : taking) {
    const uint8_t kind = reader.GetEntryKind(static_cast<int32_t>(id));
    for (int k = 0; k < kKeyKinds; ++k) {
      const int32_t earlier = static_cast<int32_t>(first[size_t{id} * kKeyKinds + k]);
      if (earlier == static_cast<int32_t>(id)) continue;
      KeyKind key_kind = static_cast<KeyKind>(k);
      if (PathKey(reader, key_kind, earlier) != PathKey(reader, key_kind, static_cast<int32_t>(id))) continue;
      std::string label = EntryLabel(reader, static_cast<int32_t>(id));
      std::string other = EntryLabel(reader, earlier);
      uint8_t earlier_kind = reader.GetEntryKind(earlier);
      if (k == kExactKey) {
        problems->push_back({"duplicate path", label + ": the same path as " + other +
                                                   (kind == kEntryKindFile && earlier_kind == kEntryKindFile
                                                        ? "; it would replace that file"
                                                    : kind != earlier_kind ? " (a file and a folder of one name)"
                                                                           : "")});
      } else {
        problems->push_back({"duplicate path in other case",
                             label + ": the path of " + other + " in other letter case; on Windows they are one"});
      }
      break;  // the closest match says it
    }
  }
}

}  // namespace vek::tools
