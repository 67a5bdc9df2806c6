#include "terminal.h"

#include <stdio.h>

#include "toolhost.h"

namespace vek::tools {

bool StderrIsTerminal() { return StandardErrorIsTerminal(); }

void ProgressLine::Update(uint64_t done, uint64_t total) {
  if (!shown_) return;
  auto now = std::chrono::steady_clock::now();
  if (drawn_ && done < total && now - last_ < std::chrono::milliseconds(100)) return;
  last_ = now;
  unsigned percent = total ? static_cast<unsigned>(done * 100 / total) : 100;
  fprintf(stderr, "\r%s %3u%%  %llu / %llu", what_.c_str(), percent, static_cast<unsigned long long>(done),
          static_cast<unsigned long long>(total));
  fflush(stderr);
  drawn_ = true;
}

void ProgressLine::Finish() {
  if (!shown_ || !drawn_) return;
  fputs("\r\033[K", stderr);
  fflush(stderr);
  drawn_ = false;
}

}  // namespace vek::tools
