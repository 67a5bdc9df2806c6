#include "archivesink.h"

#include <string.h>

#include <algorithm>

#include "errorwords.h"

namespace vek::build {

void ArchiveSink::Append(const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    size_t room;
    char* at = Space(size, &room);
    size_t n = std::min(room, size);
    memcpy(at, p, n);
    Took(n);
    p += n;
    size -= n;
  }
}

void ArchiveSink::Refuse(const Error& error) const {
  throw BuildError(name_ + ": cannot write: " + tools::ErrorInWords(error));
}

FileSink::FileSink(PackEdge& edge, FileHandle file, std::string name)
    : ArchiveSink(std::move(name)), edge_(edge), file_(file), buffer_(new char[kBufferSize]) {}

char* FileSink::Space(size_t wanted, size_t* room) {
  size_t used = static_cast<size_t>(position_ - buffer_start_);
  if (kBufferSize - used < std::min(wanted, kBufferSize)) {
    Flush();
    used = 0;
  }
  *room = kBufferSize - used;
  return buffer_.get() + used;
}

void FileSink::Flush() {
  const size_t used = static_cast<size_t>(position_ - buffer_start_);
  if (used > 0) {
    Error e = edge_.WriteAt(file_, buffer_start_, buffer_.get(), used);
    if (!e.ok()) Refuse(e);
  }
  buffer_start_ = position_;
}

void FileSink::Skip(uint64_t count) {
  Flush();
  position_ += count;
  buffer_start_ = position_;
}

void FileSink::WriteAt(uint64_t offset, const void* data, size_t count) {
  Flush();
  Error e = edge_.WriteAt(file_, offset, data, count);
  if (!e.ok()) Refuse(e);
}

Error FileSink::CopyFrom(PackEdge& edge, FileHandle file, uint64_t count, uint64_t* done) {
  Flush();
  Error e = edge.CopyRange(file, file_, position_, count, done);
  if (e.ok()) {
    position_ += *done;
    buffer_start_ = position_;
  }
  return e;
}

char* MemorySink::Space(size_t wanted, size_t* room) {
  if (bytes_.size() - position_ < wanted) bytes_.resize(std::max<size_t>(position_ + wanted, bytes_.size() * 2));
  *room = bytes_.size() - position_;
  return bytes_.data() + position_;
}

void MemorySink::Skip(uint64_t count) {
  size_t room;
  memset(Space(count, &room), 0, count);
  Took(count);
}

void MemorySink::WriteAt(uint64_t offset, const void* data, size_t count) {
  memcpy(bytes_.data() + offset, data, count);
}

}  // namespace vek::build
