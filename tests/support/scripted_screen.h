#pragma once

// Runs screens in-process on the headless platform: Delay does not sleep but calls a script,
// which can type keys between ticks or close the window.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "gfx/graph.h"
#include "gfx/inspect.h"
#include "gfx/keyboard.h"
#include "tests/support/headless_graph.h"

class ScriptedScreen : public HeadlessGraph {
 protected:
  // Called for every Delay with its number (from 0) and length, instead of sleeping.
  using Script = std::function<void(int index, std::uint16_t milliseconds)>;

  void SetUp() override {
    HeadlessGraph::SetUp();
    if (HasFatalFailure()) return;
    while (KeyPressed()) ReadKey();
    delays.clear();
    script = nullptr;
    SetSleepFunction(&ScriptedSleep);
  }

  void TearDown() override {
    SetSleepFunction(nullptr);
    HeadlessGraph::TearDown();
    while (KeyPressed()) ReadKey();
  }

  static void Type(std::initializer_list<char> keys) {
    for (char key : keys) AddChar(key);
  }

  // How many delays of this length were made.
  static int CountDelays(std::uint16_t milliseconds) {
    int count = 0;
    for (std::uint16_t d : delays) count += d == milliseconds;
    return count;
  }

  static std::uint32_t Pixel(int x, int y) { return gfx::inspect::Pixel(x, y); }

  static inline std::vector<std::uint16_t> delays;
  static inline Script script;

 private:
  static void ScriptedSleep(std::uint16_t milliseconds) {
    const int index = static_cast<int>(delays.size());
    delays.push_back(milliseconds);
    if (script) script(index, milliseconds);
  }
};
