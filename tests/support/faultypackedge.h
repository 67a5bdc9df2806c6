// A pack edge that wraps the real one and fails one call, whichever it is: the n-th
// call made through it gets the error instead of its outcome. A test sweeps n = 1, 2,
// ... until a run makes no n-th call; the edge also counts what is left open.
#pragma once

#include <functional>

#include "packedge.h"

namespace vek::testing {

class FaultyPackEdge final : public PackEdge {
 public:
  FaultyPackEdge(PackEdge& inner, int fail_call, uint32_t code) : inner_(inner), fail_call_(fail_call), code_(code) {}

  bool fired() const { return calls_ >= fail_call_; }
  // Called after each open file's facts were taken: a test changes the file there.
  std::function<void()> after_file_facts;
  int open_files() const { return files_; }
  int open_folders() const { return folders_; }

  Error OpenFolder(FolderHandle parent, const char* path, FolderHandle* folder, PathFacts* facts) override {
    if (Fault()) return InOutError(code_);
    return Opened(inner_.OpenFolder(parent, path, folder, facts), &folders_);
  }
  void CloseFolder(FolderHandle folder) override {
    --folders_;
    inner_.CloseFolder(folder);
  }
  Error ListFolder(FolderHandle folder, std::vector<ListedName>* names) override {
    return Fault() ? InOutError(code_) : inner_.ListFolder(folder, names);
  }
  Error Examine(FolderHandle folder, const char* name, PathFacts* facts) override {
    return Fault() ? InOutError(code_) : inner_.Examine(folder, name, facts);
  }
  Error OpenRead(FolderHandle folder, const char* name, FileHandle* file) override {
    if (Fault()) return InOutError(code_);
    return Opened(inner_.OpenRead(folder, name, file), &files_);
  }
  Error FileFacts(FileHandle file, PathFacts* facts) override {
    if (Fault()) return InOutError(code_);
    Error e = inner_.FileFacts(file, facts);
    if (after_file_facts) after_file_facts();
    return e;
  }
  Error Read(FileHandle file, void* buffer, size_t count, size_t* done) override {
    return Fault() ? InOutError(code_) : inner_.Read(file, buffer, count, done);
  }
  // The handle is released even when the close fails.
  Error Close(FileHandle file) override {
    Error e = inner_.Close(file);
    --files_;
    return Fault() ? InOutError(code_) : e;
  }
  Error CreateExclusive(const char* path, FileHandle* file) override {
    if (Fault()) return InOutError(code_);
    return Opened(inner_.CreateExclusive(path, file), &files_);
  }
  Error WriteAt(FileHandle file, uint64_t offset, const void* data, size_t count) override {
    return Fault() ? InOutError(code_) : inner_.WriteAt(file, offset, data, count);
  }
  Error CopyRange(FileHandle from, FileHandle to, uint64_t offset, uint64_t count, uint64_t* done) override {
    *done = 0;
    return Fault() ? InOutError(code_) : inner_.CopyRange(from, to, offset, count, done);
  }
  Error Commit(FileHandle file) override { return Fault() ? InOutError(code_) : inner_.Commit(file); }
  Error Rename(const char* from, const char* to) override {
    return Fault() ? InOutError(code_) : inner_.Rename(from, to);
  }
  Error Remove(const char* path) override { return Fault() ? InOutError(code_) : inner_.Remove(path); }
  Error SyncFolderOf(const char* path) override { return Fault() ? InOutError(code_) : inner_.SyncFolderOf(path); }
  void RemoveOnInterrupt(const char* path) override { inner_.RemoveOnInterrupt(path); }

 private:
  bool Fault() { return ++calls_ == fail_call_; }
  static Error Opened(Error e, int* count) {
    if (e.ok()) ++*count;
    return e;
  }
  PackEdge& inner_;
  const int fail_call_;
  const uint32_t code_;
  int calls_ = 0;
  int files_ = 0;
  int folders_ = 0;
};

}  // namespace vek::testing
