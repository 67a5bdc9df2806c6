#include "beside.h"

#include <stdio.h>
#include <time.h>

#include <algorithm>

namespace vek::tools {
namespace {

// On Windows: a symbolic link or junction, which the inner edge replaces itself.
constexpr uint32_t kAttrReparsePoint = 0x400;
constexpr uint32_t kKeptAsTheyAre = kAttrDirectory | kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrReparsePoint;
// Fresh names tried before the file is given up.
constexpr int kNameAttempts = 64;

}  // namespace

WriteBeside::WriteBeside(FileEdge& inner, PackEdge& pack, const std::string& archive_path)
    : inner_(inner),
      pack_(pack),
      archive_path_(archive_path),
      serial_(static_cast<uint32_t>(time(nullptr)) * 2654435761u) {}

std::vector<WriteBeside::Beside>::iterator WriteBeside::Find(FileHandle file) {
  return std::find_if(open_.begin(), open_.end(), [file](const Beside& b) { return b.file == file; });
}

Error WriteBeside::CreateEntryFile(const char* path, size_t destination_length, FileHandle archive, FileHandle* file) {
  abandoned_.clear();
  uint32_t attributes = 0;
  PathFacts existing, source;
  if (!inner_.GetAttributes(path, &attributes) || (attributes & kKeptAsTheyAre) ||
      !pack_.Examine(kNoFolder, path, &existing).ok() || existing.kind != FileKind::kFile ||
      (pack_.Examine(kNoFolder, archive_path_.c_str(), &source).ok() && existing.SameFileAs(source))) {
    return inner_.CreateEntryFile(path, destination_length, archive, file);
  }
  const std::string name = path;
  const size_t folder = name.rfind(inner_.Separator());
  if (folder == std::string::npos || folder < destination_length) {
    return inner_.CreateEntryFile(path, destination_length, archive, file);
  }
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    char leaf[32];
    snprintf(leaf, sizeof leaf, ".vek%08x.tmp", static_cast<unsigned>(serial_ += 0x9E3779B9u));
    const std::string temporary = name.substr(0, folder + 1) + leaf;
    uint32_t taken = 0;
    if (inner_.GetAttributes(temporary.c_str(), &taken)) continue;
    // Made new through the inner edge, never through a link.
    VEK_TRY(inner_.CreateEntryFile(temporary.c_str(), destination_length, archive, file));
    open_.push_back({*file, name, temporary});
    return NoError();
  }
  return InOutError(kWinErrorFileExists);
}

Error WriteBeside::FinishEntryFile(FileHandle file, const char* path, uint32_t dos_time_stamp, uint32_t attributes) {
  const auto it = Find(file);
  if (it == open_.end()) return inner_.FinishEntryFile(file, path, dos_time_stamp, attributes);
  const Beside beside = *it;
  open_.erase(it);
  Error error = inner_.FinishEntryFile(file, beside.temporary.c_str(), dos_time_stamp, attributes);
  if (!error) error = pack_.Rename(beside.temporary.c_str(), beside.path.c_str());
  if (error) (void)inner_.RemoveFile(beside.temporary.c_str());
  return error;
}

Error WriteBeside::Close(FileHandle file) {
  const auto it = Find(file);
  if (it == open_.end()) return inner_.Close(file);
  const Beside beside = *it;
  open_.erase(it);
  const Error error = inner_.Close(file);
  (void)inner_.RemoveFile(beside.temporary.c_str());
  abandoned_ = beside.path;
  return error;
}

Error WriteBeside::RemoveFile(const char* path) {
  if (!abandoned_.empty() && abandoned_ == path) {
    abandoned_.clear();
    return NoError();
  }
  return inner_.RemoveFile(path);
}

}  // namespace vek::tools
