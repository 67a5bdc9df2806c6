// Extraction: the folders on the way and the entries' directories and files.
#include "extractor.h"

#include <stdlib.h>
#include <string.h>

#include "crc32.h"
#include "inflate.h"
#include "messagebox.h"
#include "solid.h"

namespace vek {
namespace {

// A file being written below the destination.
struct OutputFile {
  TreeMaker& tree;
  FileHandle handle;
};

// Closes an output file that an error leaves behind, so that it can be replaced later.
Error Abandon(OutputFile& output, Error error) {
  (void)output.tree.Close(output.handle);
  output.handle = kNoFile;
  return error;
}

// Copies count bytes from the archive to the output. A refusal by the platform
// comes back as it is. A transfer that comes out short sets *shortfall: data cut
// short is the input/output error 100, a write that stops short a full disk.
Error CopyBlock(ArchiveFile& archive, OutputFile& output, char* buffer, uint32_t count, uint32_t* written,
                Error* shortfall) {
  uint32_t read = 0;
  VEK_TRY(output.tree.CopyBlock(archive.handle, output.handle, buffer, count, &read, written));
  if (*written < read) {
    *shortfall = InOutError(kWinErrorDiskFull);
  } else if (read < count) {
    *shortfall = InOutError(kIoReadBeyondEnd);
  }
  return NoError();
}

// A verified copy (vek extract's) takes the stored bytes in blocks of this size: a
// large file costs a read and a write a MiB, each straight between the files and the
// buffer. The stub never verifies as it extracts, and keeps to kCopyBlockSize.
constexpr uint32_t kVerifiedBlockSize = 1 << 20;

// The stored bytes of one entry, read from the archive in blocks, their checksum
// computed on the way.
class StoredBytes final : public InflateSource {
 public:
  StoredBytes(ArchiveFile& archive, unsigned char* buffer, uint32_t block, uint32_t size)
      : archive_(archive), buffer_(buffer), block_(block), left_(size) {}
  Error Next(const unsigned char** data, size_t* size) override {
    *data = buffer_;
    *size = 0;
    if (left_ == 0) return NoError();
    const uint32_t want = left_ < block_ ? left_ : block_;
    uint32_t got = 0;
    VEK_TRY(archive_.edge->Read(archive_.handle, buffer_, want, &got));
    if (got == 0) return InOutError(kIoReadBeyondEnd);
    crc_ = Crc32(crc_, buffer_, got);
    left_ -= got;
    *size = got;
    return NoError();
  }
  uint32_t crc() const { return crc_; }

 private:
  ArchiveFile& archive_;
  unsigned char* buffer_;
  const uint32_t block_;
  uint32_t left_;
  uint32_t crc_ = 0;
};

// Writes each piece whole to the output file; a write that stops short is a full disk.
class OutputSink final : public InflateSink {
 public:
  explicit OutputSink(OutputFile& output) : output_(output) {}
  Error Put(const unsigned char* data, size_t size) override {
    uint32_t written = 0;
    VEK_TRY(output_.tree.Write(output_.handle, data, static_cast<uint32_t>(size), &written));
    return written == size ? NoError() : InOutError(kWinErrorDiskFull);
  }

 private:
  OutputFile& output_;
};

// Writes a deflated file, inflated, or a stored one; with verify its stored bytes
// are compared with their checksum at the end.
Error CopyChecked(ArchiveFile& archive, OutputFile& output, const ArchiveEntry& entry, bool verify, CopyRoom* room) {
  const bool deflated = kInflates && entry.method == kMethodDeflate;
  const uint32_t block = verify ? kVerifiedBlockSize : kCopyBlockSize;
  // A room is taken whole at once (its pages come in as they are first used), so
  // that it never moves as larger files come.
  unsigned char* buffer = room ? room->Get(kVerifiedBlockSize + kInflateWindowSize)
                               : static_cast<unsigned char*>(malloc(block + (deflated ? kInflateWindowSize : 0)));
  if (!buffer) return OutOfMemoryError();
  StoredBytes stored(archive, buffer, block, static_cast<uint32_t>(entry.size));
  OutputSink sink(output);
  Error error = NoError();
  if (deflated) {
    error = InflateStream(stored, sink, entry.original_size, buffer + block);
  } else {
    for (;;) {
      const unsigned char* data = nullptr;
      size_t size = 0;
      error = stored.Next(&data, &size);
      if (error || size == 0) break;
      error = sink.Put(data, size);
      if (error) break;
    }
  }
  bool complete = !error;
  if (verify && error == GeneralError(kBadCompressedData)) {
    // A stream that failed is named by its checksum when its bytes are not those packed.
    const unsigned char* rest = nullptr;
    size_t more = 1;
    Error drained = NoError();
    while (more > 0 && !drained) drained = stored.Next(&rest, &more);
    complete = !drained;
  }
  if (!room) free(buffer);
  if (complete && verify && stored.crc() != entry.crc) error = GeneralError(kDataDamaged);
  return error;
}

}  // namespace

unsigned char* CopyRoom::Get(size_t size) {
  if (size > size_) {
    free(bytes_);
    size_ = 0;
    bytes_ = static_cast<unsigned char*>(malloc(size));
    if (bytes_) size_ = size;
  }
  return bytes_;
}

Error ForceDirectoryChain(const char* path, TreeMaker& edge) {
  // Try the path itself first: mostly its parent is there, and one call does. Else
  // walk up from the path to the first directory that exists (or a drive, or a path
  // that is its own parent), then create the missing ones outermost first. One copy
  // of the path serves every level: a level is the path cut short by a zero byte
  // written over the separator that ends it, and the separators are found by one scan
  // from the start, so the work grows with the path's length and not with its square.
  // On Windows "/" separates too, and ":" ends a drive.
  const char separator = edge.Separator();
  const bool windows = separator == '\\';
  size_t n = strlen(path);
  if (n == 0) return GeneralError(kUnableToCreateDirectory);
  char* p = static_cast<char*>(malloc(n + 1));
  size_t* separators = static_cast<size_t*>(malloc((n + 1) * sizeof(size_t)));
  size_t* levels = static_cast<size_t*>(malloc((n + 1) * sizeof(size_t)));  // lengths to create
  if (!p || !separators || !levels) {
    free(p);
    free(separators);
    free(levels);
    return OutOfMemoryError();
  }
  memcpy(p, path, n + 1);
  size_t count = 0;
  for (size_t i = 0; i < n; ++i) {
    if (p[i] == separator || (windows && (p[i] == '/' || p[i] == ':'))) separators[count++] = i;
  }
  // The path's first `length` bytes, as a string, for the duration of one call.
  auto cut = [p](size_t length) {
    char saved = p[length];
    p[length] = 0;
    return saved;
  };
  auto is_directory = [&](size_t length) {
    char saved = cut(length);
    uint32_t attributes = 0;
    bool yes = edge.GetAttributes(p, &attributes) && (attributes & kAttrDirectory);
    p[length] = saved;
    return yes;
  };

  Error result = NoError();
  size_t depth = 0;
  size_t length = n;
  size_t k = count;  // separators before `length`
  for (bool first = true;; first = false) {
    if (length == 0) {
      result = GeneralError(kUnableToCreateDirectory);
      break;
    }
    while (k > 0 && separators[k - 1] >= length) --k;
    if (k > 0 && separators[k - 1] == length - 1 && p[length - 1] != ':') {
      --length;  // one trailing separator goes
      --k;
    }
    if (length < 3) break;
    size_t parent_length = k > 0 ? separators[k - 1] + 1 : 0;
    // (Not for a bare relative name, whose missing parent is an error.)
    if (first && parent_length != 0 && parent_length != length) {
      char saved = cut(length);
      bool made = edge.MakeDirectory(p).ok();
      p[length] = saved;
      if (made) break;
    }
    if (is_directory(length)) break;
    if (parent_length == length) break;  // the path is its own parent
    levels[depth++] = length;
    length = parent_length;
  }
  while (result.ok() && depth > 0) {
    size_t level = levels[--depth];
    char saved = cut(level);
    Error made = edge.MakeDirectory(p);
    p[level] = saved;
    // A directory that is there after all (made meanwhile) is as good as a new one.
    if (made && !is_directory(level)) result = made;
  }
  free(p);
  free(separators);
  free(levels);
  return result;
}

Error ForceDestination(const AnsiString& destination, TreeMaker& edge) {
  VEK_TRY(ForceDirectoryChain(destination, edge));
  uint32_t attributes = 0;
  if (!edge.GetAttributes(destination.c_str(), &attributes) || !(attributes & kAttrDirectory)) {
    return InOutError(kWinErrorPathNotFound);
  }
  return NoError();
}

Error ExtractFileEntry(ArchiveReader& reader, TreeMaker& tree, const ArchiveEntry& entry, const AnsiString& destination,
                       DataCheck check, CopyRoom* room) {
  if (entry.method == kMethodInvalid) return GeneralError(kArchiveDamaged);
  ArchiveFile& archive = reader.file();
  AnsiString full = destination + reader.GetEntryPath(entry.id, tree.Separator());
  if (full.failed()) return OutOfMemoryError();
  if (entry.method == kMethodLzmaSolid) return GeneralError(kArchiveDamaged);  // (its block writes it: solid.h)
  const bool verify = check == DataCheck::kVerify && entry.checked;
  if ((verify || (kInflates && entry.method == kMethodDeflate)) && entry.size >= 0) {
    OutputFile output{tree, kNoFile};
    VEK_TRY(tree.CreateEntryFile(full.c_str(), destination.size(), archive.handle, &output.handle));
    Error error = archive.edge->Seek(archive.handle, static_cast<int64_t>(reader.DataStart() + entry.data_offset));
    if (!error) error = CopyChecked(archive, output, entry, verify, room);
    if (error) {
      // Nothing of a file that failed its check, or was cut short, stays under its name.
      (void)Abandon(output, NoError());
      (void)tree.RemoveFile(full.c_str());
      return error;
    }
    return tree.FinishEntryFile(output.handle, full.c_str(), entry.time_stamp, entry.attributes);
  }
  const int32_t full_blocks = entry.size / static_cast<int32_t>(kCopyBlockSize);
  const int32_t remainder = entry.size - static_cast<int32_t>(kCopyBlockSize) * full_blocks;

  OutputFile output{tree, kNoFile};
  VEK_TRY(tree.CreateEntryFile(full.c_str(), destination.size(), archive.handle, &output.handle));
  // Data past the end of the file reads short below.
  Error error = archive.edge->Seek(archive.handle, static_cast<int64_t>(reader.DataStart() + entry.data_offset));
  if (error) return Abandon(output, error);

  char* buffer = nullptr;
  if (full_blocks > 0 || remainder > 0) {
    buffer = static_cast<char*>(malloc(kCopyBlockSize));
    if (!buffer) return Abandon(output, OutOfMemoryError());
  }
  // The copy stops at the first block that fails or comes out short.
  bool wrote = false;
  uint32_t last_written = 0;
  Error shortfall = NoError();
  for (int32_t block = 0; block < full_blocks && error.ok() && shortfall.ok(); ++block) {
    error = CopyBlock(archive, output, buffer, kCopyBlockSize, &last_written, &shortfall);
    wrote = true;
  }
  if (error.ok() && shortfall.ok() && remainder > 0) {
    error = CopyBlock(archive, output, buffer, static_cast<uint32_t>(remainder), &last_written, &shortfall);
    wrote = true;
  }
  free(buffer);
  if (error) return Abandon(output, error);
  if (wrote && last_written == 0) ShowMessageBox(kErrorWritingFile, MessageKind::kError);
  if (shortfall) return Abandon(output, shortfall);

  // The time goes before the attributes: a read-only file could not take it after.
  return tree.FinishEntryFile(output.handle, full.c_str(), entry.time_stamp, entry.attributes);
}

uint64_t TotalOriginalSize(const ArchiveReader& reader) {
  uint64_t total = 0;
  const uint32_t n = reader.GetEntryCount();
  for (uint32_t id = 1; id <= n; ++id) {
    ArchiveEntry entry;
    if (reader.FindEntry(static_cast<int32_t>(id), &entry) && entry.id == id && entry.kind == kEntryKindFile &&
        entry.size >= 0) {
      total += entry.original_size;
    }
  }
  return total;
}

Error ExtractEntry(ArchiveReader& reader, TreeMaker& tree, int32_t id, const AnsiString& destination, DataCheck check,
                   CopyRoom* room) {
  ArchiveEntry entry;
  reader.FindEntry(id, &entry);
  if (entry.kind != kEntryKindDirectory && entry.kind != kEntryKindFile) return NoError();
  if (reader.CheckEntryPathBelow(destination, id) != PathSafety::kSafe) return InOutError(kIoInvalidFilename);
  if (entry.kind == kEntryKindDirectory) {
    AnsiString full = destination + reader.GetEntryPath(id, tree.Separator());
    if (full.failed()) return OutOfMemoryError();
    return tree.MakeEntryFolder(full.c_str(), full.size(), destination.size());
  }
  return ExtractFileEntry(reader, tree, entry, destination, check, room);
}

}  // namespace vek
