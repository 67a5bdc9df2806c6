// Progress on standard error, shown only when it is a terminal.
#pragma once

#include <stdint.h>

#include <chrono>
#include <string>

namespace vek::tools {

bool StderrIsTerminal();

class ProgressLine {
 public:
  ProgressLine(std::string what, bool wanted) : what_(std::move(what)), shown_(wanted && StderrIsTerminal()) {}
  // Redraws at most ten times a second.
  void Update(uint64_t done, uint64_t total);
  // Clears the line.
  void Finish();

 private:
  std::string what_;
  bool shown_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point last_{};
};

}  // namespace vek::tools
