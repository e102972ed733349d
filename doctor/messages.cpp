#include "doctor/messages.h"

#include <iterator>

namespace doctor {

namespace {

struct Row {
  Message message;
  const char16_t* cause;  // the id of the cause a piece of advice answers; null for the rest
  const char16_t* text[kLanguageCount];
};

// One row per message, one column per language, in the order of Message.
// clang-format off
constexpr Row kMessages[] = {
    {Message::kSavedAs, nullptr,
     {u"The report is saved as %1: send this file to support.",
      u"Отчёт сохранён в файле %1. Отправьте этот файл в службу поддержки."}},
    {Message::kNotSaved, nullptr,
     {u"The report could not be saved (%1); copy it from this window instead.",
      u"Не удалось сохранить отчёт (%1). Скопируйте его из этого окна."}},
    {Message::kDesktop, nullptr, {u"Desktop", u"Рабочий стол"}},
    {Message::kCurrentFolder, nullptr, {u"the current folder", u"текущая папка"}},
    {Message::kTemporaryFolder, nullptr, {u"the temporary folder", u"папка временных файлов"}},
    {Message::kFolderNotKnown, nullptr, {u"not known", u"путь неизвестен"}},
    {Message::kTooManyReports, nullptr, {u"too many reports there already", u"там уже слишком много отчётов"}},
    {Message::kReportIn, nullptr, {u"The report is in %1", u"Отчёт записан в файл %1"}},
    {Message::kCouldNotWrite, nullptr, {u"Could not write the report to %1", u"Не удалось записать отчёт в файл %1"}},
    {Message::kUsage, nullptr, {u"usage: %1 [--json] [--out FILE]", u"использование: %1 [--json] [--out ФАЙЛ]"}},
    {Message::kOutNeedsFile, nullptr,
     {u"--out needs the name of the file to write the report to", u"после --out укажите имя файла для отчёта"}},
    {Message::kPressEnter, nullptr, {u"Press Enter to close", u"Нажмите Enter, чтобы закрыть окно"}},

    {Message::kWhatToDo, nullptr, {u"What to do", u"Что делать"}},
    {Message::kNoUserChoice, u"no_user_choice",
     {u"No default browser is recorded for web links. Choose one in Settings > Apps > Default apps (on Windows 7: "
      u"Control Panel > Default Programs), then start the game again.",
      u"Браузер по умолчанию для ссылок не выбран. Выберите его в «Параметры» > «Приложения» > «Приложения по "
      u"умолчанию» (в Windows 7: «Панель управления» > «Программы по умолчанию») и снова запустите игру."}},
    {Message::kChoiceUnreadable, u"choice_unreadable",
     {u"The record of the default browser cannot be read. Choose the default browser again in Settings > Apps > "
      u"Default apps; that writes the record anew.",
      u"Не удаётся прочитать, какой браузер выбран по умолчанию. Выберите браузер по умолчанию заново в "
      u"«Параметры» > «Приложения» > «Приложения по умолчанию»: запись обновится."}},
    {Message::kClassWithoutCommand, u"class_without_command",
     {u"The default browser registers only a handler and no program to start, as browsers installed from the "
      u"Microsoft Store do. Choose as default a browser installed from its maker's website.",
      u"Браузер по умолчанию не указывает программу для запуска, как браузеры из Microsoft Store. Выберите по "
      u"умолчанию браузер, установленный с сайта его разработчика."}},
    {Message::kNoQuotedProgram, u"no_quoted_program",
     {u"The default browser's command names no program that can be started. Choose another default browser, or "
      u"reinstall this one.",
      u"В команде браузера по умолчанию нет программы, которую можно запустить. Выберите другой браузер по "
      u"умолчанию или переустановите этот."}},
    {Message::kBrowserMissing, u"browser_missing",
     {u"The default browser's program file is missing: the browser was removed or moved. Reinstall it, or choose "
      u"another default browser.",
      u"Файл браузера по умолчанию не найден: браузер удалён или перемещён. Переустановите его или выберите "
      u"другой браузер по умолчанию."}},
    {Message::kVersionUnknown, u"version_unknown",
     {u"Windows did not report its version, so no browser is looked for. Restart the computer and try again; if "
      u"it happens again, send this report to support.",
      u"Windows не сообщила свою версию, поэтому браузер не ищется. Перезагрузите компьютер и попробуйте снова; "
      u"если это повторится, отправьте этот отчёт в службу поддержки."}},
    {Message::kNotInGameFolder, u"not_in_game_folder",
     {u"play.url or fscommand\\wgame.exe is missing from the current folder but present in the game's folder: the "
      u"launcher was started from another folder. Start the game from its shortcut, or set the shortcut's "
      u"\"Start in\" to the game's folder.",
      u"Файлов play.url или fscommand\\wgame.exe нет в текущей папке, но они есть в папке игры: программа "
      u"запуска запущена из другой папки. Запускайте игру с её ярлыка или укажите папку игры в поле «Рабочая "
      u"папка» в свойствах ярлыка."}},
    {Message::kBrowserInBackground, u"browser_in_background",
     {u"The browser runs in the background now, without a window, as Edge's Startup boost and Chrome's background "
      u"apps do. The launcher stops once the browser's window closes, so nothing needs doing.",
      u"Браузер сейчас работает в фоне, без окна: так делают ускорение запуска Edge и фоновые приложения Chrome. "
      u"Программа запуска завершится, когда окно браузера закроется, поэтому ничего делать не нужно."}},
    {Message::kChoicesDisagree, u"choices_disagree",
     {u"Windows holds two different records of the default browser, and the launcher opens the game in the one "
      u"the newer record names, which may not be the browser you chose. Choose the default browser again in "
      u"Settings > Apps > Default apps, then start the game again.",
      u"В Windows записаны два разных браузера по умолчанию, и игра откроется в том, что указан в новой записи, "
      u"а это может быть не тот браузер, который вы выбрали. Выберите браузер по умолчанию заново в «Параметры» > "
      u"«Приложения» > «Приложения по умолчанию» и снова запустите игру."}},
    {Message::kNothingToChange, u"nothing_to_change",
     {u"Nothing needs changing: the launcher would open the game in the default browser. If nothing happens when "
      u"the game starts, send this report to support.",
      u"Ничего менять не нужно: программа запуска откроет игру в браузере по умолчанию. Если при запуске игры "
      u"ничего не происходит, отправьте этот отчёт в службу поддержки."}},
};
// clang-format on

constexpr bool InOrder() {
  for (std::size_t i = 0; i < std::size(kMessages); ++i)
    if (static_cast<std::size_t>(kMessages[i].message) != i) return false;
  return true;
}
static_assert(InOrder() && std::size(kMessages) == static_cast<std::size_t>(Message::kNothingToChange) + 1,
              "one row per message, in the order of Message");

}  // namespace

Language LanguageOf(std::uint16_t ui_language) {
  constexpr std::uint16_t kPrimaryRussian = 0x19;
  return (ui_language & 0x3FF) == kPrimaryRussian ? Language::kRussian : Language::kEnglish;
}

text::Text Say(Message message, Language language, text::View detail) {
  const Row& row = kMessages[static_cast<std::size_t>(message)];
  return text::ReplaceAll(row.text[static_cast<std::size_t>(language)], u"%1", detail);
}

text::Text CauseId(Message advice) {
  const char16_t* id = kMessages[static_cast<std::size_t>(advice)].cause;
  return id != nullptr ? id : u"";
}

}  // namespace doctor
