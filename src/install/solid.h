// The files of a solid archive's blocks: which lie in each block and in what order,
// and decoding a block to its files, which are written (BlockExtraction) or only
// checked as their bytes pass.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "ansistring.h"
#include "error.h"
#include "fileedge.h"
#include "rnvek100.h"

namespace vek {

// Each block's files in the order of their data (by offset, then identifier).
class SolidPlan {
 public:
  SolidPlan() = default;
  ~SolidPlan();
  SolidPlan(const SolidPlan&) = delete;
  SolidPlan& operator=(const SolidPlan&) = delete;

  // False when memory ran out.
  bool Make(const ArchiveReader& reader);
  uint32_t blocks() const { return blocks_; }
  // The identifiers of block's files; *count of them.
  const uint32_t* Files(uint32_t block, uint32_t* count) const {
    *count = first_[block + 1] - first_[block];
    return ids_ + first_[block];
  }

 private:
  uint32_t blocks_ = 0;
  uint32_t* ids_ = nullptr;    // the files, block after block
  uint32_t* first_ = nullptr;  // blocks_ + 1 places in ids_
};

// The first file of a block in table order, 0 when it holds none: it names the block
// in a report.
uint32_t FirstFileOfBlock(const ArchiveReader& reader, uint32_t block);

// Where the files of a block go as it is decoded. Begin starts a file, Write gives
// its bytes in order, End closes it with its outcome: NoError when its bytes match
// its checksum, kDataDamaged when they do not, the decoding's fault when the stream
// failed before the file was complete - End then comes for each file not reached
// too, without Begin. A fault that End returns stops the decoding (a sink that only
// records one returns NoError and the decoding goes on).
class BlockFileSink {
 public:
  virtual Error Begin(const ArchiveEntry& entry) = 0;
  virtual Error Write(const unsigned char* data, size_t size) = 0;
  virtual Error End(const ArchiveEntry& entry, const Error& outcome) = 0;

 protected:
  ~BlockFileSink() = default;  // never deleted through the interface
};

// Decodes block (its stored bytes read through file, positioned there) and hands the
// files ids[0, count) (of that block, in the order of their data) to out; the bytes
// of other files are passed over. Never more than the block's decoded size comes out
// of it. Returns NoError, or the fault that stopped it with *slot set to the file it
// concerns (0: none): what End returned, a failure of out, a failure to read, memory
// that ran out.
Error DecodeBlock(const ArchiveReader& reader, ArchiveFile& file, uint32_t block, const uint32_t* ids, uint32_t count,
                  BlockFileSink& out, uint32_t* slot);

// A lock for the few moments that threads share the tree and the reader: spun
// while held, as what it guards is short (making or finishing one file).
class SpinLock {
 public:
  void Lock() {
    while (__atomic_exchange_n(&held_, true, __ATOMIC_ACQUIRE)) {
      while (__atomic_load_n(&held_, __ATOMIC_RELAXED)) {
      }
    }
  }
  void Unlock() { __atomic_store_n(&held_, false, __ATOMIC_RELEASE); }

 private:
  bool held_ = false;
};

// What the stub's run hears of ExtractBlocks: each file's outcome (on any of the
// threads, one at a time), and, on the calling thread now and then, the bytes written
// so far by all of them.
struct BlockRun {
  void (*ended)(void* context, const ArchiveEntry& entry, const Error& outcome) = nullptr;
  void (*progress)(void* context, uint64_t written) = nullptr;
  void* context = nullptr;
};

// Writes each file below destination through tree as extraction does (ExtractEntry):
// made new, given its time and attributes once complete; a file whose outcome is a
// fault is removed again and the fault returned. written (when given) counts the
// bytes written, added atomically, for a gauge read on another thread.
// What the writing of blocks shares, on one thread or several (ExtractBlocks): the
// lock that Begin and End take (the tree's calls other than Write, the reader's
// paths), the bytes written (added atomically), whether a fault stopped it (every
// Write fails from then on), and what the run hears: each file's end, after End,
// and on the caller's thread the bytes written.
struct BlockFiles {
  SpinLock lock;
  uint64_t written = 0;
  bool stopped = false;
  BlockRun run;
};

class BlockExtraction final : public BlockFileSink {
 public:
  BlockExtraction(ArchiveReader& reader, TreeMaker& tree, const AnsiString& destination, BlockFiles& shared,
                  bool caller = true)
      : reader_(reader), tree_(tree), destination_(destination), shared_(shared), caller_(caller) {}
  ~BlockExtraction();
  Error Begin(const ArchiveEntry& entry) override;
  Error Write(const unsigned char* data, size_t size) override;
  Error End(const ArchiveEntry& entry, const Error& outcome) override;

 private:
  ArchiveReader& reader_;
  TreeMaker& tree_;
  const AnsiString& destination_;
  BlockFiles& shared_;
  const bool caller_;
  AnsiString path_;
  FileHandle file_ = kNoFile;
};

// Runs work on the calling thread (with own, the reader's file, and caller true) and
// on up to count - 1 threads beside it (at most min(processors, 8) in all), each
// with a handle of its own on path opened through edge; returns when all are done.
// Fewer run when threads or handles cannot be had: the work must share itself out.
void RunSideBySide(Threads& threads, ArchiveFiles& edge, const char* path, ArchiveFile& own, uint32_t count,
                   void (*work)(void* context, ArchiveFile& file, bool caller), void* context);

// Writes every block's files below destination (its folders made already): the
// calling thread and up to min(processors, blocks, 8) - 1 threads beside it each
// take the next block, decode it through a handle of its own on archive_path and
// write its files in the order of their data. The tree's calls other than Write, and
// the reader's paths, are taken one thread at a time. The first fault stops every
// thread after its current piece: NoError, or that fault with *slot set to the file
// it concerns (DecodeBlock).
Error ExtractBlocks(ArchiveReader& reader, FileEdge& edge, Threads& threads, const char* archive_path,
                    const AnsiString& destination, const SolidPlan& plan, const BlockRun& run, uint32_t* slot);

}  // namespace vek
