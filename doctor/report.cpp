// The doctor's report, as plain text for a person or as one JSON object for
// support tools. Both are written from one list of sections, each a list of
// facts that says how the text shows it and where the JSON puts it, so a
// fact is added once.
#include <string>

#include "doctor/doctor.h"

namespace doctor {

using text::Text;
using text::View;

namespace {

Text Version(const Report& r) {
  return Decimal(r.major) + u"." + Decimal(r.minor) + u" (build " + Decimal(r.build) + u")";
}

Text Hex4(char16_t c) {
  static const char16_t hex[] = u"0123456789abcdef";
  Text out = u"\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += hex[(c >> shift) & 0xF];
  return out;
}

// JSON text with every character outside printable ASCII escaped, so the
// object survives any code page it passes through.
Text Json(View s) {
  Text out = u"\"";
  for (char16_t c : s) {
    if (c == u'"' || c == u'\\') {
      out += u'\\';
      out += c;
    } else if (c < 0x20 || c >= 0x7F) {
      out += Hex4(c);
    } else {
      out += c;
    }
  }
  return out + u"\"";
}

Text Json(bool b) { return b ? u"true" : u"false"; }

// A fact that may be unknown: null in JSON.
Text JsonOrNull(const std::optional<Text>& s) { return s ? Json(View(*s)) : Text(u"null"); }

Text JsonOrNull(const std::optional<bool>& b) { return b ? Json(*b) : Text(u"null"); }

Text JsonOrNull(const std::optional<std::uint32_t>& n) { return n ? Decimal(*n) : Text(u"null"); }

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

Text List(const std::vector<Text>& items) {
  Text out;
  for (const Text& item : items) out += (out.empty() ? u"" : u",") + item;
  return u"[" + out + u"]";
}

Text YesNo(bool b) { return b ? u"yes" : u"no"; }

// Text from outside (a program's maker, the registry) on a line of the text
// report: its control characters escaped as JSON escapes them.
Text Escaped(View s) {
  Text out;
  for (char16_t c : s) out += c < 0x20 || (c >= 0x7F && c < 0xA0) ? Hex4(c) : Text(1, c);
  return out;
}

// A fact the report names by label in both forms; unknown when it has no value.
Fact Labelled(View label, View key, const std::optional<Text>& value) {
  return {Text(label) + u": " + (value ? Escaped(*value) : Text(u"unknown")), Text(key), JsonOrNull(value)};
}

Fact Labelled(View label, View key, const std::optional<bool>& value) {
  return {Text(label) + u": " + (value ? YesNo(*value) : Text(u"unknown")), Text(key), JsonOrNull(value)};
}

Fact TextLine(Text line) { return {std::move(line), u"", u""}; }

Fact JsonOnly(View key, Text json) { return {u"", Text(key), std::move(json)}; }

Section WindowsSection(const Report& r) {
  Section s{u"Windows", {}};
  s.facts.push_back(r.version_known
                        ? TextLine(u"reports version " + Version(r) + u": the launcher reads " + r.lookup + u".")
                        : TextLine(u"the version query failed: the launcher would read no registry key."));
  if (r.version_known && r.major == 6 && r.minor == 2)
    s.facts.push_back(
        TextLine(u"(Windows 8.1, 10 and 11 report 6.2 to programs that do not declare them; the lookup is the same.)"));
  s.facts.push_back(JsonOnly(u"windows.version_known", Json(r.version_known)));
  if (r.version_known) {
    s.facts.push_back(JsonOnly(u"windows.major", Decimal(r.major)));
    s.facts.push_back(JsonOnly(u"windows.minor", Decimal(r.minor)));
    s.facts.push_back(JsonOnly(u"windows.build", Decimal(r.build)));
    s.facts.push_back(JsonOnly(u"windows.lookup", Json(r.lookup)));
  }
  // As Windows names itself, beside the version the launcher decides by.
  const WindowsNames& w = r.windows_names;
  s.facts.push_back(Labelled(u"as Windows names itself", u"windows.name", r.windows_name));
  s.facts.push_back(Labelled(u"its stored product name", u"windows.product_name", w.product_name));
  s.facts.push_back(Labelled(u"display version", u"windows.display_version", w.display_version));
  const Text build = w.current_build ? *w.current_build + (w.ubr ? u"." + Decimal(*w.ubr) : Text()) : u"unknown";
  s.facts.push_back({u"build: " + build, u"windows.current_build", JsonOrNull(w.current_build)});
  s.facts.push_back(JsonOnly(u"windows.ubr", JsonOrNull(w.ubr)));
  return s;
}

Section MachineSection(const Report& r) {
  const Machine& m = r.machine;
  return {
      u"Machine",
      {Labelled(u"architecture", u"machine.architecture", m.architecture),
       Labelled(u"the doctor's process", u"machine.process_architecture", m.process_architecture),
       Labelled(u"under WOW64", u"machine.wow64", m.wow64), Labelled(u"emulated", u"machine.emulated", m.emulated)}};
}

Section RegistrySection(const Report& r) {
  Section s{u"Registry", {}};
  if (r.steps.empty()) s.facts.push_back(TextLine(u"(nothing read)"));
  std::vector<Text> steps;
  for (const RegistryStep& step : r.steps) {
    Text line = step.action + u" " + step.key;
    if (!step.value.empty()) line += u", value \"" + step.value + u"\"";
    s.facts.push_back(TextLine(line + u": " + step.outcome));
    JsonObject json;
    json.Field(u"action", Json(step.action)).Field(u"key", Json(step.key));
    if (!step.value.empty()) json.Field(u"value", Json(step.value));
    steps.push_back(json.Field(u"outcome", Json(step.outcome)).Close());
  }
  s.facts.push_back(JsonOnly(u"registry", List(steps)));
  if (r.decided == browser::ChoiceRecord::kHttpClass)
    s.facts.push_back(TextLine(u"class \"http\": Windows XP and earlier use its open command directly"));
  else if (r.decided != browser::ChoiceRecord::kNone)
    s.facts.push_back(
        TextLine(u"ProgId \"" + r.prog_id + u"\", from the " + r.prog_id_source +
                 (r.decided == browser::ChoiceRecord::kNewerChoice ? u" (set by Windows 11 24H2 and later)" : u"")));
  const bool decided = r.decided != browser::ChoiceRecord::kNone;
  s.facts.push_back(JsonOnly(u"prog_id", decided ? Json(r.prog_id) : Text(u"null")));
  s.facts.push_back(JsonOnly(u"prog_id_source", decided ? Json(r.prog_id_source) : Text(u"null")));
  if (!r.choices.empty()) s.facts.push_back({r.choices, u"choices", Json(r.choices)});
  return s;
}

Section BrowserCommandSection(const Report& r) {
  Section s{u"Browser command", {}};
  if (r.command_read) {
    s.facts.push_back({u"command:   " + r.command, u"command", Json(r.command)});
    s.facts.push_back({u"program:   " + r.program, u"program", Json(r.program)});
    s.facts.push_back({u"arguments: " + r.arguments, u"arguments", Json(r.arguments)});
  } else {
    s.facts.push_back({u"(none read)", u"command", u"null"});
    s.facts.push_back(JsonOnly(u"program", Json(r.program)));
    s.facts.push_back(JsonOnly(u"arguments", Json(r.arguments)));
  }
  s.facts.push_back(JsonOnly(u"browser_found", Json(r.browser_found)));
  s.facts.push_back(
      {u"the shell would be asked to start: " + (r.launch_file.empty() ? u"(an empty program)" : r.launch_file),
       u"launch.file", Json(r.launch_file)});
  s.facts.push_back({u"with the arguments: " + r.launch_parameters, u"launch.parameters", Json(r.launch_parameters)});
  s.facts.push_back({r.program_file_missing ? u"that program file does not exist" : u"", u"launch.program_file_missing",
                     Json(r.program_file_missing)});
  // The program as it names itself, from its version resource.
  const ProgramVersion& v = r.program_version;
  const bool named = v.product_name || v.file_version || v.company;
  if (v.read && !named) s.facts.push_back(TextLine(u"the program's version resource: no version information"));
  const auto shown = [&](View label, View key, const std::optional<Text>& value) {
    Fact f = Labelled(label, key, value);
    if (!named) f.line.clear();
    s.facts.push_back(f);
  };
  shown(u"the program's product name", u"browser.product_name", v.product_name);
  shown(u"its file version", u"browser.file_version", v.file_version);
  shown(u"its company", u"browser.company", v.company);
  return s;
}

Section WatchSection(const Report& r) {
  Section s{u"Watch", {}};
  if (!r.browser_found) {
    s.facts.push_back(TextLine(u"no browser, so nothing to watch"));
  } else {
    s.facts.push_back(TextLine(u"image name watched: \"" + r.watched_name + u"\""));
    if (r.opera_stub)
      s.facts.push_back(TextLine(u"(the program is Opera's launcher.exe, which starts opera.exe and exits)"));
    if (r.matching_processes.empty()) s.facts.push_back(TextLine(u"running now: none"));
    for (const MatchingProcess& p : r.matching_processes)
      s.facts.push_back(TextLine(u"running now: " + p.image + u" (process " + Decimal(p.id) + u"), " +
                                 (!r.windows_listed ? u"windows unknown"
                                  : p.open_window   ? u"with an open window"
                                                    : u"in the background (no open window)")));
    if (!r.windows_listed) s.facts.push_back(TextLine(u"the open windows could not be listed"));
    if (r.launcher_name_matches) s.facts.push_back(TextLine(u"the launcher's own process name contains it too"));
    s.facts.push_back(
        TextLine(u"The launcher waits while such processes run, and stops once the browser's windows have all closed, "
                 u"even if background processes remain."));
  }
  std::vector<Text> processes, with_window;
  for (const MatchingProcess& p : r.matching_processes) {
    processes.push_back(Json(p.image));
    if (p.open_window)
      with_window.push_back(JsonObject().Field(u"image", Json(p.image)).Field(u"pid", Decimal(p.id)).Close());
  }
  s.facts.push_back(JsonOnly(u"watched_name", r.browser_found ? Json(r.watched_name) : Text(u"null")));
  s.facts.push_back(JsonOnly(u"matching_processes", List(processes)));
  s.facts.push_back(JsonOnly(u"open_window_processes", r.windows_listed ? List(with_window) : Text(u"null")));
  s.facts.push_back(JsonOnly(u"launcher_name_matches", Json(r.launcher_name_matches)));
  return s;
}

Section FollowUpSection(const Report& r) {
  Section s{u"Follow-up items in the current folder", {}};
  std::vector<Text> items;
  for (const FollowUp& f : r.follow_ups) {
    s.facts.push_back(TextLine(f.path + u": " + (f.present ? u"present" : u"absent") + u" (" + f.why + u")"));
    JsonObject item;
    item.Field(u"path", Json(f.path)).Field(u"present", Json(f.present)).Field(u"why", Json(f.why));
    items.push_back(item.Close());
  }
  s.facts.push_back(JsonOnly(u"follow_ups", List(items)));
  return s;
}

Section VerdictSection(const Report& r) {
  return {u"",
          {JsonOnly(u"stop_reason", r.browser_found ? Text(u"null") : Json(r.stop_reason)),
           {u"Verdict: " + r.verdict, u"verdict", Json(r.verdict)}}};
}

}  // namespace

Text Capped(View s) {
  constexpr std::size_t kLongest = 128;
  if (s.size() <= kLongest) return Text(s);
  const bool half = s[kLongest - 1] >= 0xD800 && s[kLongest - 1] < 0xDC00;  // the first half of a character
  return Text(s.substr(0, half ? kLongest - 1 : kLongest));
}

std::vector<Section> Sections(const Report& r) {
  return {WindowsSection(r), MachineSection(r),  RegistrySection(r), BrowserCommandSection(r),
          WatchSection(r),   FollowUpSection(r), VerdictSection(r)};
}

Text FormatText(const Report& r) {
  Text out = r.doctor_name + u" " + (r.doctor_version.empty() ? Text(u"(no version)") : r.doctor_version) + u", run " +
             r.run_time + u" (local time)\n";
  out += u"Current folder: " + r.current_folder + u" (the follow-up items are looked for here)\n\n";
  out += u"What the game launcher would do on this machine, step by step. Nothing was started.\n";
  for (const Section& s : Sections(r)) {
    out += u"\n";
    if (!s.heading.empty()) out += s.heading + u"\n";
    for (const Fact& f : s.facts)
      if (!f.line.empty()) out += (s.heading.empty() ? u"" : u"  ") + f.line + u"\n";
  }

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
  JsonObject report;
  report.Field(u"doctor", JsonObject()
                              .Field(u"name", Json(r.doctor_name))
                              .Field(u"version", Json(r.doctor_version))
                              .Field(u"run_time", Json(r.run_time))
                              .Field(u"current_folder", Json(r.current_folder))
                              .Close());
  // Facts whose key is "object.name" go into that object, which the facts
  // before and after it in the list fill together.
  Text object_name;
  JsonObject object;
  const auto close_object = [&] {
    if (!object_name.empty()) report.Field(object_name, object.Close());
    object_name.clear();
    object = JsonObject();
  };
  for (const Section& s : Sections(r)) {
    for (const Fact& f : s.facts) {
      if (f.key.empty()) continue;
      const std::size_t dot = f.key.find(u'.');
      const Text in = dot == Text::npos ? Text() : f.key.substr(0, dot);
      if (in != object_name) close_object();
      object_name = in;
      if (in.empty())
        report.Field(f.key, f.json);
      else
        object.Field(f.key.substr(dot + 1), f.json);
    }
  }
  close_object();
  std::vector<Text> what_to_do;
  for (Message advice : r.what_to_do) {
    JsonObject item;
    item.Field(u"cause", Json(CauseId(advice)))
        .Field(u"text", Json(Say(advice, Language::kEnglish)))
        .Field(u"local", Json(Say(advice, r.language)));
    what_to_do.push_back(item.Close());
  }
  report.Field(u"what_to_do", List(what_to_do));
  return report.Close() + u"\n";
}

}  // namespace doctor
