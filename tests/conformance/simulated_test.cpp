// The claims, against the simulated Windows: the builder's side that makes
// each claim's world in the World.
#include <string>

#include "tests/conformance/claims.h"
#include "tests/sim_test.h"

namespace {

std::u16string Numbered(const char16_t* prefix, int n) {
  const std::string digits = std::to_string(n);
  return prefix + std::u16string(digits.begin(), digits.end());
}

class SimulatedBuilder : public conformance::Builder {
 public:
  // As on any machine, the http class has an open command.
  SimulatedBuilder() { world().SetString(u"HKCR\\http\\shell\\open\\command", u"", u"\"C:\\Web\\web.exe\" \"%1\""); }
  std::u16string Key() override {
    const std::u16string path = Numbered(u"Software\\Conformance\\", ++made_);
    world().KeyAt(u"HKCU\\" + path);
    return path;
  }
  void Value(const std::u16string& key, const char16_t* name, std::uint32_t type,
             const std::vector<std::uint8_t>& data) override {
    world().SetRaw(u"HKCU\\" + key, name, type, data);
  }
  std::u16string NamedKey(const std::u16string& name) override {
    const std::u16string path = Key() + u"\\" + name;
    world().KeyAt(u"HKCU\\" + path);
    return path;
  }
  platform::Window AnsiWindow() override {
    const auto window = static_cast<platform::Window>(0x30000 + 4 * ++made_);
    world().windows[window] = false;
    return window;
  }
  void Post(platform::Window window, std::uint32_t message) override {
    world().queue.push_back({window, message, world().now_ms});
  }
  void ReadOnly(const std::u16string& key) override { world().KeyAt(u"HKCU\\" + key).granted = platform::kKeyRead; }
  std::u16string Folder() override {
    const std::u16string path = Numbered(u"C:\\Conformance\\", ++made_);
    Directory(path);
    return path;
  }
  void File(const std::u16string& path) override { world().files[path] = {}; }
  void Directory(const std::u16string& path) override {
    world().files[path] = sim::File{platform::kFileAttributeDirectory};
  }
  // What a link answers: its own attributes, and, opened, its target's.
  void Link(const std::u16string& path, const std::u16string& target) override {
    const bool there = world().files.count(target) != 0;
    world().files[path] =
        sim::File{platform::kFileAttributeReparsePoint, 0, true, there ? 0 : platform::kErrorFileNotFound};
  }
  sim::Version Release() override { return world().version; }
  std::u16string SoftwareKey() override {
    const std::u16string path = Numbered(u"SOFTWARE\\Conformance\\", ++made_);
    world().KeyAt(u"HKLM\\" + path);
    world().KeyAt(u"HKLM\\SOFTWARE\\WOW6432Node" + path.substr(8));
    return path;
  }
  void SoftwareValue(const std::u16string& key, bool view64, const char16_t* name,
                     const std::u16string& text) override {
    const bool redirected = !view64 && world().native_machine != platform::kMachineI386;
    world().SetString(redirected ? u"HKLM\\SOFTWARE\\WOW6432Node" + key.substr(8) : u"HKLM\\" + key, name, text);
  }
  std::u16string ClassForBoth(const std::u16string& machine_command, const std::u16string& user_command) override {
    const std::u16string name = Numbered(u"Conformance.Class", ++made_);
    world().SetString(u"HKCR\\" + name + u"\\shell\\open\\command", u"", machine_command);
    world().SetString(u"HKCU\\Software\\Classes\\" + name + u"\\shell\\open\\command", u"", user_command);
    return name;
  }
  std::u16string VersionedProgram() override {
    const std::u16string path = Folder() + u"\\versioned.exe";
    File(path);
    world().version_resources[path] =
        sim::VersionResource::Of({{0x0409, 0x04B0}}, {{u"\\StringFileInfo\\040904B0\\ProductName", u"Conformance"},
                                                      {u"\\StringFileInfo\\040904B0\\FileVersion", u"1.0"}});
    return path;
  }
  std::uint32_t Process(const std::u16string& image, bool window) override {
    const auto id = static_cast<std::uint32_t>(7000 + 4 * ++made_);
    world().processes.push_back({image, world().now_ms, sim::kForever, id});
    if (window) world().top_windows.push_back({id});
    return id;
  }

 private:
  static sim::World& world() { return sim::TheWorld(); }
  int made_ = 0;
};

TEST_F(SimTest, TheSimulationKeepsItsClaims) {
  ForEachRow(conformance::Claims(), [&](const conformance::Claim& claim) {
    SimulatedBuilder builder;
    EXPECT_EQ(claim.check(builder), "");
  });
}

}  // namespace
