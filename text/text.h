// UTF-16 text with an explicit length, and the few rules every part of the
// launcher shares. Positions are 1-based, 0 means "not there"; slices clamp
// instead of failing, so callers never have to range-check.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace text {

using Text = std::u16string;
using View = std::u16string_view;
using Position = std::ptrdiff_t;

// Position of the first occurrence of piece in s, 0 when absent. An empty
// piece occurs nowhere.
Position Pos(View s, View piece);
// Same, ignoring the case of ASCII letters only.
Position PosIgnoringAsciiCase(View s, View piece);
inline bool Contains(View s, View piece) { return Pos(s, piece) != 0; }
// Whether a and b are the same text but for the case of ASCII letters.
bool EqualsIgnoringAsciiCase(View a, View b);

// First n characters; n below 1 gives empty text.
Text Left(View s, Position n);
// Characters from position p to the end; p below 1 counts as 1.
Text From(View s, Position p);
// Characters from position p to position q inclusive; empty when q < p.
Text Between(View s, Position p, Position q);

// Every non-overlapping occurrence of what, left to right, replaced by with.
// Inserted text is not scanned again.
Text ReplaceAll(View s, View what, View with);

constexpr char16_t LowerAscii(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

}  // namespace text
