// A DDE manager over the recording DDEML for each test.
#pragma once

#include <gtest/gtest.h>

#include "ddeman.h"
#include "recording_ddeml.h"

namespace vek::testing {

class DdeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(InitDdeManager(nullptr, ddeml).ok());
    ddeml.calls.clear();
  }
  void TearDown() override { delete DdeManager; }

  RecordingDdeml ddeml;
};

// Counts the calls of an event.
struct EventCounter {
  int calls = 0;
  TComponent* last_sender = nullptr;
  void Handle(TComponent* sender) {
    ++calls;
    last_sender = sender;
  }
  TNotifyEvent Event() { return MakeNotifyEvent<&EventCounter::Handle>(this); }
};

}  // namespace vek::testing
