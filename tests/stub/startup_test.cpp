// The program's start and stop (RunProgram) over a fake host and the recording
// DDEML, the texts of the application's reports, the title, and the Polish texts as
// the wide API receives them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ddeman.h"
#include "recording_ddeml.h"
#include "recording_shelllink.h"
#include "text1250.h"
#include "veksfxp.h"
#include "veksfxu.h"

namespace vek {
namespace {

// Logs into the DDEML's call list when destroyed, so the order of the end shows.
class LoggedForm final : public TComponent {
 public:
  LoggedForm(TComponent* owner, std::vector<std::string>& log) : TComponent(owner), log_(log) {}
  ~LoggedForm() override { log_.push_back("form destroyed"); }

 private:
  std::vector<std::string>& log_;
};

class FakeHost final : public ApplicationHost {
 public:
  explicit FakeHost(testing::RecordingDdeml& ddeml) : ddeml_(ddeml) {}

  Error window_error;
  int windows_made = 0;
  int runs = 0;
  struct Box {
    std::string text, caption;
    bool stop_icon;
  };
  std::vector<Box> boxes;

  Error CreateMainWindow(TComponent* application) override {
    ++windows_made;
    if (!window_error.ok()) return window_error;
    new LoggedForm(application, ddeml_.calls);
    return NoError();
  }
  void Run() override {
    ++runs;
    EXPECT_NE(DdeManager, nullptr);
  }
  void ShowSystemMessage(const char* text, const char* caption, bool stop_icon) override {
    boxes.push_back({text, caption, stop_icon});
  }
  const char* ModuleName() override { return "setup.exe"; }
  uint32_t RelativeAddress(const void*) override { return 0x1A2B4; }
  ShellLinkEdge& ShellLinks() override { return links_; }

 private:
  testing::RecordingDdeml& ddeml_;
  testing::RecordingShellLinks links_;
};

size_t IndexOf(const std::vector<std::string>& calls, const std::string& prefix) {
  for (size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].rfind(prefix, 0) == 0) return i;
  }
  return calls.size();
}

TEST(RunProgram, EndsWithTheExitCodeAndBoxOfHowItWent) {
  const struct {
    const char* what;
    uint32_t ddeml_initialize;  // DdeInitializeA's result
    Error window_error;
    int exit_code;
    int windows_made, runs;
    std::vector<std::string> box;  // text, caption; empty: none
    bool stop_icon;
  } cases[] = {
      {"normal", 0, NoError(), 0, 1, 1, {}, false},
      {"DDE manager fails", kDdeSysError, NoError(), 217, 0, 0, {"Runtime error 217 at 0001A2B4", "Error"}, false},
      {"main window fails",
       0,
       OutOfMemoryError(),
       1,
       1,
       0,
       {"Exception EOutOfMemory in module setup.exe at 0001A2B4.\nOut of memory.", "Application Error"},
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testing::RecordingDdeml ddeml;
    ddeml.initialize_result = c.ddeml_initialize;
    ddeml.last_error = c.ddeml_initialize;
    FakeHost host(ddeml);
    host.window_error = c.window_error;

    EXPECT_EQ(RunProgram(host, ddeml), c.exit_code);
    EXPECT_EQ(host.windows_made, c.windows_made);
    EXPECT_EQ(host.runs, c.runs);
    if (c.box.empty()) {
      EXPECT_TRUE(host.boxes.empty());
    } else {
      ASSERT_EQ(host.boxes.size(), 1u);
      EXPECT_EQ(host.boxes[0].text, c.box[0]);
      EXPECT_EQ(host.boxes[0].caption, c.box[1]);
      EXPECT_EQ(host.boxes[0].stop_icon, c.stop_icon);
    }
    // Whatever happened, the DDE library instance is ended and the manager is gone.
    EXPECT_EQ(ddeml.Count("DdeUninitialize"), 1u);
    EXPECT_EQ(DdeManager, nullptr);
  }
}

TEST(RunProgram, TheMainWindowGoesBeforeTheDdeManager) {
  testing::RecordingDdeml ddeml;
  FakeHost host(ddeml);
  ASSERT_EQ(RunProgram(host, ddeml), 0);
  const size_t form = IndexOf(ddeml.calls, "form destroyed");
  ASSERT_LT(form, ddeml.calls.size());
  EXPECT_LT(form, IndexOf(ddeml.calls, "DdeUninitialize"));
  // The service name is registered before the form exists and unregistered after it.
  std::vector<size_t> name_service;
  for (size_t i = 0; i < ddeml.calls.size(); ++i) {
    if (ddeml.calls[i].rfind("DdeNameService", 0) == 0) name_service.push_back(i);
  }
  ASSERT_EQ(name_service.size(), 2u);
  EXPECT_LT(name_service[0], form);
  EXPECT_GT(name_service[1], form);
}

TEST(Reports, TheDefaultErrorReportAddsAFullStopAfterBytesAboveIt) {
  const struct {
    Error error;
    const char* report;
  } cases[] = {
      {InOutError(5), "File access denied."},
      {InOutError(100), "Read beyond end of file."},
      {InOutError(112), "I/O error 112."},
      {GeneralError("Unable to create directory"), "Unable to create directory."},
      {GeneralError("Already a sentence."), "Already a sentence."},
      {GeneralError("Stop!"), "Stop!"},  // '!' sorts before '.'
      {GeneralError("Ends in 9"), "Ends in 9."},
      {GeneralError("B\xB3\xB9"), "B\xB3\xB9."},  // a byte above 0x7F
      {GeneralError(""), ""},
      {DdeError(0x4006), "An error returned from DDE  ($04006)"},  // ')' sorts before '.'
  };
  for (const auto& c : cases) {
    char text[128];
    FormatErrorReport(c.error, text, sizeof text);
    EXPECT_STREQ(text, c.report);
  }
}

TEST(Reports, RuntimeErrorAndApplicationErrorTexts) {
  char text[200];
  const struct {
    uint32_t number, address;
    const char* text;
  } runtime[] = {
      {217, 0x1A2B4, "Runtime error 217 at 0001A2B4"},
      {5, 0, "Runtime error   5 at 00000000"},
      {217, 0xDEADBEEF, "Runtime error 217 at DEADBEEF"},
  };
  for (const auto& r : runtime) {
    FormatRuntimeError(r.number, r.address, text, sizeof text);
    EXPECT_STREQ(text, r.text);
  }
  FormatApplicationError(InOutError(2), "SETUP.EXE", 0x400, text, sizeof text);
  EXPECT_STREQ(text, "Exception EInOutError in module SETUP.EXE at 00000400.\nFile not found.");
  FormatApplicationError(GeneralError("Done."), "a.exe", 0x400, text, sizeof text);
  EXPECT_STREQ(text, "Exception Exception in module a.exe at 00000400.\nDone.");
}

uint16_t AsciiLower(uint16_t c) { return c >= 'A' && c <= 'Z' ? static_cast<uint16_t>(c + 32) : c; }

TEST(Reports, TheTitleIsTheFileNameCutAtItsFirstFullStopInLowerCaseAfterTheFirst) {
  const struct {
    std::u16string path, title;
  } cases[] = {
      {u"C:\\Program Files\\SETUP.EXE", u"Setup"},
      {u"D:\\MyLongName.Setup.EXE", u"Mylongname"},
      {u"C:\\a.b\\noext", u"noext"},  // the first character is kept as it is
      {u"tarnovista.exe", u"tarnovista"},
      {u"C:\\x\\.hidden.exe", u""},
  };
  for (const auto& c : cases) {
    uint16_t title[64];
    ApplicationTitle(reinterpret_cast<const uint16_t*>(c.path.c_str()), AsciiLower, title, 64);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(title)), c.title);
  }
}

// The program's Polish texts, kept as Windows-1250 bytes, read right in UTF-16.
TEST(Texts, PolishTextsReachTheWideApiAsWritten) {
  const struct {
    const char* cp1250;
    std::u16string expected;
  } cases[] = {
      {kFormCaption, u"Samorozpakowujące się archiwum VEK."},
      {kSubfolderErrorMessage, u"Błąd podczas tworzenia podkatalogu..."},
      {kGroupErrorMessage, u"Błąd podczas tworzenia grupy..."},
      {kClosingMessage,
       u"Aby rozpocząć czytanie off-line NWM Tarnovista 3/99, wybierz "
       u"Start/Programy/NWM Tarnovista/Tarnovista 3_99"},
      {kPromptCaption, u"Podaj katalog docelowy dla NWM Tarnovista 3/99:"},
      {kNoticeCaption, u"Tarnovista 3/99 © 1999 NWM. Wszelkie prawa zastrzeżone."},
      {"\x81", u"\uFFFD"},  // undefined in the code page
  };
  for (const auto& c : cases) {
    uint16_t wide[200];
    const size_t length = Cp1250ToUtf16(c.cp1250, wide, 200);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(wide), length), c.expected);
  }
}

}  // namespace
}  // namespace vek
