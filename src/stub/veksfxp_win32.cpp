// The program entry of the Windows stub.
#include <windows.h>

#include "ddeman.h"
#include "veksfxp.h"
#include "win32ui.h"

// ArchiveStartOffset: where the archive begins in this executable. vekpack writes the
// stub's length into the first 4 bytes of the section .vekofs; the value is read
// through a volatile access so that the compiler never takes the 0 written here.
extern "C" {
__attribute__((section(".vekofs"), used)) volatile uint32_t ArchiveStartOffset = 0;
}

namespace vek {
namespace {

class Win32Host final : public ApplicationHost {
 public:
  explicit Win32Host(int show_command) : show_command_(show_command) {}

  Error CreateMainWindow(TComponent* application) override {
    return CreateForm1(application, ArchiveStartOffset);
  }
  void Run() override { RunForm1(show_command_); }
  void ShowSystemMessage(const char* text, const char* caption, bool stop_icon) override {
    MessageBoxW(nullptr, WideText(text).get(), WideText(caption).get(),
                MB_OK | (stop_icon ? MB_ICONSTOP : 0));
  }
  const char* ModuleName() override {
    DWORD length = GetModuleFileNameA(nullptr, path_, sizeof path_);
    if (length >= sizeof path_) length = 0;
    path_[length] = 0;
    const char* name = path_;
    for (const char* p = path_; *p; ++p) {
      if (*p == '\\' || *p == '/' || *p == ':') name = p + 1;
    }
    return name;
  }
  uint32_t RelativeAddress(const void* code) override {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(code) -
                                 reinterpret_cast<uintptr_t>(GetModuleHandleW(nullptr)));
  }

 private:
  int show_command_;
  char path_[MAX_PATH * 4];
};

DialogMessageBoxes g_message_boxes;

}  // namespace
}  // namespace vek

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int show_command) {
  vek::SetMessageBoxPresenter(&vek::g_message_boxes);
  vek::Win32Host host(show_command);
  return vek::RunProgram(host, vek::PlatformDdemlEdge());
}
