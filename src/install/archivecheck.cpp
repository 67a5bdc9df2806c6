#include "archivecheck.h"

#include <stdlib.h>
#include <string.h>

#include "crc32.h"
#include "extractor.h"
#include "inflate.h"
#include "lzmadec.h"
#include "solid.h"

namespace vek {

namespace {
// The pieces in which the archive's data is read for the check.
constexpr uint32_t kCheckBlockSize = 256 * 1024;

}  // namespace

// One entry's stored bytes, served from the checker's buffer, their checksum computed
// on the way.
class CheckedPieces final : public InflateSource {
 public:
  CheckedPieces(DataChecker& checker, uint64_t at, uint32_t size) : checker_(checker), at_(at), left_(size) {}
  Error Next(const unsigned char** data, size_t* size) override {
    *data = checker_.buffer_;
    *size = 0;
    if (left_ == 0) return NoError();
    DataChecker& c = checker_;
    if (at_ < c.buffer_at_ || at_ >= c.buffer_at_ + c.buffer_length_) {
      ArchiveFile& file = c.file_;
      c.buffer_at_ = at_;
      c.buffer_length_ = 0;
      VEK_TRY(file.edge->Seek(file.handle, static_cast<int64_t>(at_)));
      VEK_TRY(file.edge->Read(file.handle, c.buffer_, kCheckBlockSize, &c.buffer_length_));
      if (c.buffer_length_ == 0) return InOutError(kIoReadBeyondEnd);
    }
    const uint64_t offset = at_ - c.buffer_at_;
    uint32_t n = static_cast<uint32_t>(c.buffer_length_ - offset);
    if (n > left_) n = left_;
    *data = c.buffer_ + offset;
    *size = n;
    crc_ = Crc32(crc_, *data, n);
    at_ += n;
    left_ -= n;
    c.bytes_read_ += n;
    return NoError();
  }
  uint32_t crc() const { return crc_; }

 private:
  DataChecker& checker_;
  uint64_t at_;
  uint32_t left_;
  uint32_t crc_ = 0;
};

namespace {

Error Drain(CheckedPieces& source) {
  for (;;) {
    const unsigned char* data;
    size_t size;
    VEK_TRY(source.Next(&data, &size));
    if (size == 0) return NoError();
  }
}

class Nowhere final : public InflateSink {
 public:
  Error Put(const unsigned char*, size_t) override { return NoError(); }
};

}  // namespace

DataChecker::~DataChecker() { free(buffer_); }

Error DataChecker::Allocate() {
  if (!buffer_) buffer_ = static_cast<unsigned char*>(malloc(kCheckBlockSize + (inflate_ ? kInflateWindowSize : 0)));
  return buffer_ ? NoError() : OutOfMemoryError();
}

Error DataChecker::CheckBytes(uint64_t at, uint32_t size, uint32_t crc) {
  VEK_TRY(Allocate());
  CheckedPieces pieces(*this, at, size);
  VEK_TRY(Drain(pieces));
  return pieces.crc() == crc ? NoError() : GeneralError(kDataDamaged);
}

Error DataChecker::CheckEntry(const ArchiveEntry& entry) {
  if (entry.kind != kEntryKindFile || !entry.checked) return NoError();
  if (entry.method == kMethodInvalid || entry.size < 0) return GeneralError(kArchiveDamaged);
  if (entry.method == kMethodLzmaSolid) return NoError();  // its block's bytes are checked, its own as decoded
  const uint64_t at = reader_.DataStart() + entry.data_offset;
  if (!kInflates || !inflate_ || entry.method != kMethodDeflate) {
    return CheckBytes(at, static_cast<uint32_t>(entry.size), entry.crc);
  }
  VEK_TRY(Allocate());
  CheckedPieces pieces(*this, at, static_cast<uint32_t>(entry.size));
  Nowhere nowhere;
  const Error inflated = InflateStream(pieces, nowhere, entry.original_size, buffer_ + kCheckBlockSize);
  if (inflated && inflated != GeneralError(kBadCompressedData)) return inflated;
  // A stream that failed is named by its checksum when its bytes are not those packed.
  VEK_TRY(Drain(pieces));
  if (pieces.crc() != entry.crc) return GeneralError(kDataDamaged);
  return inflated;
}

Error DataChecker::CheckBlock(uint32_t block) {
  const SolidBlock b = reader_.GetSolidBlock(block);
  VEK_TRY(CheckBytes(reader_.DataStart() + b.stored_offset, b.stored_size, b.crc));
  // Props that no decoder takes (a dictionary above the limit) are refused here too,
  // before anything is written.
  LzmaProps props;
  return ParseLzmaProps(b.props, &props) ? NoError() : GeneralError(kBadCompressedData);
}

Error CheckShare(CheckQueue& queue, DataChecker& checker, uint32_t* slot, void (*progress)(void*, uint32_t),
                 void* context) {
  ArchiveEntry entry;
  for (uint32_t id; (id = queue.Take()) != 0;) {
    const bool block = id > queue.entries();
    Error error = NoError();
    if (block) {
      error = checker.CheckBlock(id - queue.entries() - 1);
    } else if (checker.reader().FindEntry(static_cast<int32_t>(id), &entry) && entry.id == id) {
      error = checker.CheckEntry(entry);
    }
    if (error) {
      *slot = block ? FirstFileOfBlock(checker.reader(), id - queue.entries() - 1) : id;
      queue.Stop();
      return error;
    }
    if (progress) progress(context, id);
  }
  *slot = 0;
  return NoError();
}

Error CheckArchiveData(ArchiveReader& reader, uint32_t* slot) {
  *slot = 0;
  if (reader.ExtensionUnusable()) return GeneralError(kArchiveDamaged);
  if (!reader.HasChecksums()) return NoError();
  const uint32_t n = reader.GetEntryCount();
  ArchiveEntry entry;
  DataChecker checker(reader);
  for (uint32_t id = 1; id <= n; ++id) {
    if (!reader.FindEntry(static_cast<int32_t>(id), &entry)) continue;
    const Error error = checker.CheckEntry(entry);
    if (error) {
      *slot = id;
      return error;
    }
  }
  for (uint32_t block = 0; block < reader.SolidBlockCount(); ++block) {
    const Error error = checker.CheckBlock(block);
    if (error) {
      *slot = FirstFileOfBlock(reader, block);
      return error;
    }
  }
  return NoError();
}

bool IsDamage(const Error& error) {
  return error == GeneralError(kArchiveDamaged) || error == GeneralError(kDataDamaged) ||
         error == GeneralError(kBadCompressedData) || error == InOutError(kIoReadBeyondEnd);
}

}  // namespace vek
