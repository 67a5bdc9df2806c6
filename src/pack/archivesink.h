// Where an archive's bytes go: a file, written through the pack edge in large pieces
// at explicit positions, or memory. Bytes are placed straight into the sink's room
// (a source file is read into it), so that they are copied once on their way.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "packedge.h"

namespace vek::build {

// A refusal or failure of packing: the message names the path concerned.
class BuildError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ArchiveSink {
 public:
  explicit ArchiveSink(std::string name) : name_(std::move(name)) {}
  virtual ~ArchiveSink() = default;
  ArchiveSink(const ArchiveSink&) = delete;
  ArchiveSink& operator=(const ArchiveSink&) = delete;

  // The output's name in messages.
  const std::string& name() const { return name_; }
  // Where the next bytes go.
  uint64_t position() const { return position_; }
  // Room for the next bytes: *room of them at the address returned, at least
  // `wanted` unless that is more than the sink holds at once.
  virtual char* Space(size_t wanted, size_t* room) = 0;
  // Keeps the first n bytes of that room.
  void Took(size_t n) { position_ += n; }
  void Append(const void* data, size_t size);
  // Leaves count bytes to be written later with WriteAt.
  virtual void Skip(uint64_t count) = 0;
  // Writes bytes at an offset before position().
  virtual void WriteAt(uint64_t offset, const void* data, size_t count) = 0;
  // Moves up to count bytes from file's position to the end inside the system;
  // kWinErrorNotSupported when this sink or edge cannot (nothing moved). *done is 0
  // at the end of file.
  virtual Error CopyFrom(PackEdge& edge, FileHandle file, uint64_t count, uint64_t* done) {
    *done = 0;
    return InOutError(kWinErrorNotSupported);
  }
  // Writes out everything held.
  virtual void Finish() = 0;

 protected:
  [[noreturn]] void Refuse(const Error& error) const;
  uint64_t position_ = 0;

 private:
  std::string name_;
};

// A new file, written from its beginning; the buffer leaves in writes of kBufferSize
// bytes.
class FileSink final : public ArchiveSink {
 public:
  static constexpr size_t kBufferSize = size_t{1} << 20;
  FileSink(PackEdge& edge, FileHandle file, std::string name);
  char* Space(size_t wanted, size_t* room) override;
  void Skip(uint64_t count) override;
  void WriteAt(uint64_t offset, const void* data, size_t count) override;
  Error CopyFrom(PackEdge& edge, FileHandle file, uint64_t count, uint64_t* done) override;
  void Finish() override { Flush(); }

 private:
  void Flush();
  PackEdge& edge_;
  FileHandle file_;
  std::unique_ptr<char[]> buffer_;  // left uninitialised: every byte is placed before it leaves
  uint64_t buffer_start_ = 0;       // the file position of buffer_[0]
};

// The bytes in memory.
class MemorySink final : public ArchiveSink {
 public:
  MemorySink() : ArchiveSink("(memory)") {}
  char* Space(size_t wanted, size_t* room) override;
  void Skip(uint64_t count) override;
  void WriteAt(uint64_t offset, const void* data, size_t count) override;
  void Finish() override { bytes_.resize(position_); }
  std::string& bytes() { return bytes_; }

 private:
  std::string bytes_;
};

}  // namespace vek::build
