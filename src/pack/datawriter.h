// The writer's copying of file data (vekwriter.h): each source file opened through its
// folder, checked against what the scan saw, and read into the sink or, to be
// deflated, into a string of its own; what its record holds (its checksum too) is
// learned on the way.
#pragma once

#include <stdint.h>

#include <string>

#include "archivesink.h"
#include "compressjobs.h"
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
  uint32_t crc = 0;  // of the data as stored
  uint32_t original_size = 0;
  bool deflated = false;
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

  // A file's bytes whole, to be deflated, with what its record holds besides.
  std::string Read(const Entry& e, RecordFacts* facts);
  // Appends the data packed for an entry, completing its facts.
  void Append(const PackedData& packed, RecordFacts* facts);

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
