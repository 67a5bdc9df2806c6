// The help of vek and vekpack, and the README's tables, against the tables they are
// made from: every configuration key and every exit code is in each of them.
#include <gtest/gtest.h>
#include <stdio.h>

#include <iterator>
#include <sstream>
#include <string>

#include "configread.h"
#include "exitcodes.h"
#include "stubconfig.h"
#include "testsupport.h"

namespace vek {
namespace {

std::string HelpOf(const char* program) {
  std::string text;
  FILE* out = popen(("'" + std::string(program) + "' --help").c_str(), "r");
  if (!out) return text;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, out)) > 0;) text.append(buffer, n);
  EXPECT_EQ(pclose(out), 0) << program;
  return text;
}

// The text with every run of blanks and line breaks as one blank: the help's
// paragraphs are wrapped wherever the words fall.
std::string Flat(const std::string& text) {
  std::istringstream words(text);
  std::string flat, word;
  while (words >> word) flat += (flat.empty() ? "" : " ") + word;
  return flat;
}

bool HasLineStarting(const std::string& text, const std::string& start) {
  return text.compare(0, start.size(), start) == 0 || text.find("\n" + start) != std::string::npos;
}

TEST(Help, ListsEveryKeyAndExitCodeOfTheTablesAsTheReadmeDoes) {
  const std::string vekpack = HelpOf(VEK_TEST_VEKPACK), vek = HelpOf(VEK_TEST_VEK);
  const std::string readme = testing::ReadWholeFile(VEK_TEST_README);
  for (int key = 0; key < int{kConfigKeyCount} + int{build::kToolKeyCount}; ++key) {
    const std::string name = key < kConfigKeyCount
                                 ? ConfigKeyName(static_cast<ConfigKey>(key))
                                 : build::ToolKeyName(static_cast<build::ToolKey>(key - kConfigKeyCount));
    EXPECT_TRUE(HasLineStarting(vekpack, "  " + name + " ")) << "vekpack --help lacks the key " << name;
    EXPECT_TRUE(HasLineStarting(readme, "| `" + name + "` |")) << "README.md lacks the key " << name;
  }
  const struct {
    const char* where;
    const std::string& help;
    const ExitCode* codes;
    size_t count;
  } tables[] = {
      {"vekpack --help (the installer's)", vekpack, kInstallExitCodes, std::size(kInstallExitCodes)},
      {"vekpack --help (the window's)", vekpack, kWindowExitCodes, std::size(kWindowExitCodes)},
      {"vekpack --help (start-up)", vekpack, kStartupExitCodes, std::size(kStartupExitCodes)},
      {"vekpack --help (the uninstaller's)", vekpack, kUninstallExitCodes, std::size(kUninstallExitCodes)},
      {"vekpack --help", vekpack, tools::kVekpackExitCodes, std::size(tools::kVekpackExitCodes)},
      {"vek --help", vek, tools::kVekExitCodes, std::size(tools::kVekExitCodes)},
  };
  for (const auto& table : tables) {
    for (size_t i = 0; i < table.count; ++i) {
      const std::string code = std::to_string(table.codes[i].code);
      EXPECT_NE(Flat(table.help).find(code + " " + table.codes[i].words), std::string::npos)
          << table.where << " lacks the exit code " << code;
      EXPECT_TRUE(HasLineStarting(readme, "| `" + code + "` |")) << "README.md lacks the exit code " << code;
    }
  }
  for (const std::string* help : {&vekpack, &vek}) {
    std::istringstream lines(*help);
    for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80u) << line;
  }
}

}  // namespace
}  // namespace vek
