// The text rules against a plain model: every answer recomputed character
// by character, with 1-based positions as the rules state them.
#include <cstdlib>

#include "tests/fuzz/fuzz_input.h"
#include "text/text.h"

namespace {

using text::Position;

char16_t ModelLower(char16_t c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }

bool MatchesAt(const std::u16string& s, const std::u16string& piece, std::size_t i, bool fold) {
  if (i + piece.size() > s.size()) return false;
  for (std::size_t j = 0; j < piece.size(); ++j) {
    char16_t a = s[i + j], b = piece[j];
    if (fold) a = ModelLower(a), b = ModelLower(b);
    if (a != b) return false;
  }
  return true;
}

Position ModelPos(const std::u16string& s, const std::u16string& piece, bool fold) {
  if (piece.empty()) return 0;
  for (std::size_t i = 0; i < s.size(); ++i)
    if (MatchesAt(s, piece, i, fold)) return static_cast<Position>(i) + 1;
  return 0;
}

// Characters at positions p..q, each taken only if it exists.
std::u16string ModelSlice(const std::u16string& s, Position p, Position q) {
  std::u16string out;
  for (Position at = p < 1 ? 1 : p; at <= q; ++at) {
    if (at > static_cast<Position>(s.size())) break;
    out += s[static_cast<std::size_t>(at - 1)];
  }
  return out;
}

std::u16string ModelReplace(const std::u16string& s, const std::u16string& what, const std::u16string& with) {
  if (what.empty()) return s;
  std::u16string out;
  for (std::size_t i = 0; i < s.size();) {
    if (MatchesAt(s, what, i, false)) {
      out += with;
      i += what.size();
    } else {
      out += s[i++];
    }
  }
  return out;
}

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const std::u16string s = in.Text(40), piece = in.Text(4), with = in.Text(6);
  const Position p = static_cast<std::int8_t>(in.Byte()), q = static_cast<std::int8_t>(in.Byte());
  const Position end = static_cast<Position>(s.size());

  Check(text::Pos(s, piece) == ModelPos(s, piece, false));
  Check(text::PosIgnoringAsciiCase(s, piece) == ModelPos(s, piece, true));
  Check(text::Left(s, p) == ModelSlice(s, 1, p));
  Check(text::From(s, p) == ModelSlice(s, p, end));
  Check(text::Between(s, p, q) == ModelSlice(s, p, q));
  Check(text::ReplaceAll(s, piece, with) == ModelReplace(s, piece, with));
  for (char16_t c = 0; c < 0x200; ++c) Check(text::LowerAscii(c) == ModelLower(c));
  return 0;
}
