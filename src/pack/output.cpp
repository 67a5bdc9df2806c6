#include "output.h"

#include <stdio.h>

#include <chrono>
#include <random>

#include "archivesink.h"
#include "errorwords.h"

namespace vek::build {
namespace {

constexpr int kNameAttempts = 100;

uint64_t RandomName() {
  static std::mt19937_64 names([] {
    std::random_device device;
    uint64_t seed = (uint64_t{device()} << 32) ^ device();
    return seed ^ static_cast<uint64_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count());
  }());
  return names();
}

}  // namespace

TemporaryOutput::TemporaryOutput(PackEdge& edge, std::string output) : edge_(edge), output_(std::move(output)) {
  Error error;
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    char suffix[40];
    snprintf(suffix, sizeof suffix, ".vekpack-%016llx.tmp", static_cast<unsigned long long>(RandomName()));
    temporary_ = output_ + suffix;
    error = edge_.CreateExclusive(temporary_.c_str(), &file_);
    if (error.ok()) {
      edge_.RemoveOnInterrupt(temporary_.c_str());
      return;
    }
    if (error.code != kWinErrorFileExists && error.code != kWinErrorAlreadyExists) break;
  }
  file_ = kNoFile;
  done_ = true;
  throw BuildError(output_ + ": cannot create the output: " + tools::ErrorInWords(error));
}

TemporaryOutput::~TemporaryOutput() {
  if (done_) return;
  if (file_ != kNoFile) (void)edge_.Close(file_);
  (void)edge_.Remove(temporary_.c_str());
  edge_.RemoveOnInterrupt(nullptr);
}

void TemporaryOutput::Fail(const char* what, const Error& error) {
  throw BuildError(output_ + ": cannot " + what + ": " + tools::ErrorInWords(error));
}

void TemporaryOutput::Replace() {
  Error error = edge_.Commit(file_);
  if (!error.ok()) Fail("write", error);
  FileHandle closing = file_;
  file_ = kNoFile;
  error = edge_.Close(closing);
  if (!error.ok()) Fail("write", error);
  error = edge_.Rename(temporary_.c_str(), output_.c_str());
  if (!error.ok()) Fail("replace the output", error);
  done_ = true;
  edge_.RemoveOnInterrupt(nullptr);
  (void)edge_.SyncFolderOf(output_.c_str());  // the output is in place; a crash may yet lose the rename
}

}  // namespace vek::build
