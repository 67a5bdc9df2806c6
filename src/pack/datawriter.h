// The writer's copying of file data (vekwriter.h): each source file opened through its
// folder, checked against what the scan saw, and read into the sink or, for a solid
// block, onto the block's bytes; what its record holds (its checksum too) is learned
// on the way.
#pragma once

#include <stdint.h>

#include <string>

#include "archivesink.h"
#include "layout.h"
#include "packedge.h"
#include "vekwriter.h"

namespace vek::build {

// What a record holds besides the entry's name and place: given, or learned while
// the data was written.
struct RecordFacts {
  uint32_t attributes = 0;
  uint32_t time_stamp = 0;
  uint32_t size = 0;
  uint32_t data_offset = 0;
  // For the extension block.
  uint32_t crc = 0;  // of the data as stored (of the file's own bytes in a block)
  uint32_t original_size = 0;
  uint8_t method = kMethodStored;
  uint32_t block = 0;  // kMethodLzmaSolid: its block; data_offset is inside it
};

// The record's facts as the entry gives them.
RecordFacts GivenFacts(const Entry& e);

class ByteRoom;

// Copies the data of every file, learning what the records hold.
class DataWriter {
 public:
  DataWriter(ArchiveSink& sink, PackEdge& edge, const WriteHooks& hooks, uint64_t data_start, bool checksums)
      : sink_(sink), edge_(edge), hooks_(hooks), data_start_(data_start), checksums_(checksums) {}
  ~DataWriter() { CloseFolder(); }

  RecordFacts Write(const Entry& e);

  // Appends a file's bytes whole to a block's, learning what its record holds
  // besides (its checksum of those bytes; its place and method are the caller's).
  void ReadInto(const Entry& e, RecordFacts* facts, std::string* block);
  // The file's first bytes, at most limit of them, for a look at what it holds.
  std::string Sample(const Entry& e, size_t limit);
  // Appends bytes that are no file's own (a block's stream) and returns where they
  // begin in the data area.
  uint32_t AppendData(const void* data, size_t size);

 private:
  [[noreturn]] void Changed(const Entry& e);
  [[noreturn]] void CannotRead(const Entry& e, const char* what, const Error& error);

  // Opens the source through its folder, kept open while its files follow.
  FileHandle Open(const Entry& e);

  void CloseFolder();

  [[noreturn]] void TooLarge();

  // Copies the source into room (the sink, its checksum computed on the way, or a
  // string sized once the file's size is known).
  void CopySource(const Entry& e, RecordFacts* record, ByteRoom& room);

  ArchiveSink& sink_;
  PackEdge& edge_;
  const WriteHooks& hooks_;
  const uint64_t data_start_;
  const bool checksums_;
  FolderHandle folder_ = kNoFolder;
  std::string folder_path_;
  int64_t stamp_second_ = -1;  // the second of the last stamp made, -1: none
  uint32_t stamp_ = 0;
};

}  // namespace vek::build
