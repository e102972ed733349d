// What the simulated Windows claims of the seam's calls, as a table that runs
// on both sides: on the host against tests/sim/, and as a Windows program
// against the real platform/ layers, under Wine in the end-to-end suite. Each
// claim makes its world through a Builder, then asks the seam and says what
// it saw that it should not have.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/sim/world.h"

namespace conformance {

// Makes a claim's keys, files, processes and windows: in the simulated World,
// or for real. Everything lives under a place of the claim's own, and goes
// with the builder.
class Builder {
 public:
  virtual ~Builder() = default;
  // A new key, under HKCU; answers its path from there.
  virtual std::u16string Key() = 0;
  virtual void Value(const std::u16string& key, const char16_t* name, std::uint32_t type,
                     const std::vector<std::uint8_t>& data) = 0;
  // A new key of this name, under a new key; answers its path from HKCU.
  virtual std::u16string NamedKey(const std::u16string& name) = 0;
  // From now on the key grants reading only.
  virtual void ReadOnly(const std::u16string& key) = 0;
  // A new empty folder; answers its full path.
  virtual std::u16string Folder() = 0;
  virtual void File(const std::u16string& path) = 0;
  virtual void Directory(const std::u16string& path) = 0;
  // A file link at path to target, which need not exist.
  virtual void Link(const std::u16string& path, const std::u16string& target) = 0;
  // A running process of this image name (a plain file name), with one
  // visible top-level window when asked; answers its id.
  virtual std::uint32_t Process(const std::u16string& image, bool window) = 0;
  // A window of this thread whose class is not Unicode, and a message posted to it.
  virtual platform::Window AnsiWindow() = 0;
  virtual void Post(platform::Window window, std::uint32_t message) = 0;
  // The Windows release this is, as the simulation's versions name them.
  virtual sim::Version Release() = 0;
  // A new key under HKLM\SOFTWARE, in both registry views; answers its path
  // from HKLM. A value goes into the 64-bit view, or into the 32-bit one
  // (its WOW6432Node copy on a 64-bit machine).
  virtual std::u16string SoftwareKey() = 0;
  virtual void SoftwareValue(const std::u16string& key, bool view64, const char16_t* name,
                             const std::u16string& text) = 0;
  // A program file that carries a version resource; answers its full path.
  virtual std::u16string VersionedProgram() = 0;
  // A new class registered for the machine (HKLM\Software\Classes) and
  // for the user (HKCU\Software\Classes), each with its own open command;
  // answers its name.
  virtual std::u16string ClassForBoth(const std::u16string& machine_command, const std::u16string& user_command) = 0;
};

struct Claim {
  const char* what;
  // Empty when the claim holds; otherwise what the seam answered instead.
  std::string (*check)(Builder& world);
  // Where the claim rests on Microsoft's documentation, which: Wine cannot
  // show it, so it is checked on Windows itself, where it applies. (Where
  // Wine answers otherwise than Windows is tests/e2e/platforms.py's table.)
  const char* documented = nullptr;
};

const std::vector<Claim>& Claims();

}  // namespace conformance
