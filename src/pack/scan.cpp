#include "scan.h"

#include <string.h>

#include <algorithm>
#include <unordered_map>
#include <vector>

#include "casefold.h"
#include "cp1250.h"
#include "errorwords.h"
#include "layout.h"
#include "winpath.h"

namespace vek::build {
namespace {

// Whether text is UTF-8 throughout.
bool IsUtf8(const std::string& text) {
  for (const char *p = text.data(), *end = p + text.size(); p < end;) {
    if (DecodeUtf8(&p, end) == kBadUtf8) return false;
  }
  return true;
}

// The name (UTF-8) as the builder stores it: in Windows-1250 while every name fits
// that code page, so that such a tree packs as it always did; from the first name
// outside it on, every name in UTF-8. Throws naming the path when the name is longer
// than a record holds.
std::string StoredName(const std::string& utf8, const std::string& shown, ArchiveBuilder& builder) {
  const std::string too_long =
      shown + ": the name is longer than " + std::to_string(EntryRecord::kNameMaxLength) + " bytes";
  if (builder.name_encoding() == NameEncoding::kWindows1250) {
    std::string cp(utf8.size() + 1, '\0');
    const size_t n = Utf8ToCp1250(utf8.data(), utf8.size(), cp.data(), cp.size());
    if (n != static_cast<size_t>(-1)) {
      if (n > EntryRecord::kNameMaxLength) throw BuildError(too_long);
      cp.resize(n);
      return cp;
    }
    builder.StoreNamesInUtf8();
  }
  if (utf8.size() > EntryRecord::kNameMaxLength) {
    throw BuildError(too_long + " in UTF-8, in which the archive stores every name once one is outside Windows-1250");
  }
  return utf8;
}

// Closes a folder when it goes.
class OpenedFolder {
 public:
  OpenedFolder(PackEdge& edge, FolderHandle folder) : edge_(edge), folder_(folder) {}
  ~OpenedFolder() { Close(); }
  OpenedFolder(const OpenedFolder&) = delete;
  OpenedFolder& operator=(const OpenedFolder&) = delete;
  FolderHandle get() const { return folder_; }
  void Close() {
    if (folder_ != kNoFolder) edge_.CloseFolder(folder_);
    folder_ = kNoFolder;
  }

 private:
  PackEdge& edge_;
  FolderHandle folder_;
};

class Scanner {
 public:
  Scanner(ArchiveBuilder& builder, const Warn& warn, PackEdge& edge, FactsTaken when)
      : builder_(builder), warn_(warn), edge_(edge), when_(when) {}

  void Level(const std::string& path, uint16_t parent) {
    FolderHandle handle = kNoFolder;
    PathFacts self;
    Error error = edge_.OpenFolder(kNoFolder, path.c_str(), &handle, &self);
    if (!error.ok()) throw BuildError(path + ": cannot read the folder: " + tools::ErrorInWords(error));
    OpenedFolder folder(edge_, handle);
    for (const PathFacts& above : ancestors_) {
      if (above.SameFileAs(self)) throw BuildError(path + ": the folder contains itself through a symbolic link");
    }
    std::vector<ListedName> names;
    error = edge_.ListFolder(handle, &names);
    if (!error.ok()) throw BuildError(path + ": cannot read the folder: " + tools::ErrorInWords(error));
    std::sort(names.begin(), names.end(), [](const ListedName& a, const ListedName& b) { return a.name < b.name; });

    struct Subfolder {
      std::string path;
      std::string name;  // UTF-8: stored when added, in the encoding of that moment
    };
    std::vector<Subfolder> subfolders;
    std::unordered_map<std::string, size_t> taken;  // folded name -> index in names
    for (size_t i = 0; i < names.size(); ++i) {
      const ListedName& listed = names[i];
      std::string full = JoinPath(path, listed.name);
      if (!IsUtf8(listed.name)) throw BuildError(full + ": the name is not UTF-8 text (its bytes are no characters)");
      CheckName(listed.name, full, path, names, i, taken);
      PathFacts facts;
      const bool examine = listed.kind == ListedKind::kUnknown ||
                           (listed.kind == ListedKind::kFile && when_ == FactsTaken::kWhenScanned);
      if (examine) {
        error = edge_.Examine(handle, listed.name.c_str(), &facts);
        const bool missing = error.code == kIoFileNotFound || error.code == kWinErrorPathNotFound;
        if (!error.ok() && missing && listed.kind == ListedKind::kUnknown) {
          throw BuildError(full + ": cannot read it (a broken symbolic link?)");
        }
        if (!error.ok()) throw BuildError(full + ": cannot read it: " + tools::ErrorInWords(error));
      } else {
        facts.kind = listed.kind == ListedKind::kFile     ? FileKind::kFile
                     : listed.kind == ListedKind::kFolder ? FileKind::kFolder
                                                          : FileKind::kOther;
      }
      if (facts.kind == FileKind::kFolder) {
        subfolders.push_back({std::move(full), listed.name});
      } else if (facts.kind != FileKind::kFile) {
        if (warn_) warn_(full + ": not a regular file or folder; skipped");
      } else if (!examine) {
        std::string stored = StoredName(listed.name, full, builder_);
        builder_.AddSourceFile(parent, std::move(stored), std::move(full));
      } else {
        std::string stored = StoredName(listed.name, full, builder_);
        AddExamined(parent, std::move(stored), std::move(full), facts);
      }
    }
    folder.Close();  // a deep tree holds no folder open but the one being read
    ancestors_.push_back(self);
    for (Subfolder& sub : subfolders) {
      uint16_t id = builder_.AddDirectory(parent, StoredName(sub.name, sub.path, builder_), sub.path);
      Level(sub.path, id);
    }
    ancestors_.pop_back();
  }

 private:
  // A file whose facts the scan took: its record is complete now.
  void AddExamined(uint16_t parent, std::string cp, std::string full, const PathFacts& facts) {
    if (facts.size >= kPositionLimit) throw BuildError(full + ": the file is 2 GiB or larger");
    uint32_t stamp = StampOf(facts, full, warn_);
    builder_.AddFileFromSource(parent, std::move(cp), std::move(full), static_cast<int32_t>(facts.size), stamp,
                               AttributesOf(facts), std::string(), facts.modified_ns);
  }

  // Refuses a name (UTF-8) that Windows would not create as named (the extractor
  // refuses it too), and a second name of the folder that Windows would take for the
  // first (letter case as casefold.h folds it).
  static void CheckName(const std::string& name, const std::string& shown, const std::string& folder,
                        const std::vector<ListedName>& names, size_t index,
                        std::unordered_map<std::string, size_t>& taken) {
    NameRule rule = CheckWindowsName(name.data(), name.size(), NameEncoding::kUtf8);
    if (rule != NameRule::kFine) {
      throw BuildError(shown + ": the name has " + DescribeNameRule(rule) + "; Windows cannot create it as named");
    }
    auto [at, fresh] = taken.emplace(FoldedName(name.data(), name.size(), NameEncoding::kUtf8), index);
    if (!fresh) {
      throw BuildError(shown + ": the same name as " + JoinPath(folder, names[at->second].name) +
                       " when letter case is ignored; Windows would make them one file");
    }
  }

  ArchiveBuilder& builder_;
  const Warn& warn_;
  PackEdge& edge_;
  const FactsTaken when_;
  std::vector<PathFacts> ancestors_;
};

}  // namespace

std::string JoinPath(const std::string& folder, const std::string& name) {
  std::string path;
  path.reserve(folder.size() + 1 + name.size());
  path = folder;
  if (folder.empty() || !strchr(kPathSeparators, folder.back())) path += kPathSeparators[0];
  path += name;
  return path;
}

PathFacts ExamineSourceFolder(PackEdge& edge, const std::string& source_folder) {
  PathFacts facts;
  Error error = edge.Examine(kNoFolder, source_folder.c_str(), &facts);
  if (!error.ok()) {
    throw BuildError(source_folder + (error.code == kIoFileNotFound || error.code == kWinErrorPathNotFound
                                          ? ": no such folder"
                                          : ": cannot read the folder: " + tools::ErrorInWords(error)));
  }
  if (facts.kind != FileKind::kFolder) throw BuildError(source_folder + ": not a folder");
  return facts;
}

void ScanFolder(const std::string& source_folder, ArchiveBuilder& builder, const Warn& warn, PackEdge& edge,
                FactsTaken when) {
  (void)ExamineSourceFolder(edge, source_folder);
  Scanner scanner(builder, warn, edge, when);
  scanner.Level(source_folder, 0);
}

void ScanFolder(const std::string& source_folder, ArchiveBuilder& builder, const Warn& warn) {
  ScanFolder(source_folder, builder, warn, PlatformPackEdge(), FactsTaken::kWhenScanned);
}

}  // namespace vek::build
