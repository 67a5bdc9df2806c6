#include "vekwriter.h"

#include <string.h>

#include <algorithm>
#include <deque>

#include "compressjobs.h"
#include "cp1250.h"
#include "crc32.h"
#include "datawriter.h"
#include "errorwords.h"
#include "extension.h"
#include "layout.h"

namespace vek::build {
namespace {

constexpr int64_t kNanosecondsPerSecond = 1000000000;
// Entry records are written in pieces of this many.
constexpr size_t kRecordsPerPiece = 4096;

// extended: the names are UTF-8 or the archive solid.
void PutSignatureAndHeader(unsigned char* p, size_t entry_count, bool extended) {
  memset(p, 0, kArchivePrologueSize);
  memcpy(p + ArchiveSignature::kMagicOffset, kArchiveMagic, ArchiveSignature::kMagicSize);
  memcpy(p + ArchiveSignature::kTailOffset, extended ? kSignatureTailExtended : kSignatureTail,
         ArchiveSignature::kTailSize);
  unsigned char* header = p + ArchiveSignature::kSize;
  StoreU16(header + ArchiveHeader::kEntryCountOffset, static_cast<uint16_t>(entry_count));
  header[ArchiveHeader::kReservedOneOffset] = 1;
  header[ArchiveHeader::kNoticeOffset] = static_cast<unsigned char>(sizeof(kRightsNotice) - 1);
  memcpy(header + ArchiveHeader::kNoticeOffset + 1, kRightsNotice, sizeof(kRightsNotice) - 1);
}

void PutRecord(unsigned char* record, const Entry& e, const RecordFacts& facts) {
  memset(record, 0, EntryRecord::kSize);
  StoreU16(record + EntryRecord::kIdOffset, e.id);
  StoreU16(record + EntryRecord::kParentIdOffset, e.parent_id);
  record[EntryRecord::kKindOffset] = facts.method != kMethodStored ? kEntryKindCompressed : e.kind;
  record[EntryRecord::kNameOffset] = static_cast<unsigned char>(e.name.size());
  memcpy(record + EntryRecord::kNameOffset + 1, e.name.data(), e.name.size());
  StoreU32(record + EntryRecord::kAttributesOffset, facts.attributes);
  StoreU32(record + EntryRecord::kTimeStampOffset, facts.time_stamp);
  StoreU32(record + EntryRecord::kSizeOffset, facts.size);
  StoreU32(record + EntryRecord::kDataOffsetOffset, facts.data_offset);
}

}  // namespace

uint32_t ToDosTimeStamp(time_t t, bool* clamped) {
  DosTime local;
  if (!LocalReading(static_cast<int64_t>(t), &local)) {  // before 1970, or beyond what the platform converts
    if (clamped) *clamped = true;
    return EncodeDosTime(DosTime{t < 0 ? kDosFirstYear - 1 : kDosLastYear + 1}, nullptr);
  }
  if (local.second > 59) local.second = 59;  // a leap second counts as :59
  return EncodeDosTime(local, clamped);
}

uint32_t StampOf(const PathFacts& facts, const std::string& shown, const std::function<void(const std::string&)>& warn,
                 bool* clamped) {
  const int64_t ns = facts.modified_ns;  // seconds rounded down, before 1970 too
  const int64_t seconds = ns >= 0 ? ns / kNanosecondsPerSecond : -((-ns - 1) / kNanosecondsPerSecond) - 1;
  bool outside = false;
  uint32_t stamp = ToDosTimeStamp(static_cast<time_t>(seconds), &outside);
  if (outside && warn) warn(shown + ": modification time outside 1980-2107; clamped");
  if (clamped) *clamped = outside;
  return stamp;
}

uint16_t ArchiveBuilder::Add(Entry entry) {
  // Room for the most entries a table holds: address space only until it is used,
  // and no entry moves as the table grows (with 20,000 files moving them cost a
  // tenth of the run).
  if (entries_.empty()) entries_.reserve(kMaxEntryCount);
  if (entries_.size() >= kMaxEntryCount) throw BuildError(entry.shown() + ": more than 65,535 entries");
  if (entry.name.size() > EntryRecord::kNameMaxLength) {
    throw BuildError(entry.shown() + ": the name is longer than " + std::to_string(EntryRecord::kNameMaxLength) +
                     " bytes");
  }
  if (entry.parent_id > entries_.size() ||
      (entry.parent_id != 0 && entries_[entry.parent_id - 1].kind != kEntryKindDirectory)) {
    throw BuildError(entry.shown() + ": the parent is no directory added before");
  }
  entry.id = static_cast<uint16_t>(entries_.size() + 1);
  if (entry.kind == kEntryKindFile) {
    entry.data_offset = sizes_known_ ? static_cast<uint32_t>(data_size_) : 0;
    if (entry.size < 0) {
      sizes_known_ = false;
    } else {
      data_size_ += static_cast<uint64_t>(entry.size);
    }
  }
  entries_.push_back(std::move(entry));
  return entries_.back().id;
}

void ArchiveBuilder::StoreNamesInUtf8() {
  if (names_ == NameEncoding::kUtf8) return;
  for (Entry& e : entries_) {
    std::string utf8(3 * e.name.size() + 1, '\0');
    utf8.resize(Cp1250ToUtf8(e.name.data(), e.name.size(), utf8.data(), utf8.size()));
    if (utf8.size() > EntryRecord::kNameMaxLength) {
      throw BuildError(e.shown() + ": the name is longer than " + std::to_string(EntryRecord::kNameMaxLength) +
                       " bytes in UTF-8, in which the archive stores every name once one is outside Windows-1250");
    }
    e.name = std::move(utf8);
  }
  names_ = NameEncoding::kUtf8;
}

uint16_t ArchiveBuilder::AddDirectory(uint16_t parent, std::string name, std::string display_path) {
  Entry e;
  e.parent_id = parent;
  e.kind = kEntryKindDirectory;
  e.display_path = std::move(display_path);
  e.name = std::move(name);
  return Add(std::move(e));
}

namespace {

Entry FileEntry(uint16_t parent, std::string name, int32_t size, uint32_t time_stamp, uint32_t attributes) {
  Entry e;
  e.parent_id = parent;
  e.kind = kEntryKindFile;
  e.name = std::move(name);
  e.size = size;
  e.time_stamp = time_stamp;
  e.attributes = attributes;
  return e;
}

}  // namespace

uint16_t ArchiveBuilder::AddFile(uint16_t parent, std::string name, std::string data, uint32_t time_stamp,
                                 uint32_t attributes) {
  if (data.size() >= kPositionLimit) throw BuildError(name + ": the file is 2 GiB or larger");
  Entry e = FileEntry(parent, std::move(name), static_cast<int32_t>(data.size()), time_stamp, attributes);
  e.data = std::move(data);
  return Add(std::move(e));
}

uint16_t ArchiveBuilder::AddFileFromSource(uint16_t parent, std::string name, std::string source, int32_t size,
                                           uint32_t time_stamp, uint32_t attributes, std::string display_path,
                                           int64_t modified) {
  Entry e = FileEntry(parent, std::move(name), size, time_stamp, attributes);
  e.source = std::move(source);
  e.source_modified = modified;
  e.display_path = std::move(display_path);
  return Add(std::move(e));
}

uint16_t ArchiveBuilder::AddSourceFile(uint16_t parent, std::string name, std::string source) {
  Entry e = FileEntry(parent, std::move(name), -1, 0, 0);
  e.source = std::move(source);
  return Add(std::move(e));
}

std::string ArchiveBuilder::Serialize() const {
  ArchiveOptions plain;
  plain.checksums = false;
  return Serialize(plain);
}

std::string ArchiveBuilder::Serialize(const ArchiveOptions& options) const {
  MemorySink sink;
  WrittenArchive written = WriteArchiveTo(*this, sink, PlatformPackEdge(), {}, options);
  return std::move(sink.bytes()) + ExtensionTrailer(written.extension);
}

std::string ExtensionTrailer(const std::string& block) {
  if (block.empty()) return block;
  unsigned char footer[ExtensionFooter::kSize];
  PutExtensionFooter(footer, static_cast<uint32_t>(block.size()));
  return block + std::string(reinterpret_cast<const char*>(footer), sizeof footer);
}

namespace {

// Every file's data, stored, in table order.
void WriteStored(const std::vector<Entry>& entries, DataWriter& data, std::vector<RecordFacts>& facts,
                 const std::function<void(size_t)>& done) {
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].kind != kEntryKindFile) continue;
    facts[i] = data.Write(entries[i]);
    done(i);
  }
}

// Blocks given to the encoding threads and not yet written, at most: one for each
// thread, and past the first, so many bytes in all.
constexpr uint64_t kWaitingBytesLimit = uint64_t{1} << 30;

// Where a block went, for the solid index.
struct BlockPlace {
  uint32_t stored_offset = 0;
  uint32_t stored_size = 0;
  PackedBlock packed;  // its stream gone once written
};

// The files that LZMA shrinks, in blocks of at most options.solid_block_size decoded
// bytes (a larger file alone in its own) encoded on the jobs' threads, written in
// block order as each comes back; the others stored first. Both in table order, which
// is depth-first path order: in one large block it packs documentation smaller than
// any order by name (bench/RESULTS.md), and the installer writes files in it.
void WriteSolid(const ArchiveBuilder& builder, DataWriter& data, std::vector<RecordFacts>& facts,
                const ArchiveOptions& options, const std::function<void(size_t)>& done,
                std::vector<BlockPlace>* blocks) {
  const std::vector<Entry>& entries = builder.entries();
  std::vector<size_t> solid;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].kind != kEntryKindFile) continue;
    const std::string sample = data.Sample(entries[i], kSampleSize);
    if (!sample.empty() && WorthCompressing(sample)) {
      solid.push_back(i);
      continue;
    }
    facts[i] = data.Write(entries[i]);
    done(i);
  }
  LzmaOptions lzma;
  lzma.level = options.compress_level;
  CompressionJobs jobs(lzma, options.threads);
  std::deque<std::vector<size_t>> given;  // the files of each block given
  std::string block;
  std::vector<size_t> members;
  auto take = [&] {
    BlockPlace place;
    place.packed = jobs.Take();
    place.stored_offset = data.AppendData(place.packed.stream.data(), place.packed.stream.size());
    place.stored_size = static_cast<uint32_t>(place.packed.stream.size());
    place.packed.stream = {};
    for (size_t i : given.front()) {
      facts[i].block = static_cast<uint32_t>(blocks->size());
      done(i);
    }
    given.pop_front();
    blocks->push_back(std::move(place));
  };
  auto give = [&] {
    jobs.Give(std::move(block));
    given.push_back(std::move(members));
    block = std::string();
    members.clear();
    while (jobs.waiting() > jobs.threads() || (jobs.waiting() > 1 && jobs.waiting_bytes() > kWaitingBytesLimit)) take();
  };
  const uint64_t limit = options.solid_block_size;
  for (size_t i : solid) {
    const Entry& e = entries[i];
    RecordFacts& f = facts[i];
    uint32_t offset;
    if (e.size >= 0) {
      if (!block.empty() && block.size() + static_cast<uint64_t>(e.size) > limit) give();
      offset = static_cast<uint32_t>(block.size());
      data.ReadInto(e, &f, &block);
    } else {  // its size is learned as it is read
      std::string bytes;
      data.ReadInto(e, &f, &bytes);
      if (!block.empty() && block.size() + bytes.size() > limit) give();
      offset = static_cast<uint32_t>(block.size());
      block += bytes;
    }
    f.data_offset = offset;
    f.method = kMethodLzmaSolid;
    members.push_back(i);
  }
  if (!members.empty()) give();
  while (!given.empty()) take();
}

// The signature, header and table at the archive's start, ahead of the data; returns
// their CRC-32.
uint32_t PutTable(const std::vector<Entry>& entries, const std::vector<RecordFacts>& facts, ArchiveSink& sink,
                  uint64_t prologue_at, bool extended) {
  std::string piece(kArchivePrologueSize + EntryRecord::kSize * std::min(entries.size(), kRecordsPerPiece), '\0');
  auto* p = reinterpret_cast<unsigned char*>(piece.data());
  PutSignatureAndHeader(p, entries.size(), extended);
  size_t filled = kArchivePrologueSize;
  uint64_t at = prologue_at;
  uint32_t crc = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (filled + EntryRecord::kSize > piece.size()) {
      sink.WriteAt(at, p, filled);
      crc = Crc32(crc, p, filled);
      at += filled;
      filled = 0;
    }
    PutRecord(p + filled, entries[i], facts[i]);
    filled += EntryRecord::kSize;
  }
  sink.WriteAt(at, p, filled);
  return Crc32(crc, p, filled);
}

// The solid index after the data: the blocks' records and the table encoded at the
// options' level; and the signature and a header that says where it lies at the
// archive's start. Returns the CRC-32 of the signature, the header and the index.
uint32_t PutSolidIndex(const std::vector<Entry>& entries, const std::vector<RecordFacts>& facts,
                       const std::vector<BlockPlace>& blocks, ArchiveSink& sink, uint64_t prologue_at,
                       const ArchiveOptions& options) {
  std::string table(EntryRecord::kSize * entries.size(), '\0');
  for (size_t i = 0; i < entries.size(); ++i) {
    PutRecord(reinterpret_cast<unsigned char*>(&table[i * EntryRecord::kSize]), entries[i], facts[i]);
  }
  LzmaOptions lzma;
  lzma.level = options.compress_level;
  unsigned char props[kLzmaPropsSize];
  const std::vector<unsigned char> stream =
      LzmaEncodeBlock(reinterpret_cast<const unsigned char*>(table.data()), table.size(), lzma, props);
  const uint32_t n = static_cast<uint32_t>(entries.size());
  const size_t stream_size = kLzmaPropsSize + stream.size();
  if (stream_size > SolidTableStreamLimit(n)) {
    throw BuildError(sink.name() + ": the entry table does not compress");  // LZMA never grows it so much
  }
  std::string index(SolidIndexHeader::kSize + SolidBlockRecord::kSize * blocks.size(), '\0');
  auto* p = reinterpret_cast<unsigned char*>(index.data());
  StoreU32(p + SolidIndexHeader::kBlockCountOffset, static_cast<uint32_t>(blocks.size()));
  StoreU32(p + SolidIndexHeader::kTableStreamSizeOffset, static_cast<uint32_t>(stream_size));
  for (size_t b = 0; b < blocks.size(); ++b) {
    unsigned char* record = p + SolidIndexHeader::kSize + b * SolidBlockRecord::kSize;
    const PackedBlock& packed = blocks[b].packed;
    StoreU32(record + SolidBlockRecord::kStoredOffsetOffset, blocks[b].stored_offset);
    StoreU32(record + SolidBlockRecord::kStoredSizeOffset, blocks[b].stored_size);
    StoreU32(record + SolidBlockRecord::kDecodedSizeOffset, packed.decoded_size);
    StoreU32(record + SolidBlockRecord::kCrcOffset, packed.crc);
    memcpy(record + SolidBlockRecord::kPropsOffset, packed.props, kLzmaPropsSize);
  }
  index.append(reinterpret_cast<const char*>(props), kLzmaPropsSize);
  index.append(reinterpret_cast<const char*>(stream.data()), stream.size());
  if (sink.position() + index.size() >= kPositionLimit) {
    throw BuildError(sink.name() + ": the archive would reach 2 GiB, beyond what the extractor can seek");
  }
  unsigned char prologue[kArchivePrologueSize];
  PutSignatureAndHeader(prologue, entries.size(), true);
  StoreU32(prologue + ArchiveSignature::kSize + ArchiveHeader::kSolidIndexAtOffset,
           static_cast<uint32_t>(sink.position() - prologue_at - kArchivePrologueSize));
  sink.Append(index.data(), index.size());
  sink.WriteAt(prologue_at, prologue, sizeof prologue);
  return Crc32(Crc32(0, prologue, sizeof prologue), index.data(), index.size());
}

}  // namespace

WrittenArchive WriteArchiveTo(const ArchiveBuilder& builder, ArchiveSink& sink, PackEdge& edge, const WriteHooks& hooks,
                              const ArchiveOptions& options) {
  if (options.compress_level > 0 && !options.checksums) {
    throw BuildError(sink.name() + ": compressed files need the checksum block");
  }
  const std::vector<Entry>& entries = builder.entries();
  const uint64_t prologue_at = sink.position();
  // Solid, the table goes in the index after the data, whose size it needs to know.
  bool solid = options.compress_level > 0 && !entries.empty();
  const uint64_t table_size = solid ? 0 : uint64_t{EntryRecord::kSize} * entries.size();
  sink.Skip(kArchivePrologueSize + table_size);

  WrittenArchive written;
  const uint64_t files = static_cast<uint64_t>(
      std::count_if(entries.begin(), entries.end(), [](const Entry& e) { return e.kind == kEntryKindFile; }));
  std::vector<RecordFacts> facts(entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].kind != kEntryKindFile) {
      ++written.directories;
      facts[i] = GivenFacts(entries[i]);
    }
  }
  auto done = [&](size_t i) {
    ++written.files;
    written.data_bytes += facts[i].original_size;
    if (facts[i].method == kMethodLzmaSolid) ++written.compressed;
    if (hooks.progress) hooks.progress(written.files, files);
  };
  std::vector<BlockPlace> blocks;
  {
    DataWriter data(sink, edge, hooks, sink.position(), options.checksums);
    if (solid) {
      WriteSolid(builder, data, facts, options, done, &blocks);
    } else {
      WriteStored(entries, data, facts, done);
    }
  }
  written.blocks = static_cast<uint32_t>(blocks.size());
  // Without a byte of data the index would lie where the header's place says none:
  // such an archive gets the plain layout, its table right after the header.
  if (solid && sink.position() == prologue_at + kArchivePrologueSize) {
    solid = false;
    sink.Skip(uint64_t{EntryRecord::kSize} * entries.size());
  }

  // The table, now that every record is known: at its place ahead of the data, or in
  // the solid index.
  const uint32_t flags =
      (builder.name_encoding() == NameEncoding::kUtf8 ? kExtensionNamesUtf8 : 0) | (solid ? kExtensionSolid : 0);
  const uint32_t prologue_crc = solid ? PutSolidIndex(entries, facts, blocks, sink, prologue_at, options)
                                      : PutTable(entries, facts, sink, prologue_at, flags != 0);
  sink.Finish();
  written.archive_bytes = sink.position() - prologue_at;

  if (options.checksums) {
    const uint32_t n = static_cast<uint32_t>(entries.size());
    written.extension.assign(ExtensionBlockSize(n), '\0');
    auto* block = reinterpret_cast<unsigned char*>(written.extension.data());
    PutExtensionHeader(block, flags, n, prologue_crc);
    for (uint32_t i = 0; i < n; ++i) {
      const RecordFacts& f = facts[i];
      const bool file = entries[i].kind == kEntryKindFile;
      PutExtensionRecord(ExtensionRecordAt(block, i + 1), file ? f.crc : 0, file ? f.original_size : 0, f.method,
                         f.block);
    }
    SealExtensionBlock(block, written.extension.size());
  }
  return written;
}

}  // namespace vek::build
