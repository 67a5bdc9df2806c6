// The file edge: every file-system operation of the reader and the extractor goes
// through this interface. One implementation per platform (fileedge_posix.cpp,
// fileedge_win32.cpp) is picked by the build; tests wrap it to inject faults.
//
// Paths are the platform's own, with its separator (Separator()): on Windows UTF-8
// with "\\" (the Win32 edge hands them to the wide functions as UTF-16, long ones in
// the long form, winpath.h), on POSIX the bytes the file system takes, with "/",
// passed through untouched. An entry's names below a destination are UTF-8 on every
// platform (the reader's paths). Platform error codes are translated here into
// Windows error codes, so an input/output error carries the same code on every
// platform (5 "File access denied", ...).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "error.h"

namespace vek {

// An open file. The value is the edge's own; kNoFile marks none.
using FileHandle = intptr_t;
inline constexpr FileHandle kNoFile = -1;

// Windows file attribute bits used by the system.
inline constexpr uint32_t kAttrReadOnly = 0x01;
inline constexpr uint32_t kAttrHidden = 0x02;
inline constexpr uint32_t kAttrSystem = 0x04;
inline constexpr uint32_t kAttrDirectory = 0x10;
inline constexpr uint32_t kAttrArchive = 0x20;

// The failure of an entry whose file is the archive being read.
inline constexpr char kOverwritesArchive[] = "The entry would overwrite the archive being read";
// The failure of an entry where a link stands in the destination that cannot be removed.
inline constexpr char kLinkInTheWay[] = "A link in the destination could not be replaced";
// The failure of an entry whose way leads through a folder that was found real in
// this run and has since been replaced by a link, or that resolves elsewhere than
// below the destination.
inline constexpr char kFolderSwapped[] = "A folder below the destination was replaced during extraction";
// The failure of an entry whose name, opened, leads to another file or folder than
// its own below the destination: through a link or junction (one swapped in
// meanwhile included), or as the short name (8.3 alias) of another entry's.
inline constexpr char kNameLeadsElsewhere[] =
    "The entry's name leads elsewhere than its own place below the destination (through a link, or as a short name)";

class FileEdge {
 public:
  virtual ~FileEdge() = default;

  // The separator of this edge's paths: "\\" (and "/" read as one, and ":" after a
  // drive) on Windows and in the edges of tests that stand in for it, "/" on POSIX.
  virtual char Separator() const { return '\\'; }

  // Opens an existing file for reading only; others may read and write it meanwhile.
  virtual Error OpenRead(const char* path, FileHandle* file) = 0;
  // Creates a file for reading and writing (an existing one is truncated to 0 bytes),
  // shared for reading and writing, normal attributes.
  virtual Error Create(const char* path, FileHandle* file) = 0;
  // Positions the file at offset bytes from its beginning; a negative offset is
  // refused (131). A position past the end is allowed: reads there deliver nothing.
  virtual Error Seek(FileHandle file, int64_t offset) = 0;
  // Reads up to count bytes; *done receives how many came (0 at the end of the file).
  virtual Error Read(FileHandle file, void* buffer, uint32_t count, uint32_t* done) = 0;
  // Writes count bytes; *done receives how many the platform reports as written. A
  // failure after part of the bytes went is still a failure (*done tells how many).
  virtual Error Write(FileHandle file, const void* buffer, uint32_t count, uint32_t* done) = 0;
  virtual Error Close(FileHandle file) = 0;
  // Starts work(context) on a thread of its own, for reading beside the caller
  // (each side through a handle of its own); false when this edge cannot, or when the
  // machine has one processor, and the caller then does all the work itself.
  // WaitBeside waits for the work started last.
  virtual bool StartBeside(void (*work)(void* context), void* context) { return false; }
  virtual void WaitBeside() {}
  // Copies one block: reads up to count bytes from `from` and writes to `to` exactly
  // what the read delivered, as Read then Write through buffer (room for count
  // bytes) would; *read receives what the read delivered and *written what the write
  // reports. An edge with a faster way of copying between files overrides it.
  virtual Error CopyBlock(FileHandle from, FileHandle to, void* buffer, uint32_t count, uint32_t* read,
                          uint32_t* written) {
    *read = 0;
    *written = 0;
    VEK_TRY(Read(from, buffer, count, read));
    return Write(to, buffer, *read, written);
  }

  // ---- Writing the entries below a destination folder ----------------------------
  //
  // The extractor makes each folder and writes each file through these calls. Below
  // the destination nothing that stands in the way is written through: a symbolic
  // link, junction or other reparse point in place of a folder is replaced by a real,
  // empty folder; in place of the file it is removed, as is a file that has other
  // names (hard links), and the file is made anew. The archive being read is never
  // opened for writing. The platforms' edges hold to that while other processes
  // change the destination: what they cannot make below it, they refuse.

  // Makes the folder path[0, length) and the missing ones above it below its first
  // destination_length bytes, as ForceDirectoryChain does (which this default runs).
  virtual Error MakeEntryFolder(const char* path, size_t length, size_t destination_length);
  // Creates the file at path for writing, new and empty, as Create does; its folder
  // must be there (3 when not). An existing read-only file or a folder in its place
  // is refused (5); the file that `archive` reads is refused with kOverwritesArchive.
  virtual Error CreateEntryFile(const char* path, size_t destination_length, FileHandle archive, FileHandle* file) {
    return Create(path, file);
  }
  // Gives the file made by CreateEntryFile its last-write time (MS-DOS stamp, local
  // time) and attributes, and closes it. Only the close's failure is reported; the
  // outcome on disk is that of Close, SetLastWriteTime and SetAttributes in this order.
  virtual Error FinishEntryFile(FileHandle file, const char* path, uint32_t dos_time_stamp, uint32_t attributes) {
    VEK_TRY(Close(file));
    (void)SetLastWriteTime(path, dos_time_stamp);
    (void)SetAttributes(path, attributes);
    return NoError();
  }

  // Removes a file made by CreateEntryFile and closed again, which must not stay (its
  // data proved damaged). The platform's code when it could not be removed.
  virtual Error RemoveFile(const char* path) { return InOutError(kWinErrorInvalidFunction); }
  // The bytes free for this user on the volume that holds path (an existing folder;
  // empty: the current drive's root); false when the platform cannot tell.
  virtual bool FreeSpace(const char* path, uint64_t* bytes) { return false; }

  // ---- What an uninstaller needs -------------------------------------------------------

  // A file's size and last-write time (in the platform's own unit, only ever compared);
  // false when path is no file whose stamp can be read.
  virtual bool FileStamp(const char* path, uint64_t* size, uint64_t* time) { return false; }
  // Removes the folder when it is empty; false when it is not, or cannot be removed.
  virtual bool RemoveEmptyFolder(const char* path) { return false; }
  // How many files and folders there are in the folder itself.
  virtual uint32_t CountEntries(const char* path) { return 0; }

  // Reads a path's attributes; false when they cannot be read (no such path).
  virtual bool GetAttributes(const char* path, uint32_t* attributes) = 0;
  // Makes one directory with default security; the platform's code when it could not
  // be made (183 when something of that name is there already, as on Windows).
  virtual Error MakeDirectory(const char* path) = 0;
  // Gives a path the attribute bits; false on failure.
  virtual bool SetAttributes(const char* path, uint32_t attributes) = 0;
  // Opens an existing file for write access, sets its last-write time to the MS-DOS
  // date (high 16 bits) and time (low 16 bits), taken as local time, and closes it.
  // Creation and access times are left alone. False when any step failed.
  virtual bool SetLastWriteTime(const char* path, uint32_t dos_time_stamp) = 0;
};

// The edge of the platform that this build targets.
FileEdge& PlatformFileEdge();

}  // namespace vek
