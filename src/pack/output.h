// The output file: written under a temporary name next to it and put in its place
// only when it is complete, so that an old output is replaced whole or not at all.
#pragma once

#include <string>

#include "packedge.h"

namespace vek::build {

class TemporaryOutput {
 public:
  // Creates the temporary file next to output, exclusively and for its owner alone
  // until it is complete: a name that exists already (a file, or a link that someone
  // planted) is never opened; another random name is tried instead. Until the
  // output is replaced, an interrupt, termination or hang-up removes it. Throws
  // BuildError.
  TemporaryOutput(PackEdge& edge, std::string output);
  // Unless Replace succeeded: closes and removes the temporary file.
  ~TemporaryOutput();
  TemporaryOutput(const TemporaryOutput&) = delete;
  TemporaryOutput& operator=(const TemporaryOutput&) = delete;

  FileHandle file() const { return file_; }
  // The temporary file's path, for reading back what was written.
  const std::string& path() const { return temporary_; }
  // Gives the complete file the access a new file gets, puts it on the disk, closes
  // it and renames it over the output; then puts the rename on the disk.
  void Replace();

 private:
  [[noreturn]] void Fail(const char* what, const Error& error);
  PackEdge& edge_;
  std::string output_;
  std::string temporary_;
  FileHandle file_ = kNoFile;
  bool done_ = false;
};

}  // namespace vek::build
