// ShowMessageBox: a modal box with a text, an information or error kind and one OK
// button, returning when the user has closed it. The front end in use installs the
// presenter: the Windows dialog, the command-line tool's report, or a test's recorder.
#pragma once

#include <stdint.h>

namespace vek {

enum class MessageKind : uint8_t { kInformation, kError };

class MessageBoxPresenter {
 public:
  virtual ~MessageBoxPresenter() = default;
  // text: Windows-1250 bytes, zero-terminated.
  virtual void ShowMessageBox(const char* text, MessageKind kind) = 0;
};

// Installs the presenter (nullptr: boxes are dropped) and returns the previous one.
MessageBoxPresenter* SetMessageBoxPresenter(MessageBoxPresenter* presenter);

void ShowMessageBox(const char* text, MessageKind kind);

}  // namespace vek
