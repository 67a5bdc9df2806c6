// A shell-link edge for tests: records each folder and shortcut written as text and
// succeeds unless told; plays the shell's side of Exists with a clock of Waits.
#pragma once

#include <string>
#include <vector>

#include "shelllink.h"

namespace vek::testing {

class RecordingShellLinks final : public ShellLinkEdge {
 public:
  bool fail_folders = false;
  bool fail_shortcuts = false;
  // The shell has made everything Exists asks about once this many Waits have passed
  // (0: at once); -1: never.
  int shell_done_after_waits = 0;
  std::vector<std::string> calls;
  std::vector<std::string> looked_for;  // Exists: "<group>" or "<group>|<name>"
  int waits = 0;
  uint32_t waited_ms = 0;
  bool last_utf8 = false;

  bool CreateGroupFolder(const char* group, bool utf8) override {
    calls.push_back(std::string("folder ") + group);
    last_utf8 = utf8;
    return !fail_folders;
  }
  // Recorded as: shortcut <group>|<name>|<target>|<working folder>|<icon>
  bool CreateShortcut(const char* group, const char* name, const char* target, const char* working_folder,
                      const char* icon_path, bool utf8) override {
    calls.push_back(std::string("shortcut ") + group + "|" + name + "|" + target + "|" + working_folder + "|" +
                    icon_path);
    last_utf8 = utf8;
    return !fail_shortcuts;
  }
  bool Exists(const char* group, const char* name, bool) override {
    looked_for.push_back(name ? std::string(group) + "|" + name : std::string(group));
    return shell_done_after_waits >= 0 && waits >= shell_done_after_waits;
  }
  // Recorded as: remove <group>[|<name>]
  void Remove(const char* group, const char* name, bool) override {
    calls.push_back(std::string("remove ") + group + (name ? std::string("|") + name : ""));
  }
  void Wait(uint32_t milliseconds) override {
    ++waits;
    waited_ms += milliseconds;
  }
};

}  // namespace vek::testing
