#include "doctor/cli.h"

#include "doctor/console.h"
#include "doctor/doctor.h"
#include "doctor/messages.h"
#include "platform/platform.h"
#include "text/utf8.h"

namespace doctor {

using doctor::report_io::LocalTime;
using text::Text;
using text::View;

namespace {

Text TwoDigits(unsigned n) { return Text(1, static_cast<char16_t>(u'0' + n / 10 % 10)) + char16_t(u'0' + n % 10); }

Text Date(const LocalTime& t) { return Decimal(t.year) + u"-" + TwoDigits(t.month) + u"-" + TwoDigits(t.day); }

Text Usage(View launcher_name, Language language) {
  return Say(Message::kUsage, language, Text(launcher_name) + u"-doctor") + u"\n";
}

// Where each folder is, by the name the player knows it by.
struct Folder {
  Text name;
  Text path;
};

// Writes report as a new file in folder; answers its path, or empty with the
// reason in why.
Text SaveIn(const Folder& folder, View launcher_name, const LocalTime& now, const std::string& bytes, bool json,
            Language language, Text* why) {
  namespace io = doctor::report_io;
  for (int attempt = 1; attempt < 100; ++attempt) {
    Text path = folder.path + u"\\" + ReportFileName(launcher_name, now, json, attempt);
    const std::uint32_t error = io::WriteWholeFile(path, bytes);
    if (error == 0) return path;
    if (error != io::kErrorFileExists) {
      *why = folder.name + u": " + io::ErrorText(error);
      return Text();
    }
  }
  *why = folder.name + u": " + Say(Message::kTooManyReports, language);
  return Text();
}

// Writes bytes as the whole of the file at path, which may exist: beside it
// first, then in its place, so that a failed write keeps the old file (and
// the move stays on one volume). Answers 0, or the Windows error code.
std::uint32_t ReplaceFile(const Text& path, const std::string& bytes) {
  namespace io = doctor::report_io;
  for (int attempt = 1; attempt < 100; ++attempt) {
    const Text beside = path + u"." + Decimal(static_cast<unsigned>(attempt)) + u".new";
    std::uint32_t error = io::WriteWholeFile(beside, bytes);
    if (error == io::kErrorFileExists) continue;
    if (error != 0) return error;
    if (io::MoveFileExW(beside.c_str(), path.c_str(), io::kMoveFileReplaceExisting)) return 0;
    error = platform::GetLastError();
    io::DeleteFileW(beside.c_str());
    return error;
  }
  return io::kErrorFileExists;
}

}  // namespace

Text ReportFileName(View launcher_name, const LocalTime& t, bool json, int attempt) {
  Text name = Text(launcher_name) + u"-doctor-report-" + Date(t) + u"-" + TwoDigits(t.hour) + TwoDigits(t.minute) +
              TwoDigits(t.second);
  if (attempt > 1) name += u"-" + Decimal(static_cast<unsigned>(attempt));
  return name + (json ? u".json" : u".txt");
}

std::string FileBytes(View report, bool byte_order_mark) {
  return (byte_order_mark ? "\xEF\xBB\xBF" : "") + text::Utf8WithCrLf(report);
}

Text SaveForSupport(View launcher_name, View report, bool json, const LocalTime& time, Language language) {
  namespace io = doctor::report_io;
  const std::string bytes = FileBytes(report, !json);
  const Folder folders[] = {{Say(Message::kDesktop, language), io::DesktopFolder()},
                            {Say(Message::kCurrentFolder, language), io::CurrentFolder()},
                            {Say(Message::kTemporaryFolder, language), io::TempFolder()}};
  Text reasons;
  for (const Folder& folder : folders) {
    Text why = folder.name + u": " + Say(Message::kFolderNotKnown, language);
    if (!folder.path.empty()) {
      const Text path = SaveIn(folder, launcher_name, time, bytes, json, language, &why);
      if (!path.empty()) return Say(Message::kSavedAs, language, path) + u"\n";
    }
    reasons += (reasons.empty() ? u"" : u"; ") + why;
  }
  return Say(Message::kNotSaved, language, reasons) + u"\n";
}

int RunDoctor(View launcher_name, const std::vector<Text>& args) {
  namespace io = doctor::report_io;
  namespace console = doctor::console;
  const Language language = LanguageOf(io::GetUserDefaultUILanguage());
  bool json = false;
  Text out_path;  // empty: the console
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == u"--json") {
      json = true;
    } else if (args[i] == u"--help" || args[i] == u"/?") {
      console::WriteOut(Usage(launcher_name, language));
      return 0;
    } else if (args[i] == u"--out") {
      if (i + 1 == args.size() || args[i + 1].empty()) {
        console::WriteError(Say(Message::kOutNeedsFile, language) + u"; " + Usage(launcher_name, language));
        return 2;
      }
      out_path = args[++i];
    } else {
      console::WriteError(Usage(launcher_name, language));
      return 2;
    }
  }

  Report report = Diagnose(launcher_name);
  report.language = language;
  const LocalTime t = io::Now();
  report.doctor_name = Text(launcher_name) + u"-doctor";
  report.doctor_version = io::OwnVersion();
  report.run_time = Date(t) + u" " + TwoDigits(t.hour) + u":" + TwoDigits(t.minute) + u":" + TwoDigits(t.second);
  report.current_folder = io::CurrentFolder();
  const Text body = json ? FormatJson(report) : FormatText(report);

  if (!out_path.empty()) {
    const Text path = io::FullPath(out_path);
    const std::uint32_t error = ReplaceFile(path, FileBytes(body, !json));
    if (error != 0) {
      console::WriteError(Say(Message::kCouldNotWrite, language, path) + u": " + io::ErrorText(error) + u"\n");
      return 2;
    }
    console::WriteOut(Say(Message::kReportIn, language, path) + u"\n");
  } else {
    console::WriteOut(body);
  }
  if (console::AloneOnConsole()) {
    // Double-clicked: a player, who cannot copy text out of a console window.
    if (out_path.empty()) console::WriteOut(u"\n" + SaveForSupport(launcher_name, body, json, t, language));
    console::WriteOut(u"\n" + Say(Message::kPressEnter, language));
    console::WaitForEnter();
  }
  return 0;
}

}  // namespace doctor
