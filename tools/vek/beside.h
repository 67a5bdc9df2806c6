// vek extract's file edge: a file that would replace an existing one is written
// beside it first, under a fresh name in its folder, and renamed over it only once
// it is complete and has passed its check. A file that fails leaves the existing one
// as it was.
#pragma once

#include <string>
#include <vector>

#include "fileedge.h"
#include "packedge.h"

namespace vek::tools {

class WriteBeside final : public FileEdge {
 public:
  // Writes through inner; renames through pack. archive_path: the archive being read,
  // which is never renamed over (inner refuses it as it always did).
  WriteBeside(FileEdge& inner, PackEdge& pack, const std::string& archive_path);

  char Separator() const override { return inner_.Separator(); }
  Error OpenRead(const char* path, FileHandle* file) override { return inner_.OpenRead(path, file); }
  Error Seek(FileHandle file, int64_t offset) override { return inner_.Seek(file, offset); }
  Error Read(FileHandle file, void* buffer, uint32_t count, uint32_t* done) override {
    return inner_.Read(file, buffer, count, done);
  }
  bool GetAttributes(const char* path, uint32_t* attributes) override { return inner_.GetAttributes(path, attributes); }
  Error MakeDirectory(const char* path) override { return inner_.MakeDirectory(path); }
  Error MakeEntryFolder(const char* path, size_t length, size_t destination_length) override {
    return inner_.MakeEntryFolder(path, length, destination_length);
  }
  Error Write(FileHandle file, const void* buffer, uint32_t count, uint32_t* done) override {
    return inner_.Write(file, buffer, count, done);
  }
  Error CopyBlock(FileHandle from, FileHandle to, void* buffer, uint32_t count, uint32_t* read,
                  uint32_t* written) override {
    return inner_.CopyBlock(from, to, buffer, count, read, written);
  }
  bool FreeSpace(const char* path, uint64_t* bytes) override { return inner_.FreeSpace(path, bytes); }
  bool SetAttributes(const char* path, uint32_t attributes) override { return inner_.SetAttributes(path, attributes); }
  Error Create(const char* path, FileHandle* file) override { return inner_.Create(path, file); }

  // Over an existing plain file (not the archive, a folder, a read-only, hidden or
  // system file, nor a link on Windows: those go to inner as they are), the file is
  // made under a fresh name beside it.
  Error CreateEntryFile(const char* path, size_t destination_length, FileHandle archive, FileHandle* file) override;
  // Finishes the file under its fresh name, then renames it over the existing one.
  Error FinishEntryFile(FileHandle file, const char* path, uint32_t dos_time_stamp, uint32_t attributes) override;
  // A file written beside is removed when it is closed unfinished; removing it by its
  // own name afterwards leaves the existing file alone.
  Error Close(FileHandle file) override;
  Error RemoveFile(const char* path) override;

 private:
  struct Beside {
    FileHandle file;
    std::string path;       // the existing file's
    std::string temporary;  // the fresh name
  };
  std::vector<Beside>::iterator Find(FileHandle file);
  FileEdge& inner_;
  PackEdge& pack_;
  const std::string archive_path_;
  std::vector<Beside> open_;
  std::string abandoned_;  // the path of the last file removed unfinished
  uint32_t serial_ = 0;
};

}  // namespace vek::tools
