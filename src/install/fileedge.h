// The file edge: every file-system operation of the reader, the extractor and the
// uninstaller goes through these interfaces, and threads are started here too. One
// implementation per platform (fileedge_posix.cpp, fileedge_win32.cpp) is picked by
// the build; tests wrap it to inject faults.
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

// Windows error codes that the edges produce.
inline constexpr uint32_t kWinErrorInvalidFunction = 1;
inline constexpr uint32_t kWinErrorPathNotFound = 3;
inline constexpr uint32_t kWinErrorInvalidHandle = 6;
inline constexpr uint32_t kWinErrorNotEnoughMemory = 8;
inline constexpr uint32_t kWinErrorWriteProtect = 19;
inline constexpr uint32_t kWinErrorSharingViolation = 32;
inline constexpr uint32_t kWinErrorHandleDiskFull = 39;
inline constexpr uint32_t kWinErrorFileExists = 80;
inline constexpr uint32_t kWinErrorInvalidParameter = 87;
inline constexpr uint32_t kWinErrorDiskFull = 112;
inline constexpr uint32_t kWinErrorInvalidName = 123;
inline constexpr uint32_t kWinErrorNegativeSeek = 131;
inline constexpr uint32_t kWinErrorAlreadyExists = 183;
inline constexpr uint32_t kWinErrorFilenameTooLong = 206;
inline constexpr uint32_t kWinErrorIoDevice = 1117;

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

// The edges' calls fall into jobs, each an interface of its own with nothing done by
// default: reading files (ArchiveFiles), looking at paths and making folders
// (Folders), writing a tree of entries below a destination (TreeMaker), what an
// uninstaller asks (UninstallQueries), and running work on threads (Threads). A
// caller takes the jobs it needs, and a test's edge implements or forwards every call
// of each job it stands in for.
//
// Handles are the edge's own: TreeMaker's calls take handles that ArchiveFiles
// opened, so the two are one edge (FileEdge), or a wrapper of both.

// Reading existing files: the archive, an install record, the stub itself.
class ArchiveFiles {
 public:
  // Opens an existing file for reading only; others may read and write it meanwhile.
  virtual Error OpenRead(const char* path, FileHandle* file) = 0;
  // Positions the file at offset bytes from its beginning; a negative offset is
  // refused (131). A position past the end is allowed: reads there deliver nothing.
  virtual Error Seek(FileHandle file, int64_t offset) = 0;
  // Reads up to count bytes; *done receives how many came (0 at the end of the file).
  virtual Error Read(FileHandle file, void* buffer, uint32_t count, uint32_t* done) = 0;
  // Closes a file of this edge's, whichever of its jobs opened it.
  virtual Error Close(FileHandle file) = 0;

 protected:
  ~ArchiveFiles() = default;
};

// Looking at paths and making one folder at a time: what ForceDirectoryChain takes.
class Folders {
 public:
  // The separator of this edge's paths: "\\" (and "/" read as one, and ":" after a
  // drive) on Windows and in the edges of tests that stand in for it, "/" on POSIX.
  virtual char Separator() const = 0;
  // Reads a path's attributes; false when they cannot be read (no such path).
  virtual bool GetAttributes(const char* path, uint32_t* attributes) = 0;
  // Makes one directory with default security; the platform's code when it could not
  // be made (183 when something of that name is there already, as on Windows).
  virtual Error MakeDirectory(const char* path) = 0;

 protected:
  ~Folders() = default;
};

// ---- Writing the entries below a destination folder ----------------------------------
//
// The extractor makes each folder and writes each file through these calls. Below
// the destination nothing that stands in the way is written through: a symbolic
// link, junction or other reparse point in place of a folder is replaced by a real,
// empty folder; in place of the file it is removed, as is a file that has other
// names (hard links), and the file is made anew. The archive being read is never
// opened for writing. The platforms' edges hold to that while other processes
// change the destination: what they cannot make below it, they refuse.
class TreeMaker : public Folders {
 public:
  // Makes the folder path[0, length) and the missing ones above it below its first
  // destination_length bytes, as ForceDirectoryChain does.
  virtual Error MakeEntryFolder(const char* path, size_t length, size_t destination_length) = 0;
  // Creates the file at path for writing, new and empty, as Create does; its folder
  // must be there (3 when not). An existing read-only file or a folder in its place
  // is refused (5); the file that `archive` reads is refused with kOverwritesArchive.
  virtual Error CreateEntryFile(const char* path, size_t destination_length, FileHandle archive, FileHandle* file) = 0;
  // Writes count bytes; *done receives how many the platform reports as written. A
  // failure after part of the bytes went is still a failure (*done tells how many).
  virtual Error Write(FileHandle file, const void* buffer, uint32_t count, uint32_t* done) = 0;
  // Copies one block: reads up to count bytes from `from` (a file ArchiveFiles
  // opened) and writes to `to` exactly what the read delivered, as Read then Write
  // through buffer (room for count bytes) would (CopyThroughBuffer); *read receives
  // what the read delivered and *written what the write reports.
  virtual Error CopyBlock(FileHandle from, FileHandle to, void* buffer, uint32_t count, uint32_t* read,
                          uint32_t* written) = 0;
  // Gives the file made by CreateEntryFile its last-write time (MS-DOS stamp, local
  // time) and attributes, and closes it. Only the close's failure is reported; a time
  // or attributes that cannot be set are left as they are, and a read-only file still
  // gets its time.
  virtual Error FinishEntryFile(FileHandle file, const char* path, uint32_t dos_time_stamp, uint32_t attributes) = 0;
  // Closes a file made by CreateEntryFile or Create without finishing it.
  virtual Error Close(FileHandle file) = 0;
  // Removes a file made by CreateEntryFile and closed again, which must not stay (its
  // data proved damaged), or a file outside any extraction. The platform's code
  // when it could not be removed.
  virtual Error RemoveFile(const char* path) = 0;
  // The bytes free for this user on the volume that holds path (an existing folder;
  // empty: the current drive's root); false when the platform cannot tell.
  virtual bool FreeSpace(const char* path, uint64_t* bytes) = 0;
  // Gives a path the attribute bits; false on failure.
  virtual bool SetAttributes(const char* path, uint32_t attributes) = 0;
  // Creates a plain file for reading and writing (an existing one is truncated to 0
  // bytes), shared for reading and writing, normal attributes.
  virtual Error Create(const char* path, FileHandle* file) = 0;

 protected:
  ~TreeMaker() = default;
};

// CopyBlock as Read then Write through buffer, for edges without a faster way.
inline Error CopyThroughBuffer(ArchiveFiles& source, TreeMaker& target, FileHandle from, FileHandle to, void* buffer,
                               uint32_t count, uint32_t* read, uint32_t* written) {
  *read = 0;
  *written = 0;
  VEK_TRY(source.Read(from, buffer, count, read));
  return target.Write(to, buffer, *read, written);
}

// The files of an extraction: what it reads and what it writes below the destination.
// (The tree comes first, the larger of the two: each call of the second costs the
// stub a slot more and a thunk.)
class FileEdge : public TreeMaker, public ArchiveFiles {
 public:
  // The one Close of both jobs.
  Error Close(FileHandle file) override = 0;

 protected:
  ~FileEdge() = default;
};

// ---- What an uninstaller needs -------------------------------------------------------
class UninstallQueries {
 public:
  // A file's size and last-write time (in the platform's own unit, only ever compared);
  // false when path is no file whose stamp can be read.
  virtual bool FileStamp(const char* path, uint64_t* size, uint64_t* time) = 0;
  // Removes the folder when it is empty; false when it is not, or cannot be removed.
  virtual bool RemoveEmptyFolder(const char* path) = 0;
  // How many files and folders there are in the folder itself.
  virtual uint32_t CountEntries(const char* path) = 0;

 protected:
  ~UninstallQueries() = default;
};

// A thread that Threads::Start started, until Join; the value is the edge's own.
using ThreadHandle = intptr_t;
inline constexpr ThreadHandle kNoThread = 0;

// Work on threads beside the caller's. The platforms' edges start as many as asked
// while memory lasts, more than enough for one per processor (up to 8, the most a
// caller needs); an edge of a test may refuse, and the caller then works alone.
//
// While a started thread runs, it may call the platform's FileEdge for Seek and Read
// of handles of its own (opened before it started, closed after it was joined), and
// Write of files of its own; these may run at once with each other and with the
// starting thread's calls, which may be any but Close of those handles. Every other
// call of the edges runs on one thread at a time.
class Threads {
 public:
  // The processors this process may run on, at least 1.
  virtual uint32_t Processors() = 0;
  // Starts work(context) on a thread of its own; false when none could be started
  // (the caller then does the work itself). *thread is then for Join.
  virtual bool Start(void (*work)(void* context), void* context, ThreadHandle* thread) = 0;
  // Waits until the thread's work has returned, and lets the thread go.
  virtual void Join(ThreadHandle thread) = 0;

 protected:
  ~Threads() = default;
};

// The edges of the platform that this build targets.
FileEdge& PlatformFileEdge();
UninstallQueries& PlatformUninstallQueries();
Threads& PlatformThreads();

}  // namespace vek
