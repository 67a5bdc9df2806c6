#include "messagebox.h"

namespace vek {
namespace {
MessageBoxPresenter* g_presenter = nullptr;
}

MessageBoxPresenter* SetMessageBoxPresenter(MessageBoxPresenter* presenter) {
  MessageBoxPresenter* previous = g_presenter;
  g_presenter = presenter;
  return previous;
}

void ShowMessageBox(const char* text, MessageKind kind) {
  if (g_presenter) g_presenter->ShowMessageBox(text, kind);
}

}  // namespace vek
