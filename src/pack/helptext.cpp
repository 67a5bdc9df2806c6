#include "helptext.h"

#include <algorithm>

#include "configread.h"
#include "stubconfig.h"

namespace vek::tools {
namespace {

using namespace build;  // the keys that vekpack alone reads

// What each key sets, in the order the help lists them, its lines broken by hand. In
// the text, %L stands for the key's limit, %T for a TARGET's and %I for the most items.
struct KeyHelp {
  int key;  // a ConfigKey, or with `tool` a ToolKey
  const char* text;
  bool tool = false;
};
constexpr KeyHelp kKeyHelp[] = {
    {kKeyCaption, "the window's caption (%L)"},
    {kKeyPrompt, "the label above the folder (%L)"},
    {kKeyFolder,
     "the proposed destination, a full path such as C:\\Name (%L);\n"
     "it may begin with {localappdata} (the user's own programs go\n"
     "in {localappdata}\\Programs), {programfiles}, {documents} or\n"
     "{desktop}, which the installer looks up on the user's machine;\n"
     "the first, third and fourth put the group in the user's own\n"
     "Start menu. {temp} alone is a new folder of the installer's own\n"
     "in the user's temporary folder, for run: removed with all in\n"
     "it once the program has ended (no group, items or uninstaller)"},
    {kKeyFooter, "the line under the gauge (%L)"},
    {kKeyGroup, "the Start-menu group (%L)"},
    {kKeyItem,
     "TARGET,NAME: TARGET a path relative to the destination (%T),\n"
     "NAME the item's name (%L); up to %I items, one line each"},
    {kKeyDone, "the closing message (%L)"},
    {kKeyFolderError, "the message when the folder cannot be made (%L)"},
    {kKeyGroupError, "the message when the group cannot be made (%L)"},
    {kKeyDamaged, "the report of a damaged installer, whose checksums do not\nmatch (%L)"},
    {kKeyRightsError,
     "the message, with the folder below it, when the user may not\n"
     "make or write the folder (%L; default, in English: to start\n"
     "the installer as administrator); /S then exits 9"},
    {kKeyExtractButton,
     "the Extract button's caption (%L); & before a letter makes\n"
     "it the button's Alt key, as in &Extract"},
    {kKeyQuitButton, "the Quit button's caption (%L), & likewise"},
    {kKeyOpen,
     "TARGET: what the installer opens with the user's program for\n"
     "it after the closing message (never with /S) (%T)"},
    {kKeyRun,
     "PROGRAM [ARGUMENTS]: a file of the packed folder, in double\n"
     "quotes when it holds a blank, that the installer starts once\n"
     "the files are there (after the closing message and open), in\n"
     "their folder, with the ARGUMENTS and those given to the\n"
     "installer after --, and waits for; its exit code is the\n"
     "installer's (%L)"},
    {kKeyConfirm,
     "yes or no: with folder = {temp}, yes shows the window before\n"
     "extracting; no (the default) extracts at once, showing the\n"
     "gauge"},
    {kKeyRunError,
     "the message, with the program below it, when run's program\n"
     "cannot be started (%L; default in English); /S then exits 10"},
    {kKeyProduct,
     "the product's name in the version information (%L); without\n"
     "it the caption, which is also the file's description"},
    {kKeyPublisher, "the company in the version information (%L)"},
    {kKeyCopyright, "the copyright in the version information (%L)"},
    {kKeyVersion,
     "the file and product version: one to four numbers 0-65535\n"
     "separated by dots, such as 2.1 (without it the stub's own)"},
    {kToolOriginalFilename, "the file's original name in the version information, such\nas acme-setup.exe (%L)", true},
    {kToolInternalName, "the internal name in the version information (%L)", true},
    {kToolComments, "the comments in the version information (%L)", true},
    {kKeyIcon,
     "FILE.ico: the executable's icon, in Explorer and the window's\n"
     "title bar; relative to the configuration's folder. A Windows\n"
     ".ico file of 1 to 64 images, each a bitmap or PNG, at most\n"
     "1 MiB (%L)"},
    {kKeyUninstall,
     "yes or no: with yes, a completed install writes uninstall.exe\n"
     "and registers it in Apps & Features; needs id or product"},
    {kKeyId,
     "the Apps & Features entry's key, the same for every version\n"
     "(%L); without it the product"},
    {kToolElevation,
     "admin or user: the installer asks for an administrator's\n"
     "rights, or runs with the user's own; without it admin for a\n"
     "folder in {programfiles}, Program Files or Windows, else user",
     true},
};

constexpr bool EveryKeyOnce() {
  if (sizeof kKeyHelp / sizeof kKeyHelp[0] != int{kConfigKeyCount} + int{kToolKeyCount}) return false;
  for (int tool = 0; tool < 2; ++tool) {
    for (int key = 0; key < (tool ? int{kToolKeyCount} : int{kConfigKeyCount}); ++key) {
      int seen = 0;
      for (const KeyHelp& help : kKeyHelp) seen += help.key == key && help.tool == (tool == 1);
      if (seen != 1) return false;
    }
  }
  return true;
}
static_assert(EveryKeyOnce(), "the help describes every configuration key once");

// Where the text of a key's entry begins, and its continued lines.
constexpr size_t kKeyColumn = 16;

}  // namespace

std::string Wrap(const std::string& text, size_t width, size_t indent) {
  std::string out, line;
  bool words = false;  // on this line
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find(' ', at);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(at, end - at);
    at = end + 1;
    if (word.empty()) continue;
    if (words && line.size() + 1 + word.size() > width) {
      out += line + "\n";
      line = std::string(indent, ' ');
      words = false;
    }
    line += (words ? " " : "") + word;
    words = true;
  }
  return out + line + "\n";
}

std::string ExitCodesText(const char* lead, const ExitCode* codes, size_t count, const char* separator) {
  std::string text = lead;
  for (size_t i = 0; i < count; ++i) {
    text += (i ? separator : " ") + std::to_string(codes[i].code) + " " + codes[i].words;
  }
  return Wrap(text + ".");
}

std::string ConfigKeysText() {
  std::string out;
  for (const KeyHelp& help : kKeyHelp) {
    const std::string name = help.tool ? build::ToolKeyName(static_cast<build::ToolKey>(help.key))
                                       : ConfigKeyName(static_cast<ConfigKey>(help.key));
    const uint32_t limit = help.tool ? build::ToolKeyLimit(static_cast<build::ToolKey>(help.key))
                                     : ConfigKeyLimit(static_cast<ConfigKey>(help.key));
    const size_t column = std::max(kKeyColumn, 2 + name.size() + 2);
    out += "  " + name + std::string(column - 2 - name.size(), ' ');
    for (const char* p = help.text; *p; ++p) {
      if (*p == '%' && (p[1] == 'L' || p[1] == 'T' || p[1] == 'I')) {
        const uint32_t value = p[1] == 'L'   ? limit
                               : p[1] == 'T' ? kConfigTargetLimit
                                             : static_cast<uint32_t>(kConfigMaxItems);
        out += std::to_string(value);
        ++p;
      } else {
        out += *p;
        if (*p == '\n') out += std::string(column, ' ');
      }
    }
    out += "\n";
  }
  return out;
}

}  // namespace vek::tools
