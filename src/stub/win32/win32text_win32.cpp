// The stub's texts at the Win32 boundary: its own texts as UTF-16, texts the system
// gives (a window's text, the executable's own path) read into buffers that grow
// until they fit, UTF-16 turned into UTF-8 or a code page, and the in-memory template
// of a dialog without controls.
#include <stdlib.h>

#include "cp1250.h"
#include "text1250.h"
#include "win32ui.h"

namespace vek {
namespace {

bool g_texts_utf8 = false;

// The longest path the system gives, in characters with the zero.
constexpr DWORD kLongestSystemPath = 32768;

}  // namespace

void SetTextsUtf8(bool utf8) { g_texts_utf8 = utf8; }
bool TextsUtf8() { return g_texts_utf8; }

WideText::WideText(const char* text) {
  size_t (*convert)(const char*, uint16_t*, size_t) = g_texts_utf8 ? Utf8ToUtf16 : Cp1250ToUtf16;
  const size_t length = convert(text, nullptr, 0);
  text_ = static_cast<wchar_t*>(malloc((length + 1) * sizeof(wchar_t)));
  if (text_) convert(text, reinterpret_cast<uint16_t*>(text_), length + 1);
}

WideText::~WideText() { free(text_); }

AnsiString NarrowText(const wchar_t* text, int length, UINT code_page) {
  AnsiString result;
  if (length <= 0) return result;
  const int bytes = WideCharToMultiByte(code_page, 0, text, length, nullptr, 0, nullptr, nullptr);
  char* narrow = bytes > 0 ? static_cast<char*>(malloc(static_cast<size_t>(bytes))) : nullptr;
  if (narrow) {
    WideCharToMultiByte(code_page, 0, text, length, narrow, bytes, nullptr, nullptr);
    result.Append(narrow, static_cast<size_t>(bytes));
  } else if (bytes > 0) {
    result.Append("", static_cast<size_t>(-1));  // out of memory: marks the text as failed
  }
  free(narrow);
  return result;
}

AnsiString AnsiCodePageText(const AnsiString& utf8) {
  const int length = static_cast<int>(utf8.size());
  const int units = length ? MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0) : 0;
  wchar_t* wide = static_cast<wchar_t*>(malloc((static_cast<size_t>(units) + 1) * sizeof(wchar_t)));
  if (!wide) return AnsiString("", static_cast<size_t>(-1));
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, wide, units);
  AnsiString text = NarrowText(wide, units, CP_ACP);
  free(wide);
  return text;
}

wchar_t* WindowTextAlloc(HWND window, int* length) {
  const int room = GetWindowTextLengthW(window) + 1;
  wchar_t* text = static_cast<wchar_t*>(malloc(static_cast<size_t>(room) * sizeof(wchar_t)));
  if (!text) return nullptr;
  *length = GetWindowTextW(window, text, room);
  text[*length] = 0;
  return text;
}

wchar_t* ModuleFileNameAlloc(int* length) {
  // A buffer that grows until the path fits.
  for (DWORD size = MAX_PATH; size <= kLongestSystemPath; size *= 2) {
    wchar_t* path = static_cast<wchar_t*>(malloc(size * sizeof(wchar_t)));
    if (!path) return nullptr;
    const DWORD got = GetModuleFileNameW(nullptr, path, size);
    if (got > 0 && got < size) {
      if (length) *length = static_cast<int>(got);
      return path;
    }
    free(path);
    if (got == 0) break;
  }
  return nullptr;
}

AnsiString ModuleFileNameUtf8() {
  int length = 0;
  wchar_t* path = ModuleFileNameAlloc(&length);
  AnsiString result = path ? NarrowText(path, length, CP_UTF8) : AnsiString();
  free(path);
  return result;
}

void MakeDialogTemplate(DialogTemplate* out, DWORD style, const wchar_t* window_class, const wchar_t* caption) {
  // DLGTEMPLATE: style, extended style, no controls, position and size 0; then the
  // menu (none), the class and the caption, each a zero-terminated array of words.
  constexpr int kFirstArray = 9;
  WORD* const words = out->words;
  for (WORD& word : out->words) word = 0;
  words[0] = LOWORD(style);
  words[1] = HIWORD(style);
  int i = kFirstArray + 1;                    // after the menu's one zero word
  const int last = kDialogTemplateWords - 1;  // a zero stays after the caption
  for (const wchar_t* c = window_class; c && *c && i < last; ++c) words[i++] = static_cast<WORD>(*c);
  ++i;
  for (const wchar_t* c = caption; *c && i < last; ++c) words[i++] = static_cast<WORD>(*c);
}

}  // namespace vek
