// A configured installer's settings made from configuration text, for the tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "stubconfig.h"
#include "veksfxu.h"

namespace vek {

class Configured {
 public:
  explicit Configured(std::string text) : text_(std::move(text)) {
    EXPECT_TRUE(ParseStubConfig(&text_[0], text_.size(), &config_).ok());
    EXPECT_TRUE(settings_.Init(config_));
    EXPECT_TRUE(settings_.ResolveFolder([](KnownFolder) { return AnsiString("C:\\Users\\Ann\\AppData\\Local"); }, true));
  }
  const StubSettings& settings() const { return settings_.settings(); }

 private:
  std::string text_;
  StubConfig config_;
  ConfiguredSettings settings_;
};

}  // namespace vek
