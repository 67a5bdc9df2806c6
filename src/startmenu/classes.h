// The small component model the program's non-visual parts are built on: components
// with an owner that destroys them, notify events, and a list of strings.
//
// Everything here runs in the Windows stub, which has no C++ exception runtime:
// components are allocated with malloc (new gives nullptr when memory runs out, it
// never throws) and the string list reports a failed allocation by its result.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include "ansistring.h"

namespace vek {

class TComponent {
 public:
  // Registers the new component with its owner (may be nullptr), which destroys it.
  explicit TComponent(TComponent* owner);
  // Destroys the owned components, the most recently created first, then leaves the
  // owner's list.
  virtual ~TComponent();

  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  static void* operator new(size_t size) noexcept { return malloc(size); }
  static void operator delete(void* p) { free(p); }

  AnsiString Name;

 private:
  TComponent* owner_;
  TComponent* first_owned_ = nullptr;  // newest first
  TComponent* next_sibling_ = nullptr;
};

// An event handler: a method of some object, taking the sender component.
struct TNotifyEvent {
  void* Data = nullptr;
  void (*Code)(void* data, TComponent* sender) = nullptr;

  // Calls the handler when one is assigned.
  void operator()(TComponent* sender) const {
    if (Code) Code(Data, sender);
  }
};

// Binds object->*Method as an event: MakeNotifyEvent<&TForm1::PMGroupError>(form).
template <auto Method, class T>
TNotifyEvent MakeNotifyEvent(T* object) {
  TNotifyEvent event;
  event.Data = object;
  event.Code = [](void* data, TComponent* sender) { (static_cast<T*>(data)->*Method)(sender); };
  return event;
}

// An ordered list of strings.
class TStringList {
 public:
  TStringList() = default;
  ~TStringList();
  TStringList(const TStringList&) = delete;
  TStringList& operator=(const TStringList&) = delete;

  int Count() const { return count_; }
  // The line at index, 0 <= index < Count().
  const AnsiString& operator[](int index) const { return items_[index]; }
  // Appends a copy of line; false when memory ran out (the list is unchanged).
  bool Add(const AnsiString& line);
  void Clear();

 private:
  AnsiString* items_ = nullptr;
  int count_ = 0;
  int capacity_ = 0;
};

}  // namespace vek
