// ReadString over arbitrary value bytes, types and sizes, including a value
// that changes between the size query and the read. The answer must be the
// data's text up to its first NUL, or the documented exception; the
// sanitizers catch any write past the buffer.
#include <cstdlib>
#include <vector>

#include "browser/registry.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/sim/world.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

std::u16string ModelText(const std::vector<std::uint8_t>& bytes, std::size_t chars) {
  std::u16string out;
  // The buffer starts zeroed, so a short read leaves zero bytes after it.
  auto byte = [&](std::size_t i) { return i < bytes.size() ? bytes[i] : 0; };
  for (std::size_t i = 0; i < chars; ++i) {
    const char16_t c = static_cast<char16_t>(byte(2 * i) | (byte(2 * i + 1) << 8));
    if (c == 0) break;
    out += c;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const std::uint8_t shape = in.Byte();
  const std::uint32_t type = shape & 7;  // REG_NONE .. REG_MULTI_SZ
  const bool changes = shape & 8;
  std::vector<std::uint8_t> bytes, later;
  for (std::size_t n = in.Byte(); n > 0 && in.left(); --n) bytes.push_back(in.Byte());
  if (changes)
    for (std::size_t n = in.Byte(); n > 0 && in.left(); --n) later.push_back(in.Byte());

  sim::Reset();
  sim::World& world = sim::TheWorld();
  world.SetRaw(u"HKCU\\K", u"", type, bytes);
  if (changes) world.keys[u"HKCU\\K"].values[u""].after_size_query = later;

  const bool is_text = type == 1 || type == 2;
  const std::vector<std::uint8_t>& read = changes ? later : bytes;
  bool raised = false;
  std::u16string got;
  {
    browser::TRegistry registry;
    Check(registry.OpenKey(u"K"));
    try {
      got = registry.ReadString(u"");
    } catch (const browser::ERegistryException&) {
      raised = true;
    }
  }
  if (bytes.empty()) {
    Check(!raised && got.empty());
  } else if (read.size() > (bytes.size() / 2 + 1) * 2 || !is_text) {
    Check(raised);  // grown past the buffer: the read fails; or not text
  } else {
    Check(!raised && got == ModelText(read, bytes.size() / 2));
  }
  Check(world.open_handles.empty());
  return 0;
}
