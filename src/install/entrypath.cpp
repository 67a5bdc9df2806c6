// The reader's paths: an entry's path built from the parent links, and whether it can
// be written below a destination.
#include <stdlib.h>

#include "cp1250.h"
#include "rnvek100.h"
#include "winpath.h"

namespace vek {

// What CheckEntryPath found for a slot.
struct ArchiveReader::PathMemo {
  enum : uint8_t { kUnknown = 0, kVisiting, kDone };
  uint8_t state;
  PathSafety safety;
  uint32_t length;  // of the relative path in the platform's units, at most kLengthCap
  static constexpr uint32_t kLengthCap = 0x7FFFFFFF;
};

namespace {

PathSafety NameSafety(const unsigned char* record, NameEncoding encoding) {
  switch (CheckWindowsName(RecordName(record), RecordNameLength(record), encoding)) {
    case NameRule::kFine: return PathSafety::kSafe;
    case NameRule::kEmpty: return PathSafety::kEmptyName;
    case NameRule::kDotName: return PathSafety::kDotName;
    case NameRule::kForbiddenCharacter: return PathSafety::kForbiddenCharacter;
    case NameRule::kTrailingDotOrBlank: return PathSafety::kTrailingDotOrBlank;
    case NameRule::kDeviceName: return PathSafety::kDeviceName;
  }
  return PathSafety::kForbiddenCharacter;
}

// The longest path the platform creates for the record's kind.
size_t PathLimit(const PathLimits& limits, const unsigned char* record) {
  return record[EntryRecord::kKindOffset] == kEntryKindDirectory ? limits.max_directory_path : limits.max_file_path;
}

}  // namespace

AnsiString ArchiveReader::GetEntryPath(int32_t id, char separator) const {
  AnsiString path;
  // Walk from the entry outward, at most EntryCount levels (a cycle ends there; the
  // table, and so the scratch stack, has room for at least that many).
  const uint32_t max_levels = GetEntryCount();
  // A Windows-1250 byte takes up to 3 bytes of UTF-8.
  const size_t widening = names_ == NameEncoding::kUtf8 ? 1 : 3;
  uint32_t levels = 0;
  size_t length = 0;
  int32_t key = id;
  while (levels < max_levels) {
    uint32_t slot = FindSlot(key);
    if (!slot) break;
    walk_[levels++] = slot;
    length += 1 + widening * RecordNameLength(Slot(slot));
    uint16_t parent = LoadU16(Slot(slot) + EntryRecord::kParentIdOffset);
    if (parent == 0) break;
    key = parent;
  }
  if (!path.Reserve(length)) return path;
  char utf8[3 * EntryRecord::kNameMaxLength + 1];
  while (levels > 0) {
    const unsigned char* record = Slot(walk_[--levels]);
    path.Append(separator);
    if (names_ == NameEncoding::kUtf8) {
      path.Append(RecordName(record), RecordNameLength(record));
    } else {
      path.Append(utf8, Cp1250ToUtf8(RecordName(record), RecordNameLength(record), utf8, sizeof utf8));
    }
  }
  return path;
}

PathSafety ArchiveReader::CheckEntryPath(int32_t id) const {
  uint32_t start = FindSlot(id);
  if (!start) return PathSafety::kSafe;  // an empty path: nothing is written for it
  if (!memo_) {
    memo_ = static_cast<PathMemo*>(calloc(capacity_, sizeof(PathMemo)));
    if (!memo_) return PathSafety::kTooLong;  // cannot tell: refuse rather than guess
  }
  // Walk up until a slot whose answer is known, the root, a missing parent or a slot
  // already on this walk (a cycle); then settle the walk from the top down.
  uint32_t depth = 0;
  uint32_t slot = start;
  PathSafety above = PathSafety::kSafe;
  uint32_t above_length = 0;
  uint32_t cycle_from = UINT32_MAX;  // index in walk_ where a cycle begins
  for (;;) {
    PathMemo& memo = memo_[slot - 1];
    if (memo.state == PathMemo::kDone) {
      above = memo.safety;
      above_length = memo.length;
      break;
    }
    if (memo.state == PathMemo::kVisiting) {
      for (uint32_t i = 0; i < depth; ++i) {
        if (walk_[i] == slot) cycle_from = i;
      }
      break;
    }
    memo.state = PathMemo::kVisiting;
    walk_[depth++] = slot;
    uint16_t parent = LoadU16(Slot(slot) + EntryRecord::kParentIdOffset);
    uint32_t next = parent ? FindSlot(parent) : 0;
    if (!next) break;
    slot = next;
  }
  const PathLimits& limits = PlatformPathLimits();
  while (depth > 0) {
    uint32_t index = --depth;
    PathMemo& memo = memo_[walk_[index] - 1];
    const unsigned char* record = Slot(walk_[index]);
    size_t name_units = PathUnits(limits, RecordName(record), RecordNameLength(record), names_);
    uint64_t length = uint64_t{above_length} + 1 + name_units;
    if (length > PathMemo::kLengthCap) length = PathMemo::kLengthCap;
    PathSafety safety = NameSafety(record, names_);
    if (cycle_from != UINT32_MAX) {
      safety = PathSafety::kCycle;  // in the cycle, or below it
    } else if (safety == PathSafety::kSafe) {
      safety = above;
      if (safety == PathSafety::kSafe && (length > PathLimit(limits, record) || name_units > limits.max_name)) {
        safety = PathSafety::kTooLong;
      }
    }
    memo.state = PathMemo::kDone;
    memo.safety = safety;
    memo.length = static_cast<uint32_t>(length);
    above = safety;
    above_length = static_cast<uint32_t>(length);
  }
  return memo_[start - 1].safety;
}

PathSafety ArchiveReader::CheckEntryPathBelow(const AnsiString& destination, int32_t id) const {
  PathSafety safety = CheckEntryPath(id);
  uint32_t slot = FindSlot(id);
  if (safety != PathSafety::kSafe || !slot) return safety;
  // Every entry's relative path begins with "\" and holds no other separator but
  // those between its names.
  if (JoinLeavesTheDisk(destination.data(), destination.size(), "\\", 1)) return PathSafety::kNetworkPath;
  const PathLimits& limits = PlatformPathLimits();
  const uint64_t length =
      uint64_t{PathUnits(limits, destination.data(), destination.size(), NameEncoding::kUtf8)} + memo_[slot - 1].length;
  return length > PathLimit(limits, Slot(slot)) ? PathSafety::kTooLong : PathSafety::kSafe;
}

const char* DescribePathSafety(PathSafety safety) {
  switch (safety) {
    case PathSafety::kSafe: return "safe";
    case PathSafety::kDotName: return "a name on its path is \".\", \"..\" or only dots and blanks";
    case PathSafety::kForbiddenCharacter:
      return "a name on its path holds a character that Windows forbids in names (\\ / : * ? \" < > | or a control "
             "character) or a byte that is no character (one that Windows-1250 does not define, or no UTF-8)";
    case PathSafety::kCycle: return "its parent links run into a cycle";
    case PathSafety::kTooLong: return "its path is longer than this system can create";
    case PathSafety::kEmptyName: return "a name on its path is empty";
    case PathSafety::kDeviceName:
      return "a name on its path is a Windows device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, CONIN$, CONOUT$)";
    case PathSafety::kTrailingDotOrBlank: return "a name on its path ends in a dot or a blank, which Windows drops";
    case PathSafety::kNetworkPath: return "below this destination its first names would name a network host or device";
  }
  return "unsafe";
}

}  // namespace vek
