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
  constexpr std::uint32_t kReadOnly = 0x1, kArchive = 0x20;
  using K = app::FileKind;
  constexpr std::uint32_t kErrorInvalidFunction = 1, kErrorCantAccessFile = 1920;  // around the three "no" codes
  struct Case {
    const char* what;
    std::optional<sim::File> file;
    bool exists;
    std::size_t searched, opened;  // FindFirstFileW and CreateFileW calls
    app::FileKind kind;
  } cases[] = {
      {"absent", std::nullopt, false, 0, 0, K::kAbsent},
      {"plain file", sim::File{}, true, 0, 0, K::kFile},
      {"read-only file", sim::File{kReadOnly | kArchive}, true, 0, 0, K::kFile},
      {"directory", sim::File{kFileAttributeDirectory}, false, 0, 0, K::kFolder},
      // An attribute query that fails: three errors answer no at once, any other asks the listing.
      {"file not found, yet listed", sim::File{kArchive, platform::kErrorFileNotFound, true}, false, 0, 0, K::kAbsent},
      {"path not found", sim::File{kArchive, platform::kErrorPathNotFound, true}, false, 0, 0, K::kFolderAbsent},
      {"invalid name", sim::File{kArchive, platform::kErrorInvalidName, true}, false, 0, 0, K::kInvalidName},
      {"locked file, listed", sim::File{kArchive, kErrorSharingViolation, true}, true, 1, 0, K::kLocked},
      {"locked read-only file, listed", sim::File{kReadOnly, kErrorSharingViolation, true}, true, 1, 0, K::kLocked},
      {"locked file, not listed", sim::File{kArchive, kErrorSharingViolation, false}, false, 1, 0, K::kLocked},
      {"locked directory, listed", sim::File{kFileAttributeDirectory, kErrorSharingViolation, true}, false, 1, 0,
       K::kLocked},
      {"refused, listed", sim::File{kArchive, kErrorAccessDenied, true}, true, 1, 0, K::kAccessDenied},
      {"refused and not listed", sim::File{kArchive, kErrorAccessDenied, false}, false, 1, 0, K::kAccessDenied},
      {"unusual low error, listed", sim::File{kArchive, kErrorInvalidFunction, true}, true, 1, 0, K::kUnreadable},
      {"unusual high error, listed", sim::File{kArchive, kErrorCantAccessFile, true}, true, 1, 0, K::kUnreadable},
      // Links: only these are opened, which follows them to their target.
      {"file link to a file", sim::File{kFileAttributeReparsePoint}, true, 0, 1, K::kLinkToFile},
      {"read-only file link", sim::File{kFileAttributeReparsePoint | kReadOnly}, true, 0, 1, K::kLinkToFile},
      {"file link, target locked", sim::File{kFileAttributeReparsePoint, 0, true, kErrorSharingViolation}, true, 0, 1,
       K::kLinkToFile},
      {"file link, target gone", sim::File{kFileAttributeReparsePoint, 0, true, platform::kErrorFileNotFound}, false, 0,
       1, K::kLinkTargetGone},
      {"file link, target refused", sim::File{kFileAttributeReparsePoint, 0, true, kErrorAccessDenied}, false, 0, 1,
       K::kLinkTargetGone},
      {"file link, unusual low error", sim::File{kFileAttributeReparsePoint, 0, true, kErrorInvalidFunction}, false, 0,
       1, K::kLinkTargetGone},
      {"file link, unusual high error", sim::File{kFileAttributeReparsePoint, 0, true, kErrorCantAccessFile}, false, 0,
       1, K::kLinkTargetGone},
      {"directory link", sim::File{kFileAttributeReparsePoint | kFileAttributeDirectory}, false, 0, 0,
       K::kLinkToFolder},
  };
  ForEachRow(cases, [&](const Case& c) {
    if (c.file) world().files[u"play.url"] = *c.file;
    EXPECT_EQ(app::FileExists(u"play.url"), c.exists);
    EXPECT_EQ(world().CountOf(sim::Call::FindFirstFileW), c.searched);
    EXPECT_EQ(world().CountOf(sim::Call::CreateFileW), c.opened);
    EXPECT_EQ(app::ClassifyFile(u"play.url").kind, c.kind);
  });
}

class RunTest : public SimTest {
 protected:
  int Run() { return app::RunLauncher(); }
};

TEST_F(RunTest, BrowserGetsTheAddressThenFollowUpsOpenInOrder) {
  RegisterChoice(world(), kUserChoice, u"Br.HTML", u"\"C:\\Browser\\browser.exe\" -osint -url \"%1\"");
  world().started_process = sim::Process{u"browser.exe", 100, 2500};
  world().files[u"play.url"] = {};
  world().files[u"fscommand\\wgame.exe"] = {};

  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(world().launches.size(), 1u);
  EXPECT_EQ(world().launches[0].nShow, 1) << "SW_SHOWNORMAL";
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
    EXPECT_EQ(open.show, 1) << "SW_SHOWNORMAL";
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
  world().version = sim::kWindowsXp;
  world().SetString(kHttpCommand, u"", u"C:\\Browser\\browser.exe %1");
  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(world().launches.size(), 1u);
  EXPECT_EQ(world().launches[0].file, u"");
  EXPECT_EQ(world().launches[0].parameters, u"C:\\Browser\\browser.exe " + kAddress);
}

}  // namespace
