// The doctor's report, as plain text for a person or as one JSON object for
// support tools. Both carry the same facts.
#include <string>

#include "doctor/doctor.h"

namespace doctor {

using text::Text;
using text::View;

namespace {

Text Version(const Report& r) {
  return Decimal(r.major) + u"." + Decimal(r.minor) + u" (build " + Decimal(r.build) + u")";
}

// JSON text with every character outside printable ASCII escaped, so the
// object survives any code page it passes through.
Text Json(View s) {
  static const char16_t hex[] = u"0123456789abcdef";
  Text out = u"\"";
  for (char16_t c : s) {
    if (c == u'"' || c == u'\\') {
      out += u'\\';
      out += c;
    } else if (c < 0x20 || c >= 0x7F) {
      out += u"\\u";
      for (int shift = 12; shift >= 0; shift -= 4) out += hex[(c >> shift) & 0xF];
    } else {
      out += c;
    }
  }
  return out + u"\"";
}

Text Json(bool b) { return b ? u"true" : u"false"; }

class JsonObject {
 public:
  JsonObject& Field(View name, View raw_value) {
    body_ += (body_.empty() ? u"" : u",") + Json(name) + u":" + Text(raw_value);
    return *this;
  }
  Text Close() const { return u"{" + body_ + u"}"; }

 private:
  Text body_;
};

}  // namespace

Text FormatText(const Report& r) {
  Text out = r.doctor_name + u" " + (r.doctor_version.empty() ? Text(u"(no version)") : r.doctor_version) + u", run " +
             r.run_time + u" (local time)\n";
  out += u"Current folder: " + r.current_folder + u" (the follow-up items are looked for here)\n\n";
  out += u"What the game launcher would do on this machine, step by step. Nothing was started.\n\n";
  out += u"Windows\n";
  out += r.version_known ? u"  reports version " + Version(r) + u": the launcher reads " + r.lookup + u".\n"
                         : Text(u"  the version query failed: the launcher would read no registry key.\n");
  if (r.version_known && r.major == 6 && r.minor == 2)
    out += u"  (Windows 8.1, 10 and 11 report 6.2 to programs that do not declare them; the lookup is the same.)\n";

  out += u"\nRegistry\n";
  if (r.steps.empty()) out += u"  (nothing read)\n";
  for (const RegistryStep& s : r.steps) {
    out += u"  " + s.action + u" " + s.key;
    if (!s.value.empty()) out += u", value \"" + s.value + u"\"";
    out += u": " + s.outcome + u"\n";
  }
  if (r.decided == browser::ChoiceRecord::kHttpClass)
    out += u"  class \"http\": Windows XP and earlier use its open command directly\n";
  else if (r.decided != browser::ChoiceRecord::kNone)
    out += u"  ProgId \"" + r.prog_id + u"\", from the " + r.prog_id_source +
           (r.decided == browser::ChoiceRecord::kNewerChoice ? u" (set by Windows 11 24H2 and later)" : u"") + u"\n";
  if (!r.choices.empty()) out += u"  " + r.choices + u"\n";

  out += u"\nBrowser command\n";
  if (r.command_read) {
    out += u"  command:   " + r.command + u"\n";
    out += u"  program:   " + r.program + u"\n";
    out += u"  arguments: " + r.arguments + u"\n";
  } else {
    out += u"  (none read)\n";
  }
  out += u"  the shell would be asked to start: " + (r.launch_file.empty() ? u"(an empty program)" : r.launch_file) +
         u"\n";
  out += u"  with the arguments: " + r.launch_parameters + u"\n";
  if (r.program_file_missing) out += u"  that program file does not exist\n";

  out += u"\nWatch\n";
  if (!r.browser_found) {
    out += u"  no browser, so nothing to watch\n";
  } else {
    out += u"  image name watched: \"" + r.watched_name + u"\"\n";
    if (r.opera_stub) out += u"  (the program is Opera's launcher.exe, which starts opera.exe and exits)\n";
    if (r.matching_processes.empty()) out += u"  running now: none\n";
    for (const MatchingProcess& p : r.matching_processes) {
      out += u"  running now: " + p.image + u" (process " + Decimal(p.id) + u"), ";
      out += !r.windows_listed ? u"windows unknown\n"
             : p.open_window   ? u"with an open window\n"
                               : u"in the background (no open window)\n";
    }
    if (!r.windows_listed) out += u"  the open windows could not be listed\n";
    if (r.launcher_name_matches) out += u"  the launcher's own process name contains it too\n";
    out +=
        u"  The launcher waits while such processes run, and stops once the browser's windows have all closed, "
        u"even if background processes remain.\n";
  }

  out += u"\nFollow-up items in the current folder\n";
  for (const FollowUp& f : r.follow_ups)
    out += u"  " + f.path + u": " + (f.present ? u"present" : u"absent") + u" (" + f.why + u")\n";

  out += u"\nVerdict: " + r.verdict + u"\n";

  // For the player in their language, each line followed by the English one for support.
  const bool english = r.language == Language::kEnglish;
  out += u"\n" + Say(Message::kWhatToDo, Language::kEnglish);
  if (!english) out += u" / " + Say(Message::kWhatToDo, r.language);
  out += u"\n";
  for (Message advice : r.what_to_do) {
    out += u"  [" + CauseId(advice) + u"] " + Say(advice, r.language) + u"\n";
    if (!english) out += u"    " + Say(advice, Language::kEnglish) + u"\n";
  }
  return out;
}

Text FormatJson(const Report& r) {
  JsonObject windows;
  windows.Field(u"version_known", Json(r.version_known));
  if (r.version_known) {
    windows.Field(u"major", Decimal(r.major)).Field(u"minor", Decimal(r.minor)).Field(u"build", Decimal(r.build));
    windows.Field(u"lookup", Json(r.lookup));
  }
  Text steps;
  for (const RegistryStep& s : r.steps) {
    JsonObject step;
    step.Field(u"action", Json(s.action)).Field(u"key", Json(s.key));
    if (!s.value.empty()) step.Field(u"value", Json(s.value));
    steps += (steps.empty() ? u"" : u",") + step.Field(u"outcome", Json(s.outcome)).Close();
  }
  Text processes, with_window;
  for (const MatchingProcess& p : r.matching_processes) {
    processes += (processes.empty() ? u"" : u",") + Json(p.image);
    if (!p.open_window) continue;
    with_window += (with_window.empty() ? u"" : u",") +
                   JsonObject().Field(u"image", Json(p.image)).Field(u"pid", Decimal(p.id)).Close();
  }
  Text follow_ups;
  for (const FollowUp& f : r.follow_ups) {
    JsonObject item;
    item.Field(u"path", Json(f.path)).Field(u"present", Json(f.present)).Field(u"why", Json(f.why));
    follow_ups += (follow_ups.empty() ? u"" : u",") + item.Close();
  }

  JsonObject report;
  report.Field(u"doctor", JsonObject()
                              .Field(u"name", Json(r.doctor_name))
                              .Field(u"version", Json(r.doctor_version))
                              .Field(u"run_time", Json(r.run_time))
                              .Field(u"current_folder", Json(r.current_folder))
                              .Close());
  report.Field(u"windows", windows.Close()).Field(u"registry", u"[" + steps + u"]");
  const bool decided = r.decided != browser::ChoiceRecord::kNone;
  report.Field(u"prog_id", decided ? Json(r.prog_id) : Text(u"null"));
  report.Field(u"prog_id_source", decided ? Json(r.prog_id_source) : Text(u"null"));
  if (!r.choices.empty()) report.Field(u"choices", Json(r.choices));
  report.Field(u"command", r.command_read ? Json(r.command) : Text(u"null"));
  report.Field(u"program", Json(r.program)).Field(u"arguments", Json(r.arguments));
  report.Field(u"browser_found", Json(r.browser_found));
  report.Field(u"launch", JsonObject()
                              .Field(u"file", Json(r.launch_file))
                              .Field(u"parameters", Json(r.launch_parameters))
                              .Field(u"program_file_missing", Json(r.program_file_missing))
                              .Close());
  report.Field(u"watched_name", r.browser_found ? Json(r.watched_name) : Text(u"null"));
  report.Field(u"matching_processes", u"[" + processes + u"]");
  report.Field(u"open_window_processes", r.windows_listed ? u"[" + with_window + u"]" : Text(u"null"));
  report.Field(u"launcher_name_matches", Json(r.launcher_name_matches));
  report.Field(u"follow_ups", u"[" + follow_ups + u"]");
  report.Field(u"stop_reason", r.browser_found ? Text(u"null") : Json(r.stop_reason));
  report.Field(u"verdict", Json(r.verdict));
  Text what_to_do;
  for (Message advice : r.what_to_do) {
    JsonObject item;
    item.Field(u"cause", Json(CauseId(advice)))
        .Field(u"text", Json(Say(advice, Language::kEnglish)))
        .Field(u"local", Json(Say(advice, r.language)));
    what_to_do += (what_to_do.empty() ? u"" : u",") + item.Close();
  }
  report.Field(u"what_to_do", u"[" + what_to_do + u"]");
  return report.Close() + u"\n";
}

}  // namespace doctor
