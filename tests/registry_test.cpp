#include <vector>

#include "browser/registry.h"
#include "tests/sim_test.h"

namespace {

using browser::ERegistryException;
using browser::TRegistry;
using Bytes = std::vector<std::uint8_t>;
using sim::Utf16;

constexpr char16_t kKey[] = u"HKCU\\Test";

class RegistryTest : public SimTest {
 protected:
  // Opens the test key and reads value "v" from it.
  std::u16string Read() {
    TRegistry registry;
    EXPECT_TRUE(registry.OpenKey(u"Test"));
    return registry.ReadString(u"v");
  }
};

TEST_F(RegistryTest, ReadStringTakesTextUpToTheFirstNulOrTheWholeData) {
  struct Case {
    const char* what;
    std::uint32_t type;
    Bytes data;
    std::u16string expected;
  } cases[] = {
      {"empty data", platform::kRegSz, {}, u""},
      {"empty data of a non-text type", sim::kRegDword, {}, u""},
      {"empty data of no type", 0, {}, u""},
      {"one byte", platform::kRegSz, {'a'}, u""},
      {"odd size keeps whole characters", platform::kRegSz, {'a', 0, 'b'}, u"a"},
      {"terminated", platform::kRegSz, Utf16(std::u16string(u"ab\0", 3)), u"ab"},
      {"no terminator", platform::kRegSz, Utf16(u"ab"), u"ab"},
      {"embedded NUL ends the text", platform::kRegSz, Utf16(std::u16string(u"a\0b", 3)), u"a"},
      {"only NULs", platform::kRegSz, Bytes(6, 0), u""},
      {"expandable text stays unexpanded", platform::kRegExpandSz, Utf16(u"%ProgramFiles%\\b.exe"),
       u"%ProgramFiles%\\b.exe"},
      {"non-ASCII passes through", platform::kRegSz, Utf16(u"\u00E9\u4E2D"), u"\u00E9\u4E2D"},
  };
  ForEachRow(cases, [&](const Case& c) {
    world().SetRaw(kKey, u"v", c.type, c.data);
    EXPECT_EQ(Read(), c.expected);
  });
}

TEST_F(RegistryTest, ReadStringOfAMegabyteValue) {
  const std::u16string big(1 << 20, u'x');
  world().SetRaw(kKey, u"v", platform::kRegSz, Utf16(big));
  EXPECT_EQ(Read(), big);
}

TEST_F(RegistryTest, MissingValueOrAFailedSizeQueryReadsAsEmptyText) {
  world().KeyAt(kKey);
  EXPECT_EQ(Read(), u"");

  world().SetString(kKey, u"v", u"text");
  world().keys[kKey].values[u"v"].size_query_error = sim::kErrorMoreData;  // fails, yet reports a size
  EXPECT_EQ(Read(), u"");
  EXPECT_EQ(world().CountOf(sim::Call::RegQueryValueExW), 2u) << "no read after a failed size query";
}

TEST_F(RegistryTest, ReadStringRaisesOnNonTextTypesAndOnFailedReads) {
  const Bytes text = Utf16(u"text");
  struct Case {
    const char* what;
    std::uint32_t type;
    Bytes data;
    std::optional<Bytes> grows_to;
    std::optional<std::uint32_t> reported_size;
    std::u16string message;
    std::size_t queries;  // RegQueryValueExW calls
  } cases[] = {
      {"DWORD", sim::kRegDword, text, std::nullopt, std::nullopt, u"Invalid data type for 'v'", 2},
      {"binary", 3, text, std::nullopt, std::nullopt, u"Invalid data type for 'v'", 2},
      {"one byte of binary", 3, {'a'}, std::nullopt, std::nullopt, u"Invalid data type for 'v'", 2},
      {"REG_NONE", 0, text, std::nullopt, std::nullopt, u"Invalid data type for 'v'", 2},
      {"multi-string", 7, text, std::nullopt, std::nullopt, u"Invalid data type for 'v'", 2},
      {"grew after the size query", platform::kRegSz, text, Utf16(u"a much longer text"), std::nullopt,
       u"Failed to get data for 'v'", 2},
      // A buffer for these would not fit the read's 32-bit byte count: nothing is allocated or read.
      {"4 GiB less 2 bytes", platform::kRegSz, text, std::nullopt, 0xFFFFFFFEu, u"Failed to get data for 'v'", 1},
      {"4 GiB less 1 byte", platform::kRegSz, text, std::nullopt, 0xFFFFFFFFu, u"Failed to get data for 'v'", 1},
  };
  ForEachRow(cases, [&](const Case& c) {
    world().SetRaw(kKey, u"v", c.type, c.data);
    world().keys[kKey].values[u"v"].after_size_query = c.grows_to;
    world().keys[kKey].values[u"v"].reported_size = c.reported_size;
    try {
      Read();
      ADD_FAILURE() << "no exception";
    } catch (const ERegistryException& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
    EXPECT_EQ(world().CountOf(sim::Call::RegQueryValueExW), c.queries);
  });
}

TEST_F(RegistryTest, KeyRightsDecideWhatOpens) {
  struct Case {
    const char* what;
    std::uint32_t granted;
    bool exists, opens;
  } cases[] = {
      {"full access", sim::kKeyAllAccess, true, true},
      {"read but not write", platform::kKeyRead, true, true},
      {"just the probe's rights", TRegistry::kProbeRights, true, false},
      {"no rights", 0, false, false},
  };
  ForEachRow(cases, [&](const Case& c) {
    world().KeyAt(kKey).granted = c.granted;
    TRegistry registry;
    EXPECT_EQ(registry.KeyExists(u"Test"), c.exists);
    EXPECT_EQ(registry.OpenKey(u"Test"), c.opens);
  });
}

TEST_F(RegistryTest, PathsAreRelativeToTheCurrentKeyUnlessTheyStartWithABackslash) {
  world().KeyAt(u"HKCU\\A");
  world().KeyAt(u"HKCU\\A\\B");
  world().KeyAt(u"HKCU\\B");
  world().SetString(u"HKCU\\A\\B", u"v", u"inner");
  world().SetString(u"HKCU\\B", u"v", u"outer");

  TRegistry registry;
  ASSERT_TRUE(registry.OpenKey(u"A"));
  EXPECT_TRUE(registry.KeyExists(u"B"));
  ASSERT_TRUE(registry.OpenKey(u"B"));  // A\B
  EXPECT_EQ(registry.ReadString(u"v"), u"inner");
  ASSERT_TRUE(registry.OpenKey(u"\\B"));
  EXPECT_EQ(registry.ReadString(u"v"), u"outer");
  EXPECT_EQ(world().open_handles.size(), 1u) << "opening a key closes the one before";
}

TEST_F(RegistryTest, MovingToAnotherRootClosesTheCurrentKey) {
  world().KeyAt(kKey);
  TRegistry registry;
  ASSERT_TRUE(registry.OpenKey(u"Test"));
  registry.SetRootKey(platform::kCurrentUser);
  EXPECT_EQ(world().open_handles.size(), 1u) << "the same root keeps it";
  registry.SetRootKey(platform::kClassesRoot);
  EXPECT_TRUE(world().open_handles.empty());
  EXPECT_EQ(registry.ReadString(u"v"), u"") << "no current key: nothing to read";

  world().KeyAt(u"HKCR\\Test");
  ASSERT_TRUE(registry.OpenKey(u"Test"));
  registry.SetRootKey(platform::kCurrentUser);
  EXPECT_TRUE(world().open_handles.empty()) << "and the other way round";
}

}  // namespace
