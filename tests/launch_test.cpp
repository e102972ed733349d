#include "app/launch.h"
#include "tests/sim_test.h"

namespace {

using platform::kErrorAccessDenied;
using platform::kErrorSharingViolation;
using platform::kFileAttributeDirectory;
using platform::kFileAttributeReparsePoint;

const std::u16string kAddress(app::GameAddress);

TEST(GameAddress, IsTheHttpsPartnerPage) {
  EXPECT_EQ(kAddress.rfind(u"https://", 0), 0u);
  EXPECT_NE(kAddress.find(u"/partner/iframe/10?cid=ru"), std::u16string::npos);
  EXPECT_EQ(kAddress.find(u"%1"), std::u16string::npos);
}

TEST(PutAddress, ReplacesEveryPlaceholderOrTheWholeText) {
  struct Case {
    std::u16string arguments, expected;
  } cases[] = {
      {u" -osint -url \"%1\"", u" -osint -url \"A\""},
      {u"%1 --x %1", u"A --x A"},
      {u"", u"A"},
      {u" --new-window", u"A"},
      {u"\"%2\"", u"A"},
      {u"%", u"A"},
  };
  for (const auto& c : cases) EXPECT_EQ(app::PutAddress(c.arguments, u"A"), c.expected);
  EXPECT_EQ(app::PutAddress(u"%1", u"%1%1"), u"%1%1") << "the address is not scanned again";
}

class FileTest : public SimTest {};

TEST_F(FileTest, ExistsMeansSomethingThatIsNotADirectory) {
  struct Case {
    const char* what;
    std::optional<sim::File> file;
    bool exists;
  } cases[] = {
      {"absent", std::nullopt, false},
      {"plain file", sim::File{}, true},
      {"directory", sim::File{kFileAttributeDirectory}, false},
      {"locked file, listed", sim::File{0x20, kErrorSharingViolation, true}, true},
      {"locked directory, listed", sim::File{kFileAttributeDirectory, kErrorSharingViolation, true}, false},
      {"refused and not listed", sim::File{0x20, kErrorAccessDenied, false}, false},
      {"path not found", sim::File{0x20, platform::kErrorPathNotFound, true}, false},
      {"invalid name", sim::File{0x20, platform::kErrorInvalidName, true}, false},
      {"file link to a file", sim::File{kFileAttributeReparsePoint}, true},
      {"file link, target locked", sim::File{kFileAttributeReparsePoint, 0, true, kErrorSharingViolation}, true},
      {"file link, target gone", sim::File{kFileAttributeReparsePoint, 0, true, platform::kErrorFileNotFound}, false},
      {"directory link", sim::File{kFileAttributeReparsePoint | kFileAttributeDirectory}, false},
  };
  for (const auto& c : cases) {
    SetUp();
    if (c.file) world().files[u"play.url"] = *c.file;
    EXPECT_EQ(app::FileExists(u"play.url"), c.exists) << c.what;
    EXPECT_TRUE(world().open_handles.empty()) << c.what;
  }
}

class RunTest : public SimTest {
 protected:
  int Run() { return app::RunLauncher(); }
};

TEST_F(RunTest, BrowserGetsTheAddressThenFollowUpsOpenInOrder) {
  RegisterUserChoice(u"Br.HTML", u"\"C:\\Browser\\browser.exe\" -osint -url \"%1\"");
  world().started_process = sim::Process{u"browser.exe", 100, 2500};
  world().files[u"play.url"] = {};
  world().files[u"fscommand\\wgame.exe"] = {};

  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(world().launches.size(), 1u);
  EXPECT_EQ(world().launches[0].file, u"\"C:\\Browser\\browser.exe\"");
  EXPECT_EQ(world().launches[0].parameters, u" -osint -url \"" + kAddress + u"\"");
  ASSERT_EQ(world().opens.size(), 2u);
  const char16_t* const order[] = {u"play.url", u"fscommand\\wgame.exe"};
  for (std::size_t i = 0; i < 2; ++i) {
    const sim::Open& open = world().opens[i];
    EXPECT_EQ(open.file, order[i]);
    EXPECT_EQ(open.verb, u"open");
    EXPECT_EQ(open.parameters, u"") << "empty, not absent";
    EXPECT_EQ(open.directory, u"");
    EXPECT_EQ(open.owner, platform::kNoWindow);
    EXPECT_EQ(open.show, platform::kShowNormal);
    EXPECT_EQ(open.at_ms, 3000) << "only after the wait";
  }
}

TEST_F(RunTest, NothingRegisteredStillAttemptsTheLaunchWithTheAddressAlone) {
  world().shell_accepts = false;
  world().files[u"fscommand\\wgame.exe"] = {};
  world().files[u"play.url"] = sim::File{kFileAttributeDirectory};

  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(world().launches.size(), 1u);
  EXPECT_EQ(world().launches[0].file, u"");
  EXPECT_EQ(world().launches[0].parameters, kAddress);
  ASSERT_EQ(world().opens.size(), 1u) << "a directory named play.url is not opened";
  EXPECT_EQ(world().opens[0].file, u"fscommand\\wgame.exe");
  EXPECT_EQ(world().opens[0].at_ms, 0) << "no wait after a refused launch";
}

TEST_F(RunTest, UnquotedCommandIsPassedWholeAsArguments) {
  world().major_version = 5;
  world().SetString(kHttpCommand, u"", u"C:\\Browser\\browser.exe %1");
  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(world().launches.size(), 1u);
  EXPECT_EQ(world().launches[0].file, u"");
  EXPECT_EQ(world().launches[0].parameters, u"C:\\Browser\\browser.exe " + kAddress);
}

}  // namespace
