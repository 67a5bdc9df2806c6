#include "datawriter.h"

#include <algorithm>

#include "crc32.h"
#include "errorwords.h"

namespace vek::build {
namespace {

constexpr int64_t kNanosecondsPerSecond = 1000000000;
// Without checksums, files of this size and more move into a file sink inside the
// system where it can (one copy of each byte instead of two); smaller ones, and every
// file whose checksum is computed, are read into the sink's buffer and leave with
// their neighbours.
constexpr uint64_t kSystemCopyThreshold = 32 * 1024;

}  // namespace

RecordFacts GivenFacts(const Entry& e) {
  RecordFacts facts;
  facts.attributes = e.attributes;
  facts.time_stamp = e.time_stamp;
  facts.size = facts.original_size = static_cast<uint32_t>(e.size);
  facts.data_offset = e.data_offset;
  return facts;
}

// Where a source file's bytes are read into.
class ByteRoom {
 public:
  virtual ~ByteRoom() = default;
  // Called once the file's size is known; false: the bytes go into the sink.
  virtual bool Reserve(uint64_t size) { return false; }
  virtual char* Space(size_t wanted, size_t* room) = 0;
  virtual void Took(const char* at, size_t n) = 0;
};

// The sink's room, which computes the bytes' checksum as they are taken.
class SinkRoom final : public ByteRoom {
 public:
  SinkRoom(ArchiveSink& sink, bool crc) : sink_(sink), crc_wanted_(crc) {}
  char* Space(size_t wanted, size_t* room) override { return sink_.Space(wanted, room); }
  void Took(const char* at, size_t n) override {
    if (crc_wanted_) crc = Crc32(crc, at, n);
    sink_.Took(n);
  }
  uint32_t crc = 0;

 private:
  ArchiveSink& sink_;
  bool crc_wanted_;
};

// The end of a block's bytes, with a byte more than the file's size: one more byte
// read shows that it grew. Its checksum is computed as the bytes are taken.
class BlockRoom final : public ByteRoom {
 public:
  explicit BlockRoom(std::string& bytes) : bytes_(bytes), start_(bytes.size()), length_(bytes.size()) {}
  bool Reserve(uint64_t size) override {
    bytes_.resize(start_ + static_cast<size_t>(size) + 1);
    return true;
  }
  char* Space(size_t, size_t* room) override {
    *room = bytes_.size() - length_;
    return bytes_.data() + length_;
  }
  void Took(const char* at, size_t n) override {
    crc = Crc32(crc, at, n);
    length_ += n;
  }
  void Finish() { bytes_.resize(length_); }
  uint32_t crc = 0;

 private:
  std::string& bytes_;
  const size_t start_;
  size_t length_;
};

RecordFacts DataWriter::Write(const Entry& e) {
  RecordFacts facts = GivenFacts(e);
  facts.data_offset = static_cast<uint32_t>(sink_.position() - data_start_);
  if (e.source.empty()) {
    sink_.Append(e.data.data(), e.data.size());
    if (checksums_) facts.crc = Crc32(0, e.data.data(), e.data.size());
  } else {
    SinkRoom room(sink_, checksums_);
    CopySource(e, &facts, room);
    facts.crc = room.crc;
  }
  facts.original_size = facts.size;
  return facts;
}

void DataWriter::ReadInto(const Entry& e, RecordFacts* facts, std::string* block) {
  *facts = GivenFacts(e);
  if (e.source.empty()) {
    block->append(e.data);
    facts->crc = Crc32(0, e.data.data(), e.data.size());
  } else {
    BlockRoom room(*block);
    CopySource(e, facts, room);
    room.Finish();
    facts->crc = room.crc;
  }
  facts->original_size = facts->size;
}

std::string DataWriter::Sample(const Entry& e, size_t limit) {
  if (e.source.empty()) return e.data.substr(0, limit);
  struct Closer {
    PackEdge& edge;
    FileHandle file;
    ~Closer() { (void)edge.Close(file); }
  } closer{edge_, Open(e)};
  std::string sample(limit, '\0');
  size_t length = 0;
  while (length < limit) {
    size_t read = 0;
    const Error error = edge_.Read(closer.file, sample.data() + length, limit - length, &read);
    if (!error.ok()) CannotRead(e, "read", error);
    if (read == 0) break;
    length += read;
  }
  sample.resize(length);
  return sample;
}

uint32_t DataWriter::AppendData(const void* data, size_t size) {
  if (sink_.position() + size >= kPositionLimit) TooLarge();
  const uint32_t at = static_cast<uint32_t>(sink_.position() - data_start_);
  sink_.Append(data, size);
  return at;
}

[[noreturn]] void DataWriter::TooLarge() {
  throw BuildError(sink_.name() + ": the archive would reach 2 GiB, beyond what the extractor can seek");
}

[[noreturn]] void DataWriter::Changed(const Entry& e) {
  throw BuildError(e.shown() + ": the file changed while it was read (its size or time)");
}

[[noreturn]] void DataWriter::CannotRead(const Entry& e, const char* what, const Error& error) {
  throw BuildError(e.shown() + ": cannot " + what + " the file: " + tools::ErrorInWords(error));
}

FileHandle DataWriter::Open(const Entry& e) {
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

void DataWriter::CloseFolder() {
  if (folder_ != kNoFolder) edge_.CloseFolder(folder_);
  folder_ = kNoFolder;
}

void DataWriter::CopySource(const Entry& e, RecordFacts* record, ByteRoom& room) {
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
  const bool whole = room.Reserve(facts.size);
  if (!whole && sink_.position() + facts.size >= kPositionLimit) TooLarge();
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
  bool inside_the_system = !whole && !checksums_ && left >= kSystemCopyThreshold;
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
      size_t space;
      char* at = room.Space(static_cast<size_t>(std::min<uint64_t>(asked, FileSink::kBufferSize)), &space);
      asked = std::min<uint64_t>(asked, space);
      size_t read = 0;
      error = edge_.Read(file, at, static_cast<size_t>(asked), &read);
      if (!error.ok()) CannotRead(e, "read", error);
      got = read;
      if (got > left) Changed(e);  // it grew: its extra byte is never kept
      room.Took(at, read);
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

}  // namespace vek::build
