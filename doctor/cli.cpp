#include "doctor/cli.h"

#include "doctor/doctor.h"
#include "platform/console.h"
#include "text/utf8.h"

namespace doctor {

using platform::report_io::LocalTime;
using text::Text;
using text::View;

namespace {

Text TwoDigits(unsigned n) { return Text(1, static_cast<char16_t>(u'0' + n / 10 % 10)) + char16_t(u'0' + n % 10); }

Text Date(const LocalTime& t) { return Decimal(t.year) + u"-" + TwoDigits(t.month) + u"-" + TwoDigits(t.day); }

Text Usage(View launcher_name) { return u"usage: " + Text(launcher_name) + u"-doctor [--json] [--out FILE]\n"; }

// Where each folder is, by the name the player knows it by.
struct Folder {
  const char16_t* name;
  Text path;
};

// Writes report as a new file in folder; answers its path, or empty with the
// reason in why.
Text SaveIn(const Folder& folder, View launcher_name, const LocalTime& now, const std::string& bytes, bool json,
            Text* why) {
  namespace io = platform::report_io;
  for (int attempt = 1; attempt < 100; ++attempt) {
    Text path = folder.path + u"\\" + ReportFileName(launcher_name, now, json, attempt);
    const std::uint32_t error = io::WriteWholeFile(path, bytes, false);
    if (error == 0) return path;
    if (error != io::kErrorFileExists) {
      *why = Text(folder.name) + u": " + io::ErrorText(error);
      return Text();
    }
  }
  *why = Text(folder.name) + u": too many reports there already";
  return Text();
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

Text SaveForSupport(View launcher_name, View report, bool json, const LocalTime& time) {
  namespace io = platform::report_io;
  const std::string bytes = FileBytes(report, !json);
  const Folder folders[] = {{u"Desktop", io::DesktopFolder()},
                            {u"the current folder", io::CurrentFolder()},
                            {u"the temporary folder", io::TempFolder()}};
  Text reasons;
  for (const Folder& folder : folders) {
    Text why = Text(folder.name) + u": not known";
    if (!folder.path.empty()) {
      const Text path = SaveIn(folder, launcher_name, time, bytes, json, &why);
      if (!path.empty()) return u"The report is saved as " + path + u": send this file to support.\n";
    }
    reasons += (reasons.empty() ? u"" : u"; ") + why;
  }
  return u"The report could not be saved (" + reasons + u"); copy it from this window instead.\n";
}

int RunDoctor(View launcher_name, const std::vector<Text>& args) {
  namespace io = platform::report_io;
  namespace console = platform::console;
  bool json = false;
  Text out_path;  // empty: the console
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == u"--json") {
      json = true;
    } else if (args[i] == u"--help" || args[i] == u"/?") {
      console::WriteOut(Usage(launcher_name));
      return 0;
    } else if (args[i] == u"--out") {
      if (i + 1 == args.size() || args[i + 1].empty()) {
        console::WriteError(u"--out needs the name of the file to write the report to; " + Usage(launcher_name));
        return 2;
      }
      out_path = args[++i];
    } else {
      console::WriteError(Usage(launcher_name));
      return 2;
    }
  }

  Report report = Diagnose(launcher_name);
  const LocalTime t = io::Now();
  report.doctor_name = Text(launcher_name) + u"-doctor";
  report.doctor_version = io::OwnVersion();
  report.run_time = Date(t) + u" " + TwoDigits(t.hour) + u":" + TwoDigits(t.minute) + u":" + TwoDigits(t.second);
  report.current_folder = io::CurrentFolder();
  const Text body = json ? FormatJson(report) : FormatText(report);

  if (!out_path.empty()) {
    const Text path = io::FullPath(out_path);
    const std::uint32_t error = io::WriteWholeFile(path, FileBytes(body, !json), true);
    if (error != 0) {
      console::WriteError(u"Could not write the report to " + path + u": " + io::ErrorText(error) + u"\n");
      return 2;
    }
    console::WriteOut(u"The report is in " + path + u"\n");
  } else {
    console::WriteOut(body);
  }
  if (console::AloneOnConsole()) {
    // Double-clicked: a player, who cannot copy text out of a console window.
    if (out_path.empty()) console::WriteOut(u"\n" + SaveForSupport(launcher_name, body, json, t));
    console::WriteOut(u"\nPress Enter to close");
    console::WaitForEnter();
  }
  return 0;
}

}  // namespace doctor
