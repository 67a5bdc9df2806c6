#include "solid.h"

#include <stdlib.h>

#include "crc32.h"
#include "extractor.h"
#include "lzmadec.h"

namespace vek {
namespace {

struct Placed {
  uint32_t block;
  uint32_t offset;
  uint32_t id;
};

int ByPlace(const void* a, const void* b) {
  const Placed& x = *static_cast<const Placed*>(a);
  const Placed& y = *static_cast<const Placed*>(b);
  if (x.block != y.block) return x.block < y.block ? -1 : 1;
  if (x.offset != y.offset) return x.offset < y.offset ? -1 : 1;
  return x.id < y.id ? -1 : x.id > y.id ? 1 : 0;
}

// The stored bytes are read in pieces of this size.
constexpr uint32_t kStoredPiece = 64 * 1024;

// Hands the decoded bytes to the files they belong to.
class Router final : public DecodeSink {
 public:
  Router(const ArchiveReader& reader, const uint32_t* ids, uint32_t count, BlockFileSink& out)
      : reader_(reader), ids_(ids), count_(count), out_(out) {}

  Error Put(const unsigned char* data, size_t size) override {
    for (;;) {
      VEK_TRY(Advance());
      if (size == 0 || next_ >= count_) {
        at_ += size;
        return NoError();
      }
      const uint64_t start = entry_.data_offset;
      const uint64_t end = start + entry_.original_size;
      size_t n;
      if (!open_) {
        n = static_cast<size_t>(start - at_ < size ? start - at_ : size);  // bytes before the file
      } else {
        n = static_cast<size_t>(end - at_ < size ? end - at_ : size);
        VEK_TRY(out_.Write(data, n));
        crc_ = Crc32(crc_, data, n);
      }
      at_ += n;
      data += n;
      size -= n;
    }
  }

  // Begins the next file where the bytes reach it, ends the one open where they reach
  // its end (a file of 0 bytes both at once).
  Error Advance() {
    for (; next_ < count_;) {
      if (!open_) {
        if (!reader_.FindEntry(static_cast<int32_t>(ids_[next_]), &entry_)) {
          entry_ = ArchiveEntry{};
          entry_.id = static_cast<uint16_t>(ids_[next_]);
        }
        // (A file that began inside the one before it, which the checks for shared
        // bytes refuse, gets the bytes from here on: fewer than its own, and fails.)
        if (at_ < entry_.data_offset) return NoError();
        VEK_TRY(out_.Begin(entry_));
        open_ = true;
        crc_ = 0;
      }
      if (at_ < uint64_t{entry_.data_offset} + entry_.original_size) return NoError();
      open_ = false;
      VEK_TRY(out_.End(entry_, crc_ == entry_.crc ? NoError() : GeneralError(kDataDamaged)));
      ++next_;  // (left at a file whose End stopped the decoding: it names the fault)
    }
    return NoError();
  }

  // The stream failed: the file open and those not reached end with the fault.
  Error Fail(const Error& fault) {
    for (; next_ < count_; ++next_) {
      if (!open_ && !reader_.FindEntry(static_cast<int32_t>(ids_[next_]), &entry_)) continue;
      open_ = false;
      VEK_TRY(out_.End(entry_, fault));
    }
    return NoError();
  }

  uint32_t current() const { return next_ < count_ ? ids_[next_] : 0; }
  bool complete() const { return next_ >= count_; }

 private:
  const ArchiveReader& reader_;
  const uint32_t* ids_;
  const uint32_t count_;
  BlockFileSink& out_;
  uint32_t next_ = 0;
  bool open_ = false;
  ArchiveEntry entry_;
  uint64_t at_ = 0;  // in the block's decoded bytes
  uint32_t crc_ = 0;
};

}  // namespace

SolidPlan::~SolidPlan() {
  free(ids_);
  free(first_);
}

bool SolidPlan::Make(const ArchiveReader& reader) {
  free(ids_);
  free(first_);
  blocks_ = reader.SolidBlockCount();
  const uint32_t n = reader.GetEntryCount();
  first_ = static_cast<uint32_t*>(calloc(size_t{blocks_} + 1, sizeof(uint32_t)));
  ids_ = static_cast<uint32_t*>(malloc((size_t{n} + 1) * sizeof(uint32_t)));
  Placed* placed = static_cast<Placed*>(malloc((size_t{n} + 1) * sizeof(Placed)));
  bool made = first_ && ids_ && placed;
  // The solid files sorted by block and place; each block's first in that order.
  uint32_t count = 0;
  ArchiveEntry entry;
  for (uint32_t id = 1; made && id <= n; ++id) {
    if (reader.FindEntry(static_cast<int32_t>(id), &entry) && entry.id == id && entry.method == kMethodLzmaSolid) {
      placed[count++] = {entry.block, entry.data_offset, id};
    }
  }
  if (made) qsort(placed, count, sizeof(Placed), ByPlace);
  for (uint32_t i = 0, b = 0; made && b <= blocks_; ++b) {
    first_[b] = i;
    while (i < count && placed[i].block == b) ids_[i] = placed[i].id, ++i;
  }
  free(placed);
  return made;
}

uint32_t FirstFileOfBlock(const ArchiveReader& reader, uint32_t block) {
  const uint32_t n = reader.GetEntryCount();
  ArchiveEntry entry;
  for (uint32_t id = 1; id <= n; ++id) {
    if (reader.FindEntry(static_cast<int32_t>(id), &entry) && entry.method == kMethodLzmaSolid &&
        entry.block == block) {
      return id;
    }
  }
  return 0;
}

Error DecodeBlock(const ArchiveReader& reader, ArchiveFile& file, uint32_t block, const uint32_t* ids, uint32_t count,
                  BlockFileSink& out, uint32_t* slot) {
  const SolidBlock b = reader.GetSolidBlock(block);
  Router router(reader, ids, count, out);
  LzmaBlockDecoder decoder;
  unsigned char* piece = static_cast<unsigned char*>(malloc(kStoredPiece));
  Error error = piece ? decoder.Open(b.props, b.decoded_size) : OutOfMemoryError();
  if (!error) error = file.edge->Seek(file.handle, static_cast<int64_t>(reader.DataStart() + b.stored_offset));
  for (uint32_t left = b.stored_size; !error && left > 0;) {
    uint32_t done = 0;
    error = file.edge->Read(file.handle, piece, left < kStoredPiece ? left : kStoredPiece, &done);
    if (!error && done == 0) error = InOutError(kIoReadBeyondEnd);
    if (!error) error = decoder.Feed(piece, done, done == left, router);
    left -= done;
  }
  free(piece);
  if (!error) error = decoder.Finish();
  if (!error) error = router.Advance();                                        // the files of 0 bytes at the very end
  if (!error && !router.complete()) error = GeneralError(kBadCompressedData);  // (the reader's checks refuse that)
  *slot = router.current();
  if (!error) return NoError();
  // Each file not complete takes the fault (a sink that writes removes the one open
  // and stops at it); when all were, the block itself is at fault (it runs long, or
  // ends short of its size), named by its last file.
  if (router.complete()) {
    *slot = count ? ids[count - 1] : 0;
    return error;
  }
  error = router.Fail(error);
  *slot = router.current();
  return error;
}

BlockExtraction::~BlockExtraction() {
  if (file_ != kNoFile) (void)tree_.Close(file_);
}

namespace {

struct Held {
  SpinLock& lock;
  explicit Held(SpinLock& l) : lock(l) { lock.Lock(); }
  ~Held() { lock.Unlock(); }
};

}  // namespace

Error BlockExtraction::Begin(const ArchiveEntry& entry) {
  Held held(shared_.lock);
  if (reader_.CheckEntryPathBelow(destination_, entry.id) != PathSafety::kSafe) return InOutError(kIoInvalidFilename);
  path_ = destination_ + reader_.GetEntryPath(entry.id, tree_.Separator());
  if (path_.failed()) return OutOfMemoryError();
  return tree_.CreateEntryFile(path_.c_str(), destination_.size(), reader_.file().handle, &file_);
}

Error BlockExtraction::Write(const unsigned char* data, size_t size) {
  // Another thread's fault stops this one (its file removed: it is not complete).
  if (__atomic_load_n(&shared_.stopped, __ATOMIC_ACQUIRE)) return GeneralError(kArchiveDamaged);
  uint32_t done = 0;
  const Error error = tree_.Write(file_, data, static_cast<uint32_t>(size), &done);
  const uint64_t all = __atomic_add_fetch(&shared_.written, done, __ATOMIC_RELAXED);
  if (caller_ && shared_.run.progress) shared_.run.progress(shared_.run.context, all);
  VEK_TRY(error);
  return done == size ? NoError() : InOutError(kWinErrorDiskFull);
}

Error BlockExtraction::End(const ArchiveEntry& entry, const Error& outcome) {
  Held held(shared_.lock);
  Error error = outcome;
  if (file_ != kNoFile) {  // (else never begun)
    const FileHandle file = file_;
    file_ = kNoFile;
    if (outcome) {
      // Nothing of a file that failed its check, or was cut short, stays under its name.
      (void)tree_.Close(file);
      (void)tree_.RemoveFile(path_.c_str());
    } else {
      error = tree_.FinishEntryFile(file, path_.c_str(), entry.time_stamp, entry.attributes);
    }
  }
  if (shared_.run.ended) shared_.run.ended(shared_.run.context, entry, error);
  return error;
}

namespace {

// The most threads that work side by side, the caller's among them.
constexpr uint32_t kMaxBlockThreads = 8;

// What the threads share: the next block to take, the bytes written, the first fault.
struct BlockShare {
  BlockShare(ArchiveReader& r, FileEdge& e, const AnsiString& d, const SolidPlan& p)
      : reader(r), edge(e), destination(d), plan(p) {}
  ArchiveReader& reader;
  FileEdge& edge;
  const AnsiString& destination;
  const SolidPlan& plan;
  BlockFiles files;
  uint32_t next = 0;
  Error error = NoError();
  uint32_t slot = 0;
};

// One thread's part: blocks taken until none is left or one failed.
void Decode(BlockShare& share, ArchiveFile& file, bool caller) {
  BlockExtraction files(share.reader, share.edge, share.destination, share.files, caller);
  for (;;) {
    const uint32_t block = __atomic_fetch_add(&share.next, 1, __ATOMIC_RELAXED);
    if (block >= share.plan.blocks() || __atomic_load_n(&share.files.stopped, __ATOMIC_ACQUIRE)) return;
    uint32_t count = 0;
    const uint32_t* ids = share.plan.Files(block, &count);
    uint32_t slot = 0;
    const Error error = DecodeBlock(share.reader, file, block, ids, count, files, &slot);
    if (error) {
      Held held(share.files.lock);
      if (!share.files.stopped) {
        share.error = error;
        share.slot = slot;
        __atomic_store_n(&share.files.stopped, true, __ATOMIC_RELEASE);
      }
      return;
    }
  }
}

void DecodeOn(void* context, ArchiveFile& file, bool caller) {
  Decode(*static_cast<BlockShare*>(context), file, caller);
}

struct Beside {
  void (*work)(void*, ArchiveFile&, bool);
  void* context;
  ArchiveFile file;
  ThreadHandle thread;
};

void RunBeside(void* context) {
  auto* beside = static_cast<Beside*>(context);
  beside->work(beside->context, beside->file, false);
}

}  // namespace

void RunSideBySide(Threads& threads, ArchiveFiles& edge, const char* path, ArchiveFile& own, uint32_t count,
                   void (*work)(void* context, ArchiveFile& file, bool caller), void* context) {
  uint32_t wanted = threads.Processors();
  if (wanted > count) wanted = count;
  if (wanted > kMaxBlockThreads) wanted = kMaxBlockThreads;
  Beside beside[kMaxBlockThreads - 1];
  uint32_t started = 0;
  for (; started + 1 < wanted; ++started) {
    Beside& b = beside[started];
    b = {work, context, {&edge, kNoFile}, kNoThread};
    if (edge.OpenRead(path, &b.file.handle)) break;
    if (!threads.Start(&RunBeside, &b, &b.thread)) {
      (void)edge.Close(b.file.handle);
      break;
    }
  }
  work(context, own, true);
  for (uint32_t i = 0; i < started; ++i) {
    threads.Join(beside[i].thread);
    (void)edge.Close(beside[i].file.handle);
  }
}

Error ExtractBlocks(ArchiveReader& reader, FileEdge& edge, Threads& threads, const char* archive_path,
                    const AnsiString& destination, const SolidPlan& plan, const BlockRun& run, uint32_t* slot) {
  BlockShare share(reader, edge, destination, plan);
  share.files.run = run;
  RunSideBySide(threads, edge, archive_path, reader.file(), plan.blocks(), &DecodeOn, &share);
  *slot = share.slot;
  return share.error;
}

}  // namespace vek
