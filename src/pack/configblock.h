// The configuration block between the stub and the archive: a publisher's texts,
// folder and Start-menu items, checked and written in canonical form.
#pragma once

#include <stdint.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "icon.h"
#include "manifest.h"
#include "packedge.h"
#include "vekwriter.h"

namespace vek::build {

// What a configuration sets in the executable's resources: in its version
// information the strings (key and UTF-8 text; those the stub's resource lacks are
// added to it) and, with `version`, the fixed version numbers (the product's name is
// `product`, else the caption; the description the caption, else `product`); with
// `icon`, its icon; and its manifest.
struct ResourceSettings {
  std::vector<std::pair<std::string, std::string>> strings;
  bool has_numbers = false;
  uint16_t numbers[4] = {};
  bool asked = false;           // a key of the version information given
  std::vector<IconImage> icon;  // none: the stub's own
  ManifestSettings manifest;
};

// Reads and checks a configuration file (see stubconfig.h and configread.h) and
// returns the block that goes between the stub and the archive: its magic and the
// configuration in canonical form, one "key = value" line per setting; with
// "uninstall = yes", always with an id. Throws BuildError naming the file and line
// of a problem, also of an item or open whose TARGET `tree` (when given) lacks. With
// `resources`, what the configuration sets in the executable's resources: its icon
// is read (from a path relative to the configuration's folder unless absolute) and
// checked here. `warn` (when set) gets the warnings.
std::string MakeConfigBlock(PackEdge& edge, const std::string& config_path, const ArchiveBuilder* tree,
                            ResourceSettings* resources = nullptr,
                            const std::function<void(const std::string&)>& warn = {});

// The warning for an executable packed without a configuration: what its installer
// shows and where it installs, and whether the tree lacks the target of its item.
std::string UnconfiguredWarning(const ArchiveBuilder& tree);

// Whether an installer into `folder` (a configured folder, as stubconfig.h takes it)
// needs an administrator: below {programfiles}, or below the Windows folder or a
// program-files folder named by its path.
bool FolderNeedsAdministrator(const char* folder);

}  // namespace vek::build
