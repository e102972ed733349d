#include "text/text.h"

#include <algorithm>

namespace text {
namespace {

Position ToPosition(std::size_t index) { return index == View::npos ? 0 : static_cast<Position>(index) + 1; }

// Converts a clamped 1-based position to an index within s.
std::size_t IndexOf(View s, Position p) {
  if (p < 1) return 0;
  return std::min(static_cast<std::size_t>(p - 1), s.size());
}

}  // namespace

Position Pos(View s, View piece) {
  if (piece.empty()) return 0;
  return ToPosition(s.find(piece));
}

Position PosIgnoringAsciiCase(View s, View piece) {
  if (piece.empty()) return 0;
  auto found = std::search(s.begin(), s.end(), piece.begin(), piece.end(),
                           [](char16_t a, char16_t b) { return LowerAscii(a) == LowerAscii(b); });
  return found == s.end() ? 0 : (found - s.begin()) + 1;
}

Text Left(View s, Position n) { return n < 1 ? Text() : Text(s.substr(0, static_cast<std::size_t>(n))); }

Text From(View s, Position p) { return Text(s.substr(IndexOf(s, p))); }

Text Between(View s, Position p, Position q) {
  std::size_t begin = IndexOf(s, p);
  if (q < 1) return Text();
  std::size_t end = std::min(static_cast<std::size_t>(q), s.size());  // one past position q
  return end <= begin ? Text() : Text(s.substr(begin, end - begin));
}

Text ReplaceAll(View s, View what, View with) {
  if (what.empty()) return Text(s);
  Text out;
  std::size_t done = 0;
  for (std::size_t hit = s.find(what); hit != View::npos; hit = s.find(what, done)) {
    out.append(s.substr(done, hit - done)).append(with);
    done = hit + what.size();
  }
  return out.append(s.substr(done));
}

bool EqualsIgnoringAsciiCase(View a, View b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

}  // namespace text
