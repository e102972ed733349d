#include <gtest/gtest.h>

#include "text/text.h"

namespace {

using text::Position;

TEST(Text, PositionsAreOneBasedAndEmptyPiecesOccurNowhere) {
  struct Case {
    const char16_t* s;
    const char16_t* piece;
    Position at;
  } cases[] = {
      {u"abc", u"a", 1}, {u"abc", u"c", 3}, {u"abcabc", u"bc", 2}, {u"abc", u"d", 0}, {u"abc", u"", 0},
      {u"", u"", 0},     {u"", u"a", 0},    {u"ab", u"abc", 0},    {u"aA", u"A", 2},  // case-sensitive
  };
  for (const Case& c : cases)
    EXPECT_EQ(text::Pos(c.s, c.piece), c.at) << "Pos in " << testing::PrintToString(std::u16string(c.s));
}

TEST(Text, AsciiCaseIsIgnoredOnlyForAsciiLetters) {
  struct Case {
    const char16_t* s;
    const char16_t* piece;
    Position at;
  } cases[] = {
      {u"MyBrowser.EXE", u"browser.exe", 3},
      {u"BROWSER.EXE", u"browser.exe", 1},
      {u"\u00C9cran.exe", u"\u00E9cran.exe", 0},  // É and é differ beyond ASCII
      {u"\u0130x", u"ix", 0},                     // dotted capital I is not I
      {u"[x]", u"{X}", 0},                        // punctuation next to letters stays itself
      {u"abc", u"", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(text::PosIgnoringAsciiCase(c.s, c.piece), c.at);
}

TEST(Text, SlicesClampInsteadOfFailing) {
  const std::u16string s = u"abcdef";
  EXPECT_EQ(text::Left(s, 3), u"abc");
  EXPECT_EQ(text::Left(s, 1), u"a");
  EXPECT_EQ(text::Left(s, 0), u"");
  EXPECT_EQ(text::Left(s, -5), u"");
  EXPECT_EQ(text::Left(s, 99), s);
  EXPECT_EQ(text::From(s, 3), u"cdef");
  EXPECT_EQ(text::From(s, 0), s);
  EXPECT_EQ(text::From(s, -7), s);
  EXPECT_EQ(text::From(s, 7), u"");
  EXPECT_EQ(text::From(s, 99), u"");
  EXPECT_EQ(text::Between(s, 2, 4), u"bcd");
  EXPECT_EQ(text::Between(s, 4, 4), u"d");
  EXPECT_EQ(text::Between(s, 5, 4), u"");  // ends before it begins
  EXPECT_EQ(text::Between(s, -3, 2), u"ab");
  EXPECT_EQ(text::Between(s, 5, 99), u"ef");
  EXPECT_EQ(text::Between(s, 0, 0), u"");
  EXPECT_EQ(text::Between(s, 1, 0), u"");  // ends below position 1
  EXPECT_EQ(text::Between(s, -4, -1), u"");
  EXPECT_EQ(text::Between(s, 3, 2), u"");
  EXPECT_EQ(text::Between(u"", 1, 1), u"");
}

TEST(Text, ReplaceAllScansLeftToRightWithoutRescanning) {
  struct Case {
    const char16_t* s;
    const char16_t* what;
    const char16_t* with;
    const char16_t* expected;
  } cases[] = {
      {u"-url \"%1\"", u"%1", u"X", u"-url \"X\""},
      {u"%1 %1", u"%1", u"ab", u"ab ab"},
      {u"%1%1", u"%1", u"%1%1", u"%1%1%1%1"},  // inserted text is not replaced again
      {u"%%11", u"%1", u"", u"%1"},            // nor is text the removal brings together
      {u"aaa", u"aa", u"b", u"ba"},            // occurrences do not overlap
      {u"none", u"%1", u"X", u"none"},
      {u"", u"%1", u"X", u""},
      {u"abc", u"", u"X", u"abc"},  // an empty piece occurs nowhere
  };
  for (const Case& c : cases) EXPECT_EQ(text::ReplaceAll(c.s, c.what, c.with), c.expected);
}

}  // namespace
