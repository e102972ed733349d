// What the doctor says to the player, in the player's language: the lines on
// its console and the advice that closes its report. The report itself stays
// in English, for support and for scripts.
#pragma once

#include <cstdint>

#include "text/text.h"

namespace doctor {

// A column of the message table; adding a language is adding a column.
enum class Language : std::uint8_t { kEnglish, kRussian };
inline constexpr std::size_t kLanguageCount = 2;

// The language for a Windows UI language id (GetUserDefaultUILanguage):
// Russian for any Russian sublanguage, English otherwise.
Language LanguageOf(std::uint16_t ui_language);

enum class Message : std::uint8_t {
  // The console.
  kSavedAs,
  kNotSaved,
  kDesktop,
  kCurrentFolder,
  kTemporaryFolder,
  kFolderNotKnown,
  kTooManyReports,
  kReportIn,
  kCouldNotWrite,
  kUsage,
  kOutNeedsFile,
  kPressEnter,
  // The report's closing section, and one piece of advice per cause found.
  kWhatToDo,
  kNoUserChoice,
  kChoiceUnreadable,
  kClassWithoutCommand,
  kNoQuotedProgram,
  kBrowserMissing,
  kVersionUnknown,
  kNotInGameFolder,
  kBrowserInBackground,
  kChoicesDisagree,
  kNothingToChange,
};

// message in language, with "%1" replaced by detail.
text::Text Say(Message message, Language language, text::View detail = {});

// The stable id of the cause a piece of advice answers ("no_user_choice"),
// which support can answer from alone.
text::Text CauseId(Message advice);

}  // namespace doctor
