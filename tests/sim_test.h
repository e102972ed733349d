// Test fixture over the simulated Windows: a fresh world and fresh launcher
// state per test, and a check at the end that every handle was closed.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "browser/browser_command.h"
#include "tests/sim/world.h"
#include "watch/watch.h"

inline constexpr char16_t kUserChoice[] =
    u"HKCU\\Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\http\\UserChoice";
inline constexpr char16_t kUserChoiceLatest[] =
    u"HKCU\\Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\http\\UserChoiceLatest\\ProgId";
inline constexpr char16_t kHttpCommand[] = u"HKCR\\http\\shell\\open\\command";

// A user's choice recorded under key (kUserChoice, or kUserChoiceLatest as
// Windows 11 24H2 writes it), naming a class with this open command.
inline void RegisterChoice(sim::World& w, const std::u16string& key, const std::u16string& prog_id,
                           const std::u16string& command) {
  w.SetString(key, key == kUserChoice ? u"Progid" : u"ProgId", prog_id);
  w.SetString(u"HKCR\\" + prog_id + u"\\shell\\open\\command", u"", command);
}

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    browser::BrowserCommand = {};
    watch::QuitRequested = false;
  }
  void TearDown() override {
    const sim::World& world = sim::TheWorld();
    EXPECT_TRUE(world.open_handles.empty()) << world.open_handles.size() << " handle(s) left open";
    for (const std::string& error : world.handle_errors) ADD_FAILURE() << error;
  }
  sim::World& world() { return sim::TheWorld(); }

  // The Vista-and-later registration: a user choice naming a class.
  void RegisterUserChoice(const std::u16string& prog_id, const std::u16string& command) {
    RegisterChoice(world(), kUserChoice, prog_id, command);
  }
};
