// The shell-link edge: the group's folder and an item's shortcut written straight
// into the user's Start menu, for when no Program Manager takes the DDE commands.
//
// The Win32 implementation (shelllink_win32.cpp) finds the user's Start menu Programs
// folder and saves each shortcut through the shell's link object; tests supply a
// recording one. Texts are in the encoding in which the same names would have reached
// Program Manager (UTF-8 with a Unicode DDE manager, else the ANSI code page); the
// edge hands them to the shell as UTF-16. Names are checked before they get here.
#pragma once

namespace vek {

class ShellLinkEdge {
 public:
  virtual ~ShellLinkEdge() = default;
  // Makes the folder `group` in the user's Start menu Programs folder unless it is
  // there; true when it is there afterwards. group is a plain file name.
  virtual bool CreateGroupFolder(const char* group) = 0;
  // Saves the shortcut "<name>.lnk" in that folder, replacing one of that name: it
  // points at target, starts in working_folder (none when empty) and shows the icon
  // of icon_path (the target's own when empty). true when it was saved.
  virtual bool CreateShortcut(const char* group, const char* name, const char* target,
                              const char* working_folder, const char* icon_path) = 0;
};

// The edge of the Windows build; not built elsewhere.
ShellLinkEdge& PlatformShellLinkEdge();

}  // namespace vek
