#include "rnvek100.h"

#include <stdlib.h>
#include <string.h>

namespace vek {
namespace {

// The unit's state, one of each per process.
unsigned char g_signature[ArchiveSignature::kSize];
unsigned char g_header[ArchiveHeader::kSize];
unsigned char* g_table = nullptr;  // g_capacity slots of EntryRecord::kSize bytes
uint32_t g_capacity = 0;
uint32_t g_loaded = 0;  // slots filled by the last LoadEntryTable

// Index from Id to the first slot (1-based) holding it, 0 for none, over the loaded
// slots, so that every lookup costs the same whatever the table's size.
constexpr uint32_t kIdCount = 65536;
uint32_t* g_first_slot = nullptr;

// Per-slot memo of path safety, filled on demand (see CheckEntryPath).
enum : uint8_t { kUnknown = 0, kVisiting = 1, kDone = 2 };
struct PathMemo {
  uint8_t state;
  PathSafety safety;
  uint32_t length;  // capped at kMaxEntryPathLength + 1
};
PathMemo* g_memo = nullptr;
uint32_t* g_walk = nullptr;  // scratch stack of slots for walks, g_capacity long

const unsigned char* Slot(uint32_t slot) {  // 1-based
  return g_table + static_cast<size_t>(slot - 1) * EntryRecord::kSize;
}

// The slot that a lookup for id finds, or 0: the first one in slot order among the
// EntryCount slots that a scan would examine.
uint32_t FindSlot(int32_t id) {
  if (id < 0 || id > 65535 || !g_first_slot) return 0;
  uint32_t slot = g_first_slot[id];
  uint32_t n = GetEntryCount();
  if (slot == 0 || slot > n || slot > g_loaded) return 0;
  return slot;
}

uint32_t NameLength(const unsigned char* record) {
  uint32_t length = record[EntryRecord::kNameOffset];
  return length > EntryRecord::kNameMaxLength ? EntryRecord::kNameMaxLength : length;
}

PathSafety NameSafety(const unsigned char* record) {
  uint32_t length = NameLength(record);
  const unsigned char* name = record + EntryRecord::kNameOffset + 1;
  bool only_dots_and_blanks = length > 0;
  for (uint32_t i = 0; i < length; ++i) {
    unsigned char c = name[i];
    if (c == '\\' || c == '/' || c == ':' || c == 0) return PathSafety::kForbiddenCharacter;
    if (c != '.' && c != ' ') only_dots_and_blanks = false;
  }
  // "." and ".." and what Windows trims down to them ("...", ". .", " ") name the
  // folder itself or its parent.
  return only_dots_and_blanks ? PathSafety::kDotName : PathSafety::kSafe;
}

void DropMemo() {
  free(g_memo);
  g_memo = nullptr;
}

void ReleaseTable() {
  free(g_table);
  free(g_first_slot);
  free(g_walk);
  DropMemo();
  g_table = nullptr;
  g_first_slot = nullptr;
  g_walk = nullptr;
  g_capacity = 0;
  g_loaded = 0;
}

}  // namespace

Error ReadExactly(ArchiveFile& file, void* buffer, uint32_t count) {
  uint32_t done = 0;
  VEK_TRY(file.edge->Read(file.handle, buffer, count, &done));
  if (done != count) return InOutError(kIoReadBeyondEnd);
  return NoError();
}

Error ReadArchiveSignature(ArchiveFile& file) {
  return ReadExactly(file, g_signature, ArchiveSignature::kSize);
}

Error ReadArchiveHeader(ArchiveFile& file) {
  DropMemo();
  return ReadExactly(file, g_header, ArchiveHeader::kSize);
}

uint16_t GetEntryCount() { return LoadU16(g_header + ArchiveHeader::kEntryCountOffset); }

const unsigned char* GetSignatureBuffer() { return g_signature; }
const unsigned char* GetHeaderBuffer() { return g_header; }

Error AllocateEntryTable() {
  ReleaseTable();
  uint32_t capacity = GetEntryCount();
  if (capacity < kEntryTableCapacity) capacity = kEntryTableCapacity;
  g_table = static_cast<unsigned char*>(malloc(static_cast<size_t>(capacity) * EntryRecord::kSize));
  g_first_slot = static_cast<uint32_t*>(calloc(kIdCount, sizeof(uint32_t)));
  g_walk = static_cast<uint32_t*>(malloc(static_cast<size_t>(capacity) * sizeof(uint32_t)));
  if (!g_table || !g_first_slot || !g_walk) {
    ReleaseTable();
    return OutOfMemoryError();
  }
  g_capacity = capacity;
  return NoError();
}

Error LoadEntryTable(ArchiveFile& file) {
  if (!g_table) return OutOfMemoryError();
  DropMemo();
  memset(g_first_slot, 0, kIdCount * sizeof(uint32_t));
  g_loaded = 0;
  uint32_t n = GetEntryCount();
  if (n > g_capacity) n = g_capacity;  // never past the table
  for (uint32_t slot = 1; slot <= n; ++slot) {
    unsigned char* record = g_table + static_cast<size_t>(slot - 1) * EntryRecord::kSize;
    VEK_TRY(ReadExactly(file, record, EntryRecord::kSize));
    g_loaded = slot;
    uint16_t id = LoadU16(record + EntryRecord::kIdOffset);
    if (g_first_slot[id] == 0) g_first_slot[id] = slot;
  }
  return NoError();
}

void FreeEntryTable() { ReleaseTable(); }

uint32_t GetLoadedEntryCount() { return g_loaded; }

const unsigned char* GetSlotRecord(uint32_t slot) {
  return slot >= 1 && slot <= g_loaded ? Slot(slot) : nullptr;
}

uint8_t GetEntryKind(int32_t id) {
  uint32_t slot = FindSlot(id);
  return slot ? Slot(slot)[EntryRecord::kKindOffset] : kEntryKindNotFound;
}

uint32_t GetEntryAttributes(int32_t id) {
  uint32_t slot = FindSlot(id);
  return slot ? LoadU32(Slot(slot) + EntryRecord::kAttributesOffset) : 0;
}

uint32_t GetEntryTimeStamp(int32_t id) {
  uint32_t slot = FindSlot(id);
  return slot ? LoadU32(Slot(slot) + EntryRecord::kTimeStampOffset) : 0;
}

int32_t GetEntrySize(int32_t id) {
  uint32_t slot = FindSlot(id);
  return slot ? static_cast<int32_t>(LoadU32(Slot(slot) + EntryRecord::kSizeOffset)) : 0;
}

uint32_t GetEntryDataOffset(int32_t id) {
  uint32_t slot = FindSlot(id);
  return slot ? LoadU32(Slot(slot) + EntryRecord::kDataOffsetOffset) : 0;
}

uint16_t GetEntryParentId(int32_t id) {
  uint32_t slot = FindSlot(id);
  return slot ? LoadU16(Slot(slot) + EntryRecord::kParentIdOffset) : 0;
}

const char* GetEntryName(int32_t id, size_t* length) {
  uint32_t slot = FindSlot(id);
  if (!slot) {
    *length = 0;
    return nullptr;
  }
  *length = NameLength(Slot(slot));
  return reinterpret_cast<const char*>(Slot(slot) + EntryRecord::kNameOffset + 1);
}

AnsiString GetEntryPath(int32_t id) {
  AnsiString path;
  uint32_t n = GetEntryCount();
  // Walk from the entry outward, at most EntryCount levels (a cycle ends there), and
  // never more than the scratch stack holds (a header read again after loading may
  // claim more entries than the table has).
  uint32_t max_levels = n < g_capacity ? n : g_capacity;
  uint32_t levels = 0;
  size_t length = 0;
  int32_t key = id;
  while (levels < max_levels) {
    uint32_t slot = FindSlot(key);
    if (!slot) break;
    g_walk[levels++] = slot;
    length += 1 + NameLength(Slot(slot));
    uint16_t parent = LoadU16(Slot(slot) + EntryRecord::kParentIdOffset);
    if (parent == 0) break;
    key = parent;
  }
  if (!path.Reserve(length)) return path;
  while (levels > 0) {
    const unsigned char* record = Slot(g_walk[--levels]);
    path.Append('\\');
    path.Append(reinterpret_cast<const char*>(record + EntryRecord::kNameOffset + 1),
                NameLength(record));
  }
  return path;
}

PathSafety CheckEntryPath(int32_t id) {
  uint32_t start = FindSlot(id);
  if (!start) return PathSafety::kSafe;  // an empty path: nothing is written for it
  if (!g_memo) {
    g_memo = static_cast<PathMemo*>(calloc(g_capacity, sizeof(PathMemo)));
    if (!g_memo) return PathSafety::kTooLong;  // cannot tell: refuse rather than guess
  }
  // Walk up until a slot whose answer is known, the root, a missing parent or a slot
  // already on this walk (a cycle); then settle the walk from the top down.
  uint32_t depth = 0;
  uint32_t slot = start;
  PathSafety above = PathSafety::kSafe;
  uint32_t above_length = 0;
  uint32_t cycle_from = UINT32_MAX;  // index in g_walk where a cycle begins
  for (;;) {
    PathMemo& memo = g_memo[slot - 1];
    if (memo.state == kDone) {
      above = memo.safety;
      above_length = memo.length;
      break;
    }
    if (memo.state == kVisiting) {
      for (uint32_t i = 0; i < depth; ++i) {
        if (g_walk[i] == slot) cycle_from = i;
      }
      break;
    }
    memo.state = kVisiting;
    g_walk[depth++] = slot;
    uint16_t parent = LoadU16(Slot(slot) + EntryRecord::kParentIdOffset);
    uint32_t next = parent ? FindSlot(parent) : 0;
    if (!next) break;
    slot = next;
  }
  while (depth > 0) {
    uint32_t index = --depth;
    PathMemo& memo = g_memo[g_walk[index] - 1];
    const unsigned char* record = Slot(g_walk[index]);
    uint32_t length = above_length + 1 + NameLength(record);
    if (length > kMaxEntryPathLength) length = kMaxEntryPathLength + 1;
    PathSafety safety = NameSafety(record);
    if (cycle_from != UINT32_MAX) {
      safety = PathSafety::kCycle;  // in the cycle, or below it
    } else if (safety == PathSafety::kSafe) {
      safety = above;
      if (safety == PathSafety::kSafe && length > kMaxEntryPathLength) safety = PathSafety::kTooLong;
    }
    memo.state = kDone;
    memo.safety = safety;
    memo.length = length;
    above = safety;
    above_length = length;
  }
  return g_memo[start - 1].safety;
}

const char* DescribePathSafety(PathSafety safety) {
  switch (safety) {
    case PathSafety::kSafe: return "safe";
    case PathSafety::kDotName: return "a name on its path is \".\", \"..\" or only dots and blanks";
    case PathSafety::kForbiddenCharacter: return "a name on its path holds \"\\\", \"/\", \":\" or a zero byte";
    case PathSafety::kCycle: return "its parent links run into a cycle";
    case PathSafety::kTooLong: return "its path is too long";
  }
  return "unsafe";
}

}  // namespace vek

// ---- Extraction ----------------------------------------------------------------------

#include "messagebox.h"

namespace vek {
namespace {

// Where the last character of path begins and where its last "\" or ":" lies, with
// regard to double-byte characters (a trail byte 0x5C is no backslash).
struct PathScan {
  size_t last_char = 0;           // start of the last character
  bool last_is_backslash = false;
  size_t last_separator = SIZE_MAX;  // index of the last single-byte "\" or ":"
};

PathScan ScanPath(const char* path, size_t length, FileEdge& edge) {
  PathScan scan;
  size_t i = 0;
  while (i < length) {
    unsigned char c = static_cast<unsigned char>(path[i]);
    scan.last_char = i;
    if (edge.IsLeadByte(c) && i + 1 < length) {
      scan.last_is_backslash = false;
      i += 2;
      continue;
    }
    scan.last_is_backslash = c == '\\';
    if (c == '\\' || c == ':') scan.last_separator = i;
    ++i;
  }
  return scan;
}

// Closes an output file that an error leaves behind, so that it can be replaced later.
Error Abandon(ArchiveFile& output, Error error) {
  (void)output.edge->Close(output.handle);
  output.handle = kNoFile;
  return error;
}

// Copies count bytes from the archive to the output. A refusal by the platform
// comes back as it is. A transfer that comes out short sets *shortfall: data cut
// short is the input/output error 100, a write that stops short a full disk.
Error CopyBlock(ArchiveFile& archive, ArchiveFile& output, char* buffer, uint32_t count,
                uint32_t* written, Error* shortfall) {
  uint32_t read = 0;
  VEK_TRY(archive.edge->CopyBlock(archive.handle, output.handle, buffer, count, &read, written));
  if (*written < read) {
    *shortfall = InOutError(kWinErrorDiskFull);
  } else if (read < count) {
    *shortfall = InOutError(kIoReadBeyondEnd);
  }
  return NoError();
}

}  // namespace

Error ForceDirectoryChain(const char* path, FileEdge& edge) {
  // Walk up from the path to the first directory that exists (or a drive, or a path
  // that is its own parent), then create the missing ones outermost first. Done with
  // a list instead of recursion so that a long path cannot exhaust the stack.
  struct Level {
    size_t length;
  };
  AnsiString p(path);
  if (p.failed()) return OutOfMemoryError();
  size_t length = p.size();
  Level* levels = nullptr;
  size_t depth = 0;
  size_t room = 0;
  Error result = NoError();
  for (;;) {
    if (length == 0) {
      result = GeneralError(kUnableToCreateDirectory);
      break;
    }
    PathScan scan = ScanPath(p.c_str(), length, edge);
    if (scan.last_is_backslash) {
      length = scan.last_char;
      scan = ScanPath(p.c_str(), length, edge);
    }
    if (length < 3) break;
    AnsiString current(p.c_str(), length);
    uint32_t attributes = 0;
    if (edge.GetAttributes(current.c_str(), &attributes) && (attributes & kAttrDirectory)) break;
    size_t parent_length = scan.last_separator == SIZE_MAX ? 0 : scan.last_separator + 1;
    if (parent_length == length) break;  // the path is its own parent
    if (depth == room) {
      room = room ? room * 2 : 16;
      Level* bigger = static_cast<Level*>(realloc(levels, room * sizeof(Level)));
      if (!bigger) {
        result = OutOfMemoryError();
        break;
      }
      levels = bigger;
    }
    levels[depth++].length = length;
    length = parent_length;
  }
  if (result.ok()) {
    while (depth > 0) {
      AnsiString directory(p.c_str(), levels[--depth].length);
      (void)edge.MakeDirectory(directory.c_str());  // the outcome is not examined
    }
  }
  free(levels);
  return result;
}

void SetEntryAttributesAndTime(int32_t id, const AnsiString& full_path, FileEdge& edge) {
  uint32_t attributes = GetEntryAttributes(id);
  uint32_t stamp = GetEntryTimeStamp(id);
  // The time goes first: a read-only file could not be opened to set it afterwards.
  (void)edge.SetLastWriteTime(full_path.c_str(), stamp);
  (void)edge.SetAttributes(full_path.c_str(), attributes);
}

Error ExtractFileEntry(ArchiveFile& archive, int32_t id, const AnsiString& destination,
                       uint32_t archive_start_offset, uint32_t entry_count) {
  AnsiString full = destination + GetEntryPath(id);
  if (full.failed()) return OutOfMemoryError();
  uint32_t offset = GetEntryDataOffset(id);
  int32_t size = GetEntrySize(id);
  int32_t full_blocks = size / static_cast<int32_t>(kCopyBlockSize);
  int32_t remainder = size - static_cast<int32_t>(kCopyBlockSize) * full_blocks;

  ArchiveFile output{archive.edge, kNoFile};
  VEK_TRY(output.edge->Create(full.c_str(), &output.handle));
  // In 64 bits: no data offset wraps around to the archive's own bytes. Data past
  // the end of the file reads short below.
  uint64_t position = uint64_t{archive_start_offset} + kArchivePrologueSize +
                      uint64_t{EntryRecord::kSize} * entry_count + offset;
  Error error = archive.edge->Seek(archive.handle, static_cast<int64_t>(position));
  if (error) return Abandon(output, error);

  char* buffer = nullptr;
  if (full_blocks > 0 || remainder > 0) {
    buffer = static_cast<char*>(malloc(kCopyBlockSize));
    if (!buffer) return Abandon(output, OutOfMemoryError());
  }
  // The copy stops at the first block that fails or comes out short.
  bool wrote = false;
  uint32_t last_written = 0;
  Error shortfall = NoError();
  for (int32_t block = 0; block < full_blocks && error.ok() && shortfall.ok(); ++block) {
    error = CopyBlock(archive, output, buffer, kCopyBlockSize, &last_written, &shortfall);
    wrote = true;
  }
  if (error.ok() && shortfall.ok() && remainder > 0) {
    error = CopyBlock(archive, output, buffer, static_cast<uint32_t>(remainder), &last_written, &shortfall);
    wrote = true;
  }
  free(buffer);
  if (error) return Abandon(output, error);
  if (wrote && last_written == 0) ShowMessageBox(kErrorWritingFile, MessageKind::kError);
  if (shortfall) return Abandon(output, shortfall);

  error = output.edge->Close(output.handle);
  if (error) return error;
  SetEntryAttributesAndTime(id, full, *archive.edge);
  return NoError();
}

Error ExtractEntry(ArchiveFile& archive, int32_t id, const AnsiString& destination,
                   uint32_t archive_start_offset, uint32_t entry_count) {
  uint8_t kind = GetEntryKind(id);
  if (kind != kEntryKindDirectory && kind != kEntryKindFile) return NoError();
  if (CheckEntryPath(id) != PathSafety::kSafe) return InOutError(kIoInvalidFilename);
  if (kind == kEntryKindDirectory) {
    AnsiString full = destination + GetEntryPath(id);
    if (full.failed()) return OutOfMemoryError();
    return ForceDirectoryChain(full, *archive.edge);
  }
  return ExtractFileEntry(archive, id, destination, archive_start_offset, entry_count);
}

}  // namespace vek
