#include "classes.h"

#include <new>

namespace vek {

TComponent::TComponent(TComponent* owner) : owner_(owner) {
  if (owner_) {
    next_sibling_ = owner_->first_owned_;
    owner_->first_owned_ = this;
  }
}

TComponent::~TComponent() {
  // Each owned component unlinks itself, so the list head moves on.
  while (first_owned_) delete first_owned_;
  if (owner_) {
    for (TComponent** link = &owner_->first_owned_; *link; link = &(*link)->next_sibling_) {
      if (*link == this) {
        *link = next_sibling_;
        break;
      }
    }
  }
}

TStringList::~TStringList() {
  Clear();
  free(items_);
}

bool TStringList::Add(const AnsiString& line) {
  if (count_ == capacity_) {
    int grown = capacity_ < 4 ? 4 : capacity_ * 2;
    // AnsiString holds no pointer into itself, so its bytes may be moved by realloc.
    void* bigger = realloc(static_cast<void*>(items_), sizeof(AnsiString) * grown);
    if (!bigger) return false;
    items_ = static_cast<AnsiString*>(bigger);
    capacity_ = grown;
  }
  AnsiString* copy = new (&items_[count_]) AnsiString(line);
  if (copy->failed()) {
    copy->~AnsiString();
    return false;
  }
  ++count_;
  return true;
}

void TStringList::Clear() {
  while (count_ > 0) items_[--count_].~AnsiString();
}

}  // namespace vek
