// What is checked before extraction writes anything: each file's stored bytes, and
// each solid block's, against their checksums, read in one sequential pass.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "error.h"
#include "fileedge.h"
#include "rnvek100.h"

namespace vek {

// Checks the stored bytes of an open reader's entries. Consecutive entries are read
// from one buffer filled in large pieces, so a pass over entries in data order reads
// the archive once from start to end.
class DataChecker {
 public:
  // With inflate, a deflated file's stream is inflated too (to nowhere), which proves
  // that it gives exactly the file's original size.
  // The entries' bytes are read through file, the reader's own file without one.
  explicit DataChecker(ArchiveReader& reader, bool inflate = false, ArchiveFile* file = nullptr)
      : reader_(reader), file_(file ? *file : reader.file()), inflate_(inflate) {}
  ~DataChecker();
  DataChecker(const DataChecker&) = delete;
  DataChecker& operator=(const DataChecker&) = delete;

  // Compares a file entry's stored bytes with its checksum (an unchecked entry passes).
  // The entry's fault: kDataDamaged, kArchiveDamaged (its records disagree), the
  // input/output error 100 (its data runs past the end of the file), with inflate
  // kBadCompressedData (its bytes match, but its stream does not give the file); or
  // out of memory, or a read that failed.
  Error CheckEntry(const ArchiveEntry& entry);
  // Compares a solid block's stored bytes with its checksum and judges its props:
  // kDataDamaged, kBadCompressedData (props no decoder takes), the input/output
  // error 100, or out of memory, or a read that failed. (Its files' own checksums are
  // those of their decoded bytes: DecodeBlock compares them.)
  Error CheckBlock(uint32_t block);
  ArchiveReader& reader() { return reader_; }
  // Stored bytes read so far.
  uint64_t bytes_read() const { return bytes_read_; }

 private:
  friend class CheckedPieces;
  Error Allocate();
  // The file's bytes [at, at + size) against crc.
  Error CheckBytes(uint64_t at, uint32_t size, uint32_t crc);
  ArchiveReader& reader_;
  ArchiveFile& file_;
  const bool inflate_;
  unsigned char* buffer_ = nullptr;  // and after it, with inflate_, the inflater's window
  uint64_t buffer_at_ = 0;           // the file position of buffer_[0]
  uint32_t buffer_length_ = 0;
  uint64_t bytes_read_ = 0;
};

// The ids of a reader's entries handed out in table order to checkers that run side
// by side, then those of its solid blocks (count + 1 + the block's index): each takes
// the next when it is done with one, and none takes another once one of them has
// found a fault. An entry below a faulty one was taken before it, so its check runs
// to its end: the lowest faulty entry of all is always found.
class CheckQueue {
 public:
  explicit CheckQueue(uint32_t count) : count_(count) {}
  explicit CheckQueue(const ArchiveReader& reader)
      : count_(reader.GetEntryCount() + reader.SolidBlockCount()), entries_(reader.GetEntryCount()) {}
  // The next id, or 0 when none is left or a checker stopped the queue.
  uint32_t Take() {
    if (__atomic_load_n(&stopped_, __ATOMIC_ACQUIRE)) return 0;
    const uint32_t id = __atomic_add_fetch(&taken_, 1, __ATOMIC_RELAXED);
    return id <= count_ ? id : 0;
  }
  void Stop() { __atomic_store_n(&stopped_, true, __ATOMIC_RELEASE); }
  uint32_t count() const { return count_; }
  uint32_t entries() const { return entries_; }

 private:
  const uint32_t count_;
  const uint32_t entries_ = count_;
  uint32_t taken_ = 0;
  bool stopped_ = false;
};

// Checks the file entries and blocks that checker takes from queue until none is
// left, calling progress (when given) after each. NoError, or the first fault it met,
// with *slot set to its entry (a block's first file) and the queue stopped.
Error CheckShare(CheckQueue& queue, DataChecker& checker, uint32_t* slot,
                 void (*progress)(void* context, uint32_t id) = nullptr, void* context = nullptr);

// Whether the archive is sound: its extension block (when it has one) and, when it
// carries checksums, every file's stored bytes, in table order, then every block's. Returns NoError, or
// the fault with *slot set to the damaged entry (0 for the block, header or table).
// Without an extension block there is nothing to compare.
Error CheckArchiveData(ArchiveReader& reader, uint32_t* slot);

// Whether a fault of CheckArchiveData or of opening an archive with an extension block
// means that the bytes are not those packed (damaged, or cut short), rather than a
// failure of the machine.
bool IsDamage(const Error& error);

}  // namespace vek
