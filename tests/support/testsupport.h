// Helpers shared by the unit tests: scratch folders, a fault-injecting file edge that
// wraps the real one, a recording message box, and archive byte surgery.
#pragma once

#include <stdint.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <mutex>
#include <string>
#include <vector>

#include "dostime.h"
#include "fileedge.h"
#include "messagebox.h"
#include "rnvek100.h"

namespace vek::testing {

// A fresh folder under the system's temporary folder, removed with its contents.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  const std::filesystem::path& path() const { return path_; }
  // The folder as the extractor's destination string (the file edge's path, no
  // trailing separator), or a path below it: below's names are separated by "/" and
  // joined with the file edge's separator.
  std::string destination(const std::string& below = "") const;
  std::filesystem::path operator/(const std::string& relative) const { return path_ / relative; }

 private:
  std::filesystem::path path_;
};

std::string ReadWholeFile(const std::filesystem::path& path);
void WriteWholeFile(const std::filesystem::path& path, const std::string& bytes);

// The file-edge operations a fault can be injected into.
enum class Op { kOpenRead, kCreate, kSeek, kRead, kWrite, kClose, kMakeDirectory };

// Wraps an edge and counts the calls of each operation; a fault planned for the n-th
// call of an operation replaces that call's outcome. Every call goes to the inner
// edge, or to the platform's queries and threads; the threads it starts may call this
// edge at once (as the stub's check does), and then which of them meets a planned
// fault is up to them.
class FaultyFileEdge final : public FileEdge, public UninstallQueries, public Threads {
 public:
  enum class Fault {
    kRefuse,  // the call fails with `code`
    kShort,   // a read or write transfers half of what was asked (at least 1 byte less)
    kZero,    // a read or write transfers nothing and succeeds
  };
  explicit FaultyFileEdge(FileEdge& inner) : inner_(inner) {}

  void Plan(Op op, int nth_call, Fault fault, uint32_t code = 0) { plans_.push_back({op, nth_call, fault, code}); }
  int Calls(Op op) const {
    std::lock_guard<std::mutex> hold(lock_);
    return counts_[static_cast<int>(op)];
  }
  // Handles opened through this edge and not yet closed.
  int OpenHandles() const { return open_; }

  // ArchiveFiles
  Error OpenRead(const char* path, FileHandle* file) override;
  Error Seek(FileHandle file, int64_t offset) override;
  Error Read(FileHandle file, void* buffer, uint32_t count, uint32_t* done) override;
  Error Close(FileHandle file) override;
  // TreeMaker. An entry's file counts as a Create when made and as a Close when
  // finished; a copy is a Read and a Write here, each of which a fault can replace.
  char Separator() const override { return inner_.Separator(); }
  bool GetAttributes(const char* path, uint32_t* attributes) override { return inner_.GetAttributes(path, attributes); }
  Error MakeDirectory(const char* path) override;
  Error MakeEntryFolder(const char* path, size_t length, size_t destination_length) override {
    return inner_.MakeEntryFolder(path, length, destination_length);
  }
  Error CreateEntryFile(const char* path, size_t destination_length, FileHandle archive, FileHandle* file) override;
  Error Write(FileHandle file, const void* buffer, uint32_t count, uint32_t* done) override;
  Error CopyBlock(FileHandle from, FileHandle to, void* buffer, uint32_t count, uint32_t* read,
                  uint32_t* written) override {
    return CopyThroughBuffer(*this, from, to, buffer, count, read, written);
  }
  Error FinishEntryFile(FileHandle file, const char* path, uint32_t dos_time_stamp, uint32_t attributes) override;
  Error RemoveFile(const char* path) override { return inner_.RemoveFile(path); }
  // The free space reported: the inner edge's, or free_space when set (>= 0), or none (-2).
  bool FreeSpace(const char* path, uint64_t* bytes) override {
    if (free_space == -2) return false;
    if (free_space < 0) return inner_.FreeSpace(path, bytes);
    *bytes = static_cast<uint64_t>(free_space);
    return true;
  }
  int64_t free_space = -1;
  bool SetAttributes(const char* path, uint32_t attributes) override { return inner_.SetAttributes(path, attributes); }
  Error Create(const char* path, FileHandle* file) override;
  // UninstallQueries
  bool FileStamp(const char* path, uint64_t* size, uint64_t* time) override {
    return PlatformUninstallQueries().FileStamp(path, size, time);
  }
  bool RemoveEmptyFolder(const char* path) override { return PlatformUninstallQueries().RemoveEmptyFolder(path); }
  uint32_t CountEntries(const char* path) override { return PlatformUninstallQueries().CountEntries(path); }
  // Threads: the platform's, or none started when `threads` is false; `started`
  // counts those started.
  uint32_t Processors() override { return PlatformThreads().Processors(); }
  bool Start(void (*work)(void*), void* context, ThreadHandle* thread) override {
    if (!threads || !PlatformThreads().Start(work, context, thread)) return false;
    ++started;
    return true;
  }
  void Join(ThreadHandle thread) override { PlatformThreads().Join(thread); }
  bool threads = true;
  int started = 0;

 private:
  struct PlannedFault {
    Op op;
    int nth;
    Fault fault;
    uint32_t code;
  };
  const PlannedFault* Next(Op op);
  FileEdge& inner_;
  std::vector<PlannedFault> plans_;
  mutable std::mutex lock_;  // over counts_
  int counts_[7] = {};
  std::atomic<int> open_{0};
};

// Sums what is written to each file through it, and notes whether one was removed.
class CountingEdge final : public TreeMaker {
 public:
  Error OpenRead(const char* path, FileHandle* file) override { return inner_.OpenRead(path, file); }
  Error Seek(FileHandle file, int64_t offset) override { return inner_.Seek(file, offset); }
  Error Read(FileHandle file, void* buffer, uint32_t count, uint32_t* done) override {
    return inner_.Read(file, buffer, count, done);
  }
  Error Close(FileHandle file) override { return inner_.Close(file); }
  char Separator() const override { return inner_.Separator(); }
  bool GetAttributes(const char* path, uint32_t* attributes) override { return inner_.GetAttributes(path, attributes); }
  Error MakeDirectory(const char* path) override { return inner_.MakeDirectory(path); }
  Error MakeEntryFolder(const char* path, size_t length, size_t destination_length) override {
    return inner_.MakeEntryFolder(path, length, destination_length);
  }
  Error CreateEntryFile(const char* path, size_t destination_length, FileHandle archive, FileHandle* file) override {
    return inner_.CreateEntryFile(path, destination_length, archive, file);
  }
  Error Write(FileHandle file, const void* buffer, uint32_t count, uint32_t* done) override {
    Error error = inner_.Write(file, buffer, count, done);
    written += *done;
    return error;
  }
  // Through Write, to be counted.
  Error CopyBlock(FileHandle from, FileHandle to, void* buffer, uint32_t count, uint32_t* read,
                  uint32_t* copied) override {
    return CopyThroughBuffer(*this, from, to, buffer, count, read, copied);
  }
  Error FinishEntryFile(FileHandle file, const char* path, uint32_t dos_time_stamp, uint32_t attributes) override {
    return inner_.FinishEntryFile(file, path, dos_time_stamp, attributes);
  }
  Error RemoveFile(const char* path) override {
    removed = true;
    return inner_.RemoveFile(path);
  }
  bool FreeSpace(const char* path, uint64_t* bytes) override { return inner_.FreeSpace(path, bytes); }
  bool SetAttributes(const char* path, uint32_t attributes) override { return inner_.SetAttributes(path, attributes); }
  Error Create(const char* path, FileHandle* file) override { return inner_.Create(path, file); }
  uint64_t written = 0;
  bool removed = false;

 private:
  FileEdge& inner_ = PlatformFileEdge();
};

// Remembers every box instead of showing it; installed for its lifetime.
class RecordingMessages final : public MessageBoxPresenter {
 public:
  RecordingMessages() { previous_ = SetMessageBoxPresenter(this); }
  ~RecordingMessages() override { SetMessageBoxPresenter(previous_); }
  void ShowMessageBox(const char* text, MessageKind kind) override { boxes.push_back({text, kind}); }
  struct Box {
    std::string text;
    MessageKind kind;
  };
  std::vector<Box> boxes;

 private:
  MessageBoxPresenter* previous_;
};

// Opens archive bytes (written to a scratch file) in a reader; the file stays open
// for extraction until the object goes.
class LoadedArchive {
 private:
  ScratchFolder folder_;  // first: it goes after the reader has closed its file

 public:
  LoadedArchive(const std::string& bytes, ArchiveFiles& edge = PlatformFileEdge());
  Error load_error;
  ArchiveReader reader;
};

// Byte surgery on a serialized archive (bare, starting at offset 0).
inline void PatchU16(std::string& a, size_t at, uint16_t v) { StoreU16(reinterpret_cast<unsigned char*>(&a[at]), v); }
inline void PatchU32(std::string& a, size_t at, uint32_t v) { StoreU32(reinterpret_cast<unsigned char*>(&a[at]), v); }
inline size_t RecordAt(uint32_t slot) { return kArchivePrologueSize + EntryRecord::kSize * (slot - 1); }
// Sets the name of the record in slot: the bytes (at most the field's 232) and the
// length byte, which may claim more (up to 255) than the field holds.
void PatchName(std::string& archive, uint32_t slot, const std::string& name, int length_byte = -1);

// The smallest PE image the start-offset lookup accepts: DOS header, PE signature,
// COFF header, no optional header, a ".text" section of 0x10 bytes at 0x100 and a
// section of the given name of 0x200 bytes at 0x200; length bytes in all.
std::string FakeStub(const char* section_name, size_t length);

// A self-extracting executable from stub bytes and a bare archive with its checksum
// block and footer (ArchiveBuilder::Serialize with checksums): the block laid over the
// stub's last bytes, then the archive. *place: where the stub's constants would say
// the block lies.
std::string WithBlockInStub(const std::string& stub, const std::string& bare, ExtensionPlace* place);

// A .ico file of a 32-bit bitmap image of each size in `sizes` (each size's pixels a
// pattern of their own), then, with png, an image that begins as a PNG file does (a
// signature and bytes that decode to nothing). *images: the images' bytes in order.
std::string TestIcon(const std::vector<int>& sizes, bool png, std::vector<std::string>* images = nullptr);

// A DOS time stamp from its parts.
inline uint32_t DosStamp(int year, int month, int day, int hour, int minute, int second) {
  return EncodeDosTime(DosTime{year, month, day, hour, minute, second});
}

// The time stamp of entries whose time the test does not look at.
inline const uint32_t kStamp = DosStamp(1999, 3, 14, 12, 30, 44);
// Bytes standing in for the stub in front of an archive.
inline const std::string kFakeStub = "MZ" + std::string(1022, '\x90');

// Runs ExtractEntry for identifiers 1..N, stopping at the first error, as the run does.
Error ExtractAll(ArchiveReader& reader, TreeMaker& tree, const std::string& destination);

}  // namespace vek::testing

namespace vek::testing {
// The file's modification time in seconds since 1970, or -1.
long long ModificationTime(const std::filesystem::path& path);
}  // namespace vek::testing

namespace vek::testing {
// True in a Windows test binary running under Wine.
bool RunningUnderWine();
}  // namespace vek::testing

namespace vek {
// Shows errors readably in test failures.
void PrintTo(const Error& error, std::ostream* os);
}  // namespace vek
