#include "scan.h"

#include <string.h>

#include <algorithm>
#include <unordered_map>
#include <vector>

#include "cp1250.h"
#include "errorwords.h"
#include "layout.h"
#include "winpath.h"

namespace vek::build {
namespace {

// The name as Windows-1250 bytes; throws when the code page cannot represent it.
std::string NameToCp1250(const std::string& utf8, const std::string& shown) {
  std::string out(utf8.size() + 1, '\0');
  size_t n = Utf8ToCp1250(utf8.data(), utf8.size(), out.data(), out.size());
  if (n == static_cast<size_t>(-1)) throw BuildError(shown + ": the name cannot be written in Windows-1250");
  out.resize(n);
  return out;
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
      std::string name;  // Windows-1250
    };
    std::vector<Subfolder> subfolders;
    std::unordered_map<std::string, size_t> taken;  // folded name -> index in names
    for (size_t i = 0; i < names.size(); ++i) {
      const ListedName& listed = names[i];
      std::string full = JoinPath(path, listed.name);
      std::string cp = NameToCp1250(listed.name, full);
      if (cp.size() > EntryRecord::kNameMaxLength) {
        throw BuildError(full + ": the name is longer than " + std::to_string(EntryRecord::kNameMaxLength) + " bytes");
      }
      CheckName(cp, full, path, names, i, taken);
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
        subfolders.push_back({std::move(full), std::move(cp)});
      } else if (facts.kind != FileKind::kFile) {
        if (warn_) warn_(full + ": not a regular file or folder; skipped");
      } else if (!examine) {
        builder_.AddSourceFile(parent, std::move(cp), std::move(full));
      } else {
        AddExamined(parent, std::move(cp), std::move(full), facts);
      }
    }
    folder.Close();  // a deep tree holds no folder open but the one being read
    ancestors_.push_back(self);
    for (Subfolder& sub : subfolders) {
      uint16_t id = builder_.AddDirectory(parent, std::move(sub.name), sub.path);
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

  // Refuses a name that Windows would not create as named (the extractor refuses it
  // too), and a second name of the folder that Windows would take for the first.
  static void CheckName(const std::string& cp, const std::string& shown, const std::string& folder,
                        const std::vector<ListedName>& names, size_t index,
                        std::unordered_map<std::string, size_t>& taken) {
    NameRule rule = CheckWindowsName(cp.data(), cp.size());
    if (rule != NameRule::kFine) {
      throw BuildError(shown + ": the name has " + DescribeNameRule(rule) + "; Windows cannot create it as named");
    }
    std::string folded = cp;
    for (char& c : folded) c = static_cast<char>(FoldCase1250(static_cast<unsigned char>(c)));
    auto [at, fresh] = taken.emplace(std::move(folded), index);
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
