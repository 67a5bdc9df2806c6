// The shell-link edge: the Start menu's Programs folders, where a shell that takes the
// Program Manager commands keeps the groups it makes, and where the program writes the
// group's folder and an item's shortcut itself when no shell did.
//
// The Win32 implementation (shelllink_win32.cpp) finds the user's and the common
// Programs folder through the shell and saves each shortcut through the shell's link
// object; tests supply a recording one. Texts are UTF-8 when utf8 is set (a configured
// installer), else in the ANSI code page; the edge hands them to the shell as UTF-16.
// Names are checked before they get here.
#pragma once

#include <stdint.h>

namespace vek {

class ShellLinkEdge {
 public:
  virtual ~ShellLinkEdge() = default;
  // Makes the folder `group` in the user's Start menu Programs folder unless it is
  // there; true when it is there afterwards. group is a plain file name.
  virtual bool CreateGroupFolder(const char* group, bool utf8) = 0;
  // Saves the shortcut "<name>.lnk" in that folder, replacing one of that name: it
  // points at target, starts in working_folder (none when empty) and shows the icon
  // of icon_path (the target's own when empty). true when it was saved.
  virtual bool CreateShortcut(const char* group, const char* name, const char* target, const char* working_folder,
                              const char* icon_path, bool utf8) = 0;
  // Whether "<group>\<name>.lnk", or with name nullptr the folder <group>, is in the
  // user's or in the common Programs folder.
  virtual bool Exists(const char* group, const char* name, bool utf8) = 0;
  // Removes "<group>\<name>.lnk", or with name nullptr the folder <group> when it is
  // empty, from the user's and from the common Programs folder.
  virtual void Remove(const char* group, const char* name, bool utf8) {}
  // Lets that many milliseconds pass.
  virtual void Wait(uint32_t milliseconds) = 0;
};

// The edge of the Windows build; not built elsewhere.
ShellLinkEdge& PlatformShellLinkEdge();

}  // namespace vek
