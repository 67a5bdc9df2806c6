#include "vekwriter.h"

#include <string.h>

#include <algorithm>

#include "cp1250.h"
#include "errorwords.h"
#include "layout.h"

namespace vek::build {
namespace {

constexpr int64_t kNanosecondsPerSecond = 1000000000;
// Files of this size and more move into a file sink inside the system where it can
// (one copy of each byte instead of two); smaller ones are read into the sink's
// buffer and leave with their neighbours.
constexpr uint64_t kSystemCopyThreshold = 32 * 1024;
// Entry records are written in pieces of this many.
constexpr size_t kRecordsPerPiece = 4096;

// What a record holds besides the entry's name and place: given, or learned while
// the data was written.
struct RecordFacts {
  uint32_t attributes = 0;
  uint32_t time_stamp = 0;
  uint32_t size = 0;
  uint32_t data_offset = 0;
};

void PutSignatureAndHeader(unsigned char* p, size_t entry_count, NameEncoding names) {
  memset(p, 0, kArchivePrologueSize);
  memcpy(p + ArchiveSignature::kMagicOffset, kArchiveMagic, ArchiveSignature::kMagicSize);
  memcpy(p + ArchiveSignature::kTailOffset, names == NameEncoding::kUtf8 ? kSignatureTailExtended : kSignatureTail,
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
  record[EntryRecord::kKindOffset] = e.kind;
  record[EntryRecord::kNameOffset] = static_cast<unsigned char>(e.name.size());
  memcpy(record + EntryRecord::kNameOffset + 1, e.name.data(), e.name.size());
  StoreU32(record + EntryRecord::kAttributesOffset, facts.attributes);
  StoreU32(record + EntryRecord::kTimeStampOffset, facts.time_stamp);
  StoreU32(record + EntryRecord::kSizeOffset, facts.size);
  StoreU32(record + EntryRecord::kDataOffsetOffset, facts.data_offset);
}

RecordFacts GivenFacts(const Entry& e) {
  return {e.attributes, e.time_stamp, static_cast<uint32_t>(e.size), e.data_offset};
}

// Copies the data of every file, learning what the records hold.
class DataWriter {
 public:
  DataWriter(ArchiveSink& sink, PackEdge& edge, const WriteHooks& hooks, uint64_t data_start)
      : sink_(sink), edge_(edge), hooks_(hooks), data_start_(data_start) {}
  ~DataWriter() { CloseFolder(); }

  RecordFacts Write(const Entry& e) {
    RecordFacts facts = GivenFacts(e);
    facts.data_offset = static_cast<uint32_t>(sink_.position() - data_start_);
    if (e.source.empty()) {
      sink_.Append(e.data.data(), e.data.size());
    } else {
      CopySource(e, &facts);
    }
    return facts;
  }

 private:
  [[noreturn]] void Changed(const Entry& e) {
    throw BuildError(e.shown() + ": the file changed while it was read (its size or time)");
  }
  [[noreturn]] void CannotRead(const Entry& e, const char* what, const Error& error) {
    throw BuildError(e.shown() + ": cannot " + what + " the file: " + tools::ErrorInWords(error));
  }

  // Opens the source through its folder, kept open while its files follow.
  FileHandle Open(const Entry& e) {
    const size_t slash = e.source.find_last_of(kPathSeparators);
    FileHandle file = kNoFile;
    Error error;
    if (slash == std::string::npos) {
      error = edge_.OpenRead(kNoFolder, e.source.c_str(), &file);
    } else {
      const size_t folder_length = slash == 0 ? 1 : slash;
      if (folder_ == kNoFolder || folder_path_.compare(0, std::string::npos, e.source, 0, folder_length) != 0) {
        CloseFolder();
        folder_path_.assign(e.source, 0, folder_length);
        PathFacts ignored;
        error = edge_.OpenFolder(kNoFolder, folder_path_.c_str(), &folder_, &ignored);
        if (!error.ok()) folder_ = kNoFolder;
      }
      if (error.ok()) error = edge_.OpenRead(folder_, e.source.c_str() + slash + 1, &file);
    }
    if (!error.ok()) CannotRead(e, "open", error);
    return file;
  }

  void CloseFolder() {
    if (folder_ != kNoFolder) edge_.CloseFolder(folder_);
    folder_ = kNoFolder;
  }

  void CopySource(const Entry& e, RecordFacts* record) {
    struct Closer {
      PackEdge& edge;
      FileHandle file;
      ~Closer() { (void)edge.Close(file); }  // read only: nothing is lost when it fails
    } closer{edge_, Open(e)};
    const FileHandle file = closer.file;
    PathFacts facts;
    Error error = edge_.FileFacts(file, &facts);
    if (!error.ok()) CannotRead(e, "read", error);
    if (hooks_.output && facts.SameFileAs(*hooks_.output)) {
      throw BuildError(e.shown() + ": this is the output " + sink_.name() + "; it cannot be packed");
    }
    if (facts.kind != FileKind::kFile) Changed(e);
    if (e.size >= 0 && (facts.size != static_cast<uint64_t>(e.size) ||
                        (e.source_modified >= 0 && facts.modified_ns != e.source_modified))) {
      Changed(e);
    }
    if (facts.size >= kPositionLimit) throw BuildError(e.shown() + ": the file is 2 GiB or larger");
    if (sink_.position() + facts.size >= kPositionLimit) {
      throw BuildError(sink_.name() + ": the archive would reach 2 GiB, beyond what the extractor can seek");
    }
    if (e.size < 0) {
      // Files of a tree often share their time to the second: the time zone is
      // consulted once for them.
      const int64_t second = facts.modified_ns / kNanosecondsPerSecond;
      if (facts.modified_ns < 0 || second != stamp_second_) {
        bool clamped = false;
        stamp_ = StampOf(facts, e.shown(), hooks_.warn, &clamped);
        stamp_second_ = facts.modified_ns < 0 || clamped ? -1 : second;  // each clamped one is named
      }
      record->time_stamp = stamp_;
      record->attributes = AttributesOf(facts);
    }
    record->size = static_cast<uint32_t>(facts.size);

    // Each piece asks for a byte more than is left: one that gets exactly what was
    // left shows that the file ended there, so a small file costs one read. A larger
    // file, and one moved in pieces, is looked at again afterwards: a change while it
    // was copied shows as another size or time.
    uint64_t left = facts.size;
    int pieces = 0;
    bool inside_the_system = left >= kSystemCopyThreshold;
    for (;;) {
      uint64_t asked = left + 1;
      uint64_t got = 0;
      if (inside_the_system) {
        error = sink_.CopyFrom(edge_, file, asked, &got);
        if (error == InOutError(kWinErrorNotSupported)) {
          inside_the_system = false;
          continue;
        }
        if (!error.ok()) throw BuildError(sink_.name() + ": cannot write: " + tools::ErrorInWords(error));
      } else {
        size_t room;
        char* at = sink_.Space(static_cast<size_t>(std::min<uint64_t>(asked, FileSink::kBufferSize)), &room);
        asked = std::min<uint64_t>(asked, room);
        size_t read = 0;
        error = edge_.Read(file, at, static_cast<size_t>(asked), &read);
        if (!error.ok()) CannotRead(e, "read", error);
        got = read;
        sink_.Took(read);
      }
      ++pieces;
      if (got > left) Changed(e);  // it grew
      left -= got;
      if (got == 0 || (left == 0 && got < asked)) break;
    }
    if (left != 0) Changed(e);  // it shrank
    if (pieces > 1 || facts.size >= kSystemCopyThreshold) {
      PathFacts after;
      error = edge_.FileFacts(file, &after);
      if (!error.ok()) CannotRead(e, "read", error);
      if (after.size != facts.size || after.modified_ns != facts.modified_ns) Changed(e);
    }
  }

  ArchiveSink& sink_;
  PackEdge& edge_;
  const WriteHooks& hooks_;
  const uint64_t data_start_;
  FolderHandle folder_ = kNoFolder;
  std::string folder_path_;
  int64_t stamp_second_ = -1;  // the second of the last stamp made, -1: none
  uint32_t stamp_ = 0;
};

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

uint32_t StampOf(const PathFacts& facts, const std::string& shown,
                 const std::function<void(const std::string&)>& warn, bool* clamped) {
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

uint64_t ArchiveBuilder::ArchiveSize() const {
  return kArchivePrologueSize + uint64_t{EntryRecord::kSize} * entries_.size() + data_size_;
}

std::string ArchiveBuilder::SerializePrologue() const {
  std::string out(kArchivePrologueSize + EntryRecord::kSize * entries_.size(), '\0');
  auto* p = reinterpret_cast<unsigned char*>(out.data());
  PutSignatureAndHeader(p, entries_.size(), names_);
  p += kArchivePrologueSize;
  for (const Entry& e : entries_) {
    PutRecord(p, e, GivenFacts(e));
    p += EntryRecord::kSize;
  }
  return out;
}

std::string ArchiveBuilder::Serialize() const {
  MemorySink sink;
  WriteArchiveTo(*this, sink, PlatformPackEdge());
  return std::move(sink.bytes());
}

WrittenArchive WriteArchiveTo(const ArchiveBuilder& builder, ArchiveSink& sink, PackEdge& edge,
                              const WriteHooks& hooks) {
  const std::vector<Entry>& entries = builder.entries();
  const uint64_t prologue_at = sink.position();
  const uint64_t table_size = uint64_t{EntryRecord::kSize} * entries.size();
  sink.Skip(kArchivePrologueSize + table_size);

  WrittenArchive written;
  const uint64_t files = static_cast<uint64_t>(
      std::count_if(entries.begin(), entries.end(), [](const Entry& e) { return e.kind == kEntryKindFile; }));
  std::vector<RecordFacts> facts(entries.size());
  {
    DataWriter data(sink, edge, hooks, sink.position());
    for (size_t i = 0; i < entries.size(); ++i) {
      const Entry& e = entries[i];
      if (e.kind != kEntryKindFile) {
        ++written.directories;
        facts[i] = GivenFacts(e);
        continue;
      }
      facts[i] = data.Write(e);
      ++written.files;
      written.data_bytes += facts[i].size;
      if (hooks.progress) hooks.progress(written.files, files);
    }
  }
  written.archive_bytes = sink.position() - prologue_at;

  // The table, now that every record is known, at its place ahead of the data.
  std::string piece(kArchivePrologueSize + EntryRecord::kSize * std::min(entries.size(), kRecordsPerPiece), '\0');
  auto* p = reinterpret_cast<unsigned char*>(piece.data());
  PutSignatureAndHeader(p, entries.size(), builder.name_encoding());
  size_t filled = kArchivePrologueSize;
  uint64_t at = prologue_at;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (filled + EntryRecord::kSize > piece.size()) {
      sink.WriteAt(at, p, filled);
      at += filled;
      filled = 0;
    }
    PutRecord(p + filled, entries[i], facts[i]);
    filled += EntryRecord::kSize;
  }
  sink.WriteAt(at, p, filled);
  sink.Finish();
  return written;
}

}  // namespace vek::build
