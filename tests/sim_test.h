// Test fixture over the simulated Windows: a fresh world and fresh launcher
// state per test, or per table row, and a check after each that every handle
// was closed once.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <type_traits>
#include <utility>

#include "browser/browser_command.h"
#include "tests/sim/world.h"
#include "watch/watch.h"

inline constexpr char16_t kUserChoice[] =
    u"HKCU\\Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\http\\UserChoice";
inline constexpr char16_t kUserChoiceLatest[] =
    u"HKCU\\Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\http\\UserChoiceLatest\\ProgId";
inline constexpr char16_t kHttpCommand[] = u"HKCR\\http\\shell\\open\\command";

// The one way tests register a browser: a user's choice recorded under key
// (kUserChoice, or kUserChoiceLatest as Windows 11 24H2 writes it), naming a
// class with this open command.
inline void RegisterChoice(sim::World& w, const std::u16string& key, const std::u16string& prog_id,
                           const std::u16string& command) {
  w.SetString(key, key == kUserChoice ? u"Progid" : u"ProgId", prog_id);
  w.SetString(u"HKCR\\" + prog_id + u"\\shell\\open\\command", u"", command);
}

template <typename Row, typename = void>
struct RowHasWhat : std::false_type {};
template <typename Row>
struct RowHasWhat<Row, std::void_t<decltype(std::declval<Row>().what)>> : std::true_type {};

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    browser::BrowserCommand = {};
    browser::LastDiscovery = {};
    watch::QuitRequested = false;
  }
  void TearDown() override { CheckHandles(); }
  sim::World& world() { return sim::TheWorld(); }

  // Runs body for each row in a fresh world, naming the row (its `what`,
  // when it has one) in any failure, and checks its handles after it.
  template <typename Rows, typename Body>
  void ForEachRow(const Rows& rows, Body body) {
    std::size_t index = 0;
    for (const auto& row : rows) {
      std::string name = "row " + std::to_string(index++);
      if constexpr (RowHasWhat<std::decay_t<decltype(row)>>::value) name += ": " + testing::PrintToString(row.what);
      SCOPED_TRACE(name);
      SetUp();
      body(row);
      CheckHandles();
    }
    SetUp();  // so that the end of the test checks a world the rows are done with
  }

  static void CheckHandles() {
    const sim::World& world = sim::TheWorld();
    EXPECT_TRUE(world.open_handles.empty()) << world.open_handles.size() << " handle(s) left open";
    for (const std::string& error : world.handle_errors) ADD_FAILURE() << error;
  }
};
