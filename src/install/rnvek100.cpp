// The reader's table: opening an archive and the lookups by identifier.
#include "rnvek100.h"

#include <stdlib.h>
#include <string.h>

#include "crc32.h"
#include "inflate.h"
#include "lzmadec.h"

namespace vek {
namespace {

// Identifiers are 16 bits: the index holds one slot number for each.
constexpr uint32_t kIdCount = 65536;

// The table's stream, read whole, and the records it gives (inflated, or decoded from
// the solid index's LZMA stream), written into the table.
class StreamBytes final : public InflateSource {
 public:
  StreamBytes(const unsigned char* data, size_t size) : data_(data), size_(size) {}
  Error Next(const unsigned char** data, size_t* size) override {
    *data = data_;
    *size = size_;
    size_ = 0;
    return NoError();
  }

 private:
  const unsigned char* data_;
  size_t size_;
};

class TableRecords final : public InflateSink {
 public:
  explicit TableRecords(unsigned char* at) : at_(at) {}
  Error Put(const unsigned char* data, size_t size) override {
    memcpy(at_, data, size);  // never more in all than the table's EntryCount records
    at_ += size;
    return NoError();
  }

 private:
  unsigned char* at_;
};

}  // namespace

Error ArchiveReader::ReadExactly(void* buffer, uint32_t count) {
  uint32_t done = 0;
  VEK_TRY(file_.edge->Read(file_.handle, buffer, count, &done));
  if (done != count) return InOutError(kIoReadBeyondEnd);
  return NoError();
}

Error ArchiveReader::Open(ArchiveFiles& edge, FileHandle file, uint32_t start_offset, ExtensionPlace extension) {
  (void)Close();
  file_ = {&edge, file};
  start_offset_ = start_offset;
  VEK_TRY(edge.Seek(file, static_cast<int64_t>(start_offset)));
  VEK_TRY(ReadExactly(signature_, ArchiveSignature::kSize));
  const bool extended = InMarkedLayout(ClassifySignature(signature_));
  names_ = extended ? NameEncoding::kUtf8 : NameEncoding::kWindows1250;
  VEK_TRY(ReadExactly(header_, ArchiveHeader::kSize));
  if (extended) {
    table_stream_ = LoadU32(header_ + ArchiveHeader::kTableStreamSizeOffset);
    if (!table_stream_) index_at_ = LoadU32(header_ + ArchiveHeader::kSolidIndexAtOffset);
  }
  VEK_TRY(AllocateTable());
  VEK_TRY(LoadTable());
  if (extension.present()) ReadExtension(extension);
  return NoError();
}

void ArchiveReader::ReadExtension(ExtensionPlace place) {
  // A block larger than any count asks for is damaged before it is read.
  const uint32_t n = GetEntryCount();
  const uint32_t size = place.end - place.offset;
  extension_state_ = ExtensionState::kDamaged;
  if (size > ExtensionBlockSize(kMaxEntryCount)) return;
  extension_ = static_cast<unsigned char*>(malloc(size));
  uint32_t done = 0;
  if (!extension_ || file_.edge->Seek(file_.handle, place.offset) ||
      file_.edge->Read(file_.handle, extension_, size, &done) || done != size) {
    free(extension_);
    extension_ = nullptr;
    return;
  }
  extension_state_ = JudgeExtensionBlock(extension_, size, n, ClassifySignature(signature_));
  if (extension_state_ == ExtensionState::kSound) {
    // The signature, header and table as they lie in the file, one after the other.
    uint32_t crc = prologue_crc_;
    if (!table_stream_ && !index_at_) {
      crc = Crc32(0, signature_, ArchiveSignature::kSize);
      crc = Crc32(crc, header_, ArchiveHeader::kSize);
      crc = Crc32(crc, table_, static_cast<size_t>(n) * EntryRecord::kSize);
    }
    // The block says that the table is a stream, or the archive solid, where the
    // header does.
    const uint32_t flags = vek::ExtensionFlags(extension_);
    const bool stream = (flags & kExtensionTableDeflated) != 0;
    const bool solid = (flags & kExtensionSolid) != 0;
    if (crc != LoadU32(extension_ + ExtensionHeader::kPrologueCrcOffset) || stream != (table_stream_ != 0) ||
        solid != (index_at_ != 0)) {
      extension_state_ = ExtensionState::kPrologueDamaged;
    } else if (solid && !JudgeSolidIndex()) {
      extension_state_ = ExtensionState::kIndexDamaged;
    }
  }
  if (extension_state_ != ExtensionState::kSound) {
    free(extension_);
    extension_ = nullptr;
    return;
  }
  if (vek::ExtensionFlags(extension_) & kExtensionSolid) solid_blocks_ = block_count_;
  // The marked signature may stand for compressed files alone: the block says which.
  names_ = vek::ExtensionFlags(extension_) & kExtensionNamesUtf8 ? NameEncoding::kUtf8 : NameEncoding::kWindows1250;
}

uint32_t ArchiveReader::ExtensionFlags() const { return extension_ ? vek::ExtensionFlags(extension_) : 0; }

bool ArchiveReader::SignatureKnown() const { return IsOurSignature(ClassifySignature(signature_)); }

Error ArchiveReader::Close() {
  ReleaseTable();
  memset(signature_, 0, sizeof signature_);
  memset(header_, 0, sizeof header_);
  start_offset_ = 0;
  table_stream_ = 0;
  index_at_ = 0;
  names_ = NameEncoding::kWindows1250;
  Error closed = NoError();
  if (file_.handle != kNoFile) closed = file_.edge->Close(file_.handle);
  file_.handle = kNoFile;
  return closed;
}

Error ArchiveReader::AllocateTable() {
  uint32_t capacity = GetEntryCount();
  if (capacity < kEntryTableCapacity) capacity = kEntryTableCapacity;
  table_ = static_cast<unsigned char*>(malloc(static_cast<size_t>(capacity) * EntryRecord::kSize));
  first_slot_ = static_cast<uint32_t*>(calloc(kIdCount, sizeof(uint32_t)));
  walk_ = static_cast<uint32_t*>(malloc(static_cast<size_t>(capacity) * sizeof(uint32_t)));
  if (!table_ || !first_slot_ || !walk_) {
    ReleaseTable();
    return OutOfMemoryError();
  }
  capacity_ = capacity;
  return NoError();
}

Error ArchiveReader::InflateTable() {
  const uint32_t n = GetEntryCount();
  if (!kInflates || table_stream_ > TableStreamLimit(n)) return GeneralError(kArchiveDamaged);
  auto* bytes = static_cast<unsigned char*>(malloc(size_t{table_stream_} + kInflateWindowSize));
  if (!bytes) return OutOfMemoryError();
  // The stream lies in the data area, after every file's data.
  Error error = file_.edge->Seek(
      file_.handle, static_cast<int64_t>(DataStart() + LoadU32(header_ + ArchiveHeader::kTableStreamAtOffset)));
  if (!error) error = ReadExactly(bytes, table_stream_);
  if (!error) {
    prologue_crc_ = Crc32(Crc32(Crc32(0, signature_, ArchiveSignature::kSize), header_, ArchiveHeader::kSize), bytes,
                          table_stream_);
    StreamBytes source(bytes, table_stream_);
    TableRecords sink(table_);
    error = InflateStream(source, sink, n * EntryRecord::kSize, bytes + table_stream_);
    if (error == GeneralError(kBadCompressedData)) error = GeneralError(kArchiveDamaged);
  }
  free(bytes);
  return error;
}

Error ArchiveReader::LoadSolidIndex() {
  const uint32_t n = GetEntryCount();
  unsigned char head[SolidIndexHeader::kSize];
  VEK_TRY(file_.edge->Seek(file_.handle, static_cast<int64_t>(DataStart() + index_at_)));
  VEK_TRY(ReadExactly(head, sizeof head));
  const uint32_t blocks = LoadU32(head + SolidIndexHeader::kBlockCountOffset);
  const uint32_t stream = LoadU32(head + SolidIndexHeader::kTableStreamSizeOffset);
  // Sizes that no index of n entries has are damage, refused before they are read.
  if (blocks > n || stream < kLzmaPropsSize || stream > SolidTableStreamLimit(n)) {
    return GeneralError(kArchiveDamaged);
  }
  const uint32_t size = static_cast<uint32_t>(SolidIndexHeader::kSize + SolidBlockRecord::kSize * blocks + stream);
  index_ = static_cast<unsigned char*>(malloc(size));
  if (!index_) return OutOfMemoryError();
  memcpy(index_, head, sizeof head);
  VEK_TRY(ReadExactly(index_ + sizeof head, size - static_cast<uint32_t>(sizeof head)));
  index_size_ = size;
  prologue_crc_ =
      Crc32(Crc32(Crc32(0, signature_, ArchiveSignature::kSize), header_, ArchiveHeader::kSize), index_, size);
  const unsigned char* table = index_ + size - stream;
  LzmaBlockDecoder decoder;
  TableRecords sink(table_);
  Error error = decoder.Open(table, uint64_t{n} * EntryRecord::kSize);
  if (!error) error = decoder.Feed(table + kLzmaPropsSize, stream - kLzmaPropsSize, true, sink);
  if (!error) error = decoder.Finish();
  if (error == GeneralError(kBadCompressedData)) return GeneralError(kArchiveDamaged);
  VEK_TRY(error);
  block_count_ = blocks;
  return NoError();
}

SolidBlock ArchiveReader::GetSolidBlock(uint32_t index) const {
  const unsigned char* record = BlockRecord(index);
  SolidBlock block;
  block.stored_offset = LoadU32(record + SolidBlockRecord::kStoredOffsetOffset);
  block.stored_size = LoadU32(record + SolidBlockRecord::kStoredSizeOffset);
  block.decoded_size = LoadU32(record + SolidBlockRecord::kDecodedSizeOffset);
  block.crc = LoadU32(record + SolidBlockRecord::kCrcOffset);
  block.props = record + SolidBlockRecord::kPropsOffset;
  return block;
}

// The blocks lie in the data area in their order, one after another without
// overlapping, all before the index; none decodes to 2 GiB or more. Their props are
// judged where each is decoded: a block that cannot be is damage to its own files.
bool ArchiveReader::JudgeSolidIndex() const {
  uint64_t end = 0;
  for (uint32_t i = 0; i < block_count_; ++i) {
    const unsigned char* record = BlockRecord(i);
    const uint32_t offset = LoadU32(record + SolidBlockRecord::kStoredOffsetOffset);
    if (offset < end || LoadU32(record + SolidBlockRecord::kDecodedSizeOffset) >= kOriginalSizeLimit) return false;
    end = uint64_t{offset} + LoadU32(record + SolidBlockRecord::kStoredSizeOffset);
    if (end > index_at_) return false;
  }
  return true;
}

Error ArchiveReader::LoadTable() {
  const uint32_t n = GetEntryCount();  // never more than the capacity
  if (index_at_) {
    VEK_TRY(LoadSolidIndex());
  } else if (table_stream_) {
    VEK_TRY(InflateTable());
  }
  for (uint32_t slot = 1; slot <= n; ++slot) {
    unsigned char* record = table_ + static_cast<size_t>(slot - 1) * EntryRecord::kSize;
    if (!table_stream_ && !index_at_) VEK_TRY(ReadExactly(record, EntryRecord::kSize));
    loaded_ = slot;
    uint16_t id = LoadU16(record + EntryRecord::kIdOffset);
    if (first_slot_[id] == 0) first_slot_[id] = slot;
  }
  return NoError();
}

void ArchiveReader::ReleaseTable() {
  free(table_);
  free(first_slot_);
  free(walk_);
  free(memo_);
  free(extension_);
  free(index_);
  extension_ = nullptr;
  index_ = nullptr;
  index_size_ = 0;
  block_count_ = 0;
  solid_blocks_ = 0;
  extension_state_ = ExtensionState::kAbsent;
  table_ = nullptr;
  first_slot_ = nullptr;
  walk_ = nullptr;
  memo_ = nullptr;
  capacity_ = 0;
  loaded_ = 0;
}

uint32_t ArchiveReader::FindSlot(int32_t id) const {
  if (id < 0 || id >= static_cast<int32_t>(kIdCount) || !first_slot_) return 0;
  return first_slot_[id];  // only loaded slots are in the index
}

bool ArchiveReader::FindEntry(int32_t id, ArchiveEntry* entry) const {
  const uint32_t slot = FindSlot(id);
  *entry = ArchiveEntry{};
  if (!slot) return false;
  const unsigned char* record = Slot(slot);
  entry->id = LoadU16(record + EntryRecord::kIdOffset);
  entry->parent_id = LoadU16(record + EntryRecord::kParentIdOffset);
  entry->kind = record[EntryRecord::kKindOffset];
  entry->name = RecordName(record);
  entry->name_length = RecordNameLength(record);
  entry->attributes = LoadU32(record + EntryRecord::kAttributesOffset);
  entry->time_stamp = LoadU32(record + EntryRecord::kTimeStampOffset);
  entry->size = static_cast<int32_t>(LoadU32(record + EntryRecord::kSizeOffset));
  entry->data_offset = LoadU32(record + EntryRecord::kDataOffsetOffset);
  entry->original_size = static_cast<uint32_t>(entry->size);
  if (!extension_ || (entry->kind != kEntryKindFile && entry->kind != kEntryKindCompressed)) return true;
  const unsigned char* more = ExtensionRecordAt(extension_, slot);
  const uint8_t method = more[ExtensionRecord::kMethodOffset];
  const uint32_t original = LoadU32(more + ExtensionRecord::kOriginalSizeOffset);
  const bool compressed = entry->kind == kEntryKindCompressed;
  entry->kind = kEntryKindFile;
  entry->checked = true;
  entry->crc = LoadU32(more + ExtensionRecord::kCrcOffset);
  entry->original_size = original;
  const bool own_size = original == static_cast<uint32_t>(entry->size);
  if (kInflates && compressed && method == kMethodDeflate && original < kOriginalSizeLimit && entry->size >= 0) {
    entry->method = kMethodDeflate;
  } else if (compressed && method == kMethodLzmaSolid && own_size && entry->size >= 0 &&
             ExtensionRecordBlock(more) < SolidBlockCount() &&
             uint64_t{entry->data_offset} + original <=
                 LoadU32(BlockRecord(ExtensionRecordBlock(more)) + SolidBlockRecord::kDecodedSizeOffset)) {
    entry->method = kMethodLzmaSolid;
    entry->block = ExtensionRecordBlock(more);
  } else if (compressed || method != kMethodStored || !own_size) {
    entry->method = kMethodInvalid;  // a stored file's original size is its size
  }
  return true;
}

uint8_t ArchiveReader::GetEntryKind(int32_t id) const {
  uint32_t slot = FindSlot(id);
  if (!slot) return kEntryKindNotFound;
  const uint8_t kind = Slot(slot)[EntryRecord::kKindOffset];
  return kind == kEntryKindCompressed && extension_ ? kEntryKindFile : kind;  // as FindEntry gives it
}

uint16_t ArchiveReader::GetEntryParentId(int32_t id) const {
  uint32_t slot = FindSlot(id);
  return slot ? LoadU16(Slot(slot) + EntryRecord::kParentIdOffset) : 0;
}

const char* ArchiveReader::GetEntryName(int32_t id, size_t* length) const {
  uint32_t slot = FindSlot(id);
  *length = slot ? RecordNameLength(Slot(slot)) : 0;
  return slot ? RecordName(Slot(slot)) : nullptr;
}

}  // namespace vek
