// What is checked before extraction writes anything: each file's stored bytes against
// the checksums of the extension block, read in one sequential pass.
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
  explicit DataChecker(ArchiveReader& reader, bool inflate = false) : reader_(reader), inflate_(inflate) {}
  ~DataChecker();
  DataChecker(const DataChecker&) = delete;
  DataChecker& operator=(const DataChecker&) = delete;

  // Compares a file entry's stored bytes with its checksum (an unchecked entry passes).
  // The entry's fault: kDataDamaged, kArchiveDamaged (its records disagree), the
  // input/output error 100 (its data runs past the end of the file), with inflate
  // kBadCompressedData (its bytes match, but its stream does not give the file); or
  // out of memory, or a read that failed.
  Error CheckEntry(const ArchiveEntry& entry);
  // Stored bytes read so far.
  uint64_t bytes_read() const { return bytes_read_; }

 private:
  friend class CheckedPieces;
  ArchiveReader& reader_;
  const bool inflate_;
  unsigned char* buffer_ = nullptr;  // and after it, with inflate_, the inflater's window
  uint64_t buffer_at_ = 0;  // the file position of buffer_[0]
  uint32_t buffer_length_ = 0;
  uint64_t bytes_read_ = 0;
};

// Whether the archive is sound: its extension block (when it has one) and, when it
// carries checksums, every file's stored bytes, in table order. Returns NoError, or
// the fault with *slot set to the damaged entry (0 for the block, header or table).
// Without an extension block there is nothing to compare.
Error CheckArchiveData(ArchiveReader& reader, uint32_t* slot);

// Whether a fault of CheckArchiveData or of opening an archive with an extension block
// means that the bytes are not those packed (damaged, or cut short), rather than a
// failure of the machine.
bool IsDamage(const Error& error);

}  // namespace vek
