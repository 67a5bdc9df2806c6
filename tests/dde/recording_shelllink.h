// A shell-link edge for tests: records each call as text and succeeds unless told.
#pragma once

#include <string>
#include <vector>

#include "shelllink.h"

namespace vek::testing {

class RecordingShellLinks final : public ShellLinkEdge {
 public:
  bool fail_folders = false;
  bool fail_shortcuts = false;
  std::vector<std::string> calls;

  bool CreateGroupFolder(const char* group) override {
    calls.push_back(std::string("folder ") + group);
    return !fail_folders;
  }
  // Recorded as: shortcut <group>|<name>|<target>|<working folder>|<icon>
  bool CreateShortcut(const char* group, const char* name, const char* target,
                      const char* working_folder, const char* icon_path) override {
    calls.push_back(std::string("shortcut ") + group + "|" + name + "|" + target + "|" +
                    working_folder + "|" + icon_path);
    return !fail_shortcuts;
  }
};

}  // namespace vek::testing
