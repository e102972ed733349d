#include "doctor/doctor.h"

#include <algorithm>
#include <string>

#include "app/launch.h"
#include "browser/browser_command.h"
#include "browser/registry.h"
#include "platform/journal.h"
#include "platform/report_io.h"
#include "watch/watch.h"

namespace doctor {

using platform::journal::Entry;
using platform::journal::Kind;
using text::Text;
using text::View;

namespace {

Text Ascii(const std::string& s) { return Text(s.begin(), s.end()); }

Text Quoted(View s) { return u"\"" + Text(s) + u"\""; }

Text TypeName(std::uint32_t type) {
  static const char* const names[] = {"REG_NONE",
                                      "REG_SZ",
                                      "REG_EXPAND_SZ",
                                      "REG_BINARY",
                                      "REG_DWORD",
                                      "REG_DWORD_BIG_ENDIAN",
                                      "REG_LINK",
                                      "REG_MULTI_SZ",
                                      "REG_RESOURCE_LIST",
                                      "REG_FULL_RESOURCE_DESCRIPTOR",
                                      "REG_RESOURCE_REQUIREMENTS_LIST",
                                      "REG_QWORD"};
  return type < std::size(names) ? Ascii(names[type]) : u"type " + Decimal(type);
}

Text ErrorOutcome(std::int32_t status) {
  switch (status) {
    case 2:
      return u"absent";
    case 5:
      return u"access denied";
    default:
      return u"failed with error " + Decimal(static_cast<std::uint32_t>(status));
  }
}

bool IsText(std::uint32_t type) { return type == platform::kRegSz || type == platform::kRegExpandSz; }

RegistryStep Describe(const Entry& e) {
  if (e.kind == Kind::KeyOpen) {
    const bool probe = e.rights == browser::TRegistry::kProbeRights;
    Text outcome = e.status == 0 ? Text(probe ? u"found" : u"opened") : ErrorOutcome(e.status);
    return {probe ? u"look for key" : u"open key for reading", e.path, u"", outcome};
  }
  const Text value = e.name.empty() ? u"(default)" : e.name;
  if (!e.with_buffer) {
    Text outcome = e.status != 0 ? ErrorOutcome(e.status)
                   : e.size == 0 ? Text(u"empty")
                                 : TypeName(e.type) + u", " + Decimal(e.size) + u" bytes";
    return {u"query value", e.path, value, outcome};
  }
  Text outcome = e.status != 0     ? u"read failed with error " + Decimal(static_cast<std::uint32_t>(e.status))
                 : !IsText(e.type) ? u"not text (" + TypeName(e.type) + u")"
                 : e.text.empty()  ? Text(u"empty")
                                   : Quoted(e.text);
  return {u"read value", e.path, value, outcome};
}

bool Is(const Entry& e, View root, View key) { return e.path == Text(root) + u"\\" + Text(key); }

struct Stop {
  Text reason;
  Message advice;
};

// Why discovery found no program, from where its steps ended, and what the
// player can do about it.
Stop StopReason(const Report& r, const std::vector<Entry>& journal) {
  if (!r.version_known) return {u"the Windows version could not be read", Message::kVersionUnknown};
  const Entry* last = nullptr;
  for (const Entry& e : journal)
    if (e.kind == Kind::KeyOpen || e.kind == Kind::ValueQuery) last = &e;
  const bool vista = r.major >= 6;
  if (last == nullptr) return {u"no registry key was read", Message::kNoUserChoice};
  if (last->kind == Kind::KeyOpen && last->status != 0) {
    const Text outcome = ErrorOutcome(last->status);
    if (!vista) return {u"the http class has no open command (" + outcome + u")", Message::kNoUserChoice};
    if (Is(*last, u"HKCU", browser::kUserChoiceKey))
      return {u"no default browser is recorded for http links (the UserChoice key is " + outcome + u")",
              last->status == 2 ? Message::kNoUserChoice : Message::kChoiceUnreadable};
    // An empty ProgId names no class at all.
    return {u"the chosen class " + Quoted(r.prog_id) + u" has no usable open command (" + outcome +
                u"): a packaged browser, or one that was uninstalled",
            r.prog_id.empty() ? Message::kNoUserChoice : Message::kClassWithoutCommand};
  }
  if (last->kind == Kind::ValueQuery && (last->status != 0 || (last->with_buffer && !IsText(last->type))))
    return {u"the value " + Quoted(last->name) + u" of " + last->path + u" is " + Describe(*last).outcome,
            last->path.rfind(u"HKCU\\", 0) == 0 ? Message::kChoiceUnreadable : Message::kClassWithoutCommand};
  if (!vista && !text::Contains(r.command, u".exe"))
    return {u"the http class's command names no \".exe\"", Message::kNoQuotedProgram};
  return {u"the open command has no quoted program path (" + Quoted(r.command) + u"), so no program is found in it",
          Message::kNoQuotedProgram};
}

Text FileWhy(const char16_t* path, bool present) {
  using namespace platform;
  const std::uint32_t attributes = GetFileAttributesW(path);
  if (attributes == kInvalidFileAttributes) {
    const std::uint32_t error = GetLastError();
    if (error == kErrorFileNotFound) return u"not found";
    if (error == kErrorPathNotFound) return u"its folder is not found";
    if (error == kErrorInvalidName) return u"not a valid name";
    const Text listing = present ? u"the folder listing shows it" : u"the folder listing does not show it";
    if (error == kErrorSharingViolation) return u"locked by another program; " + listing;
    if (error == kErrorAccessDenied) return u"access denied; " + listing;
    return u"unreadable (error " + Decimal(error) + u"); " + listing;
  }
  const bool directory = (attributes & kFileAttributeDirectory) != 0;
  if ((attributes & kFileAttributeReparsePoint) != 0) {
    if (directory) return u"a link to a folder, not a file";
    return present ? u"a link to a file" : u"a link whose target is missing or cannot be opened";
  }
  return directory ? u"a folder, not a file" : u"a file";
}

// The processes the watch would count, and which of them have a window the
// watch would count; answers whether the windows could be listed.
bool FindMatchingProcesses(View name, std::vector<MatchingProcess>* found) {
  watch::AnyProcess([&](View image, std::uint32_t id) {
    if (watch::ImageNameMatches(image, name)) found->push_back({Text(image), id, false});
    return false;  // all of them
  });
  const watch::WindowLook look = watch::AnyTaskbarWindow([&](std::uint32_t id) {
    for (MatchingProcess& p : *found) p.open_window = p.open_window || p.id == id;
    return false;  // all of them
  });
  return look != watch::WindowLook::kFailed;
}

std::size_t WithOpenWindow(const Report& r) {
  return std::count_if(r.matching_processes.begin(), r.matching_processes.end(),
                       [](const MatchingProcess& p) { return p.open_window; });
}

Text JoinFollowUps(const Report& r) {
  Text out;
  for (const FollowUp& f : r.follow_ups) {
    if (!f.present) continue;
    out += (out.empty() ? u"" : u", then ") + f.path;
  }
  return out.empty() ? u"nothing (no follow-up item is present)" : out;
}

Text Verdict(const Report& r) {
  if (!r.browser_found)
    return u"No browser would start: " + r.stop_reason +
           u". The shell would be asked for an empty program and refuse it, so the launcher would not wait and "
           u"would open at once: " +
           JoinFollowUps(r) + u".";
  Text v = u"The launcher would start " + r.launch_file + u" through the shell";
  if (r.program_file_missing)
    return v +
           u", but that file does not exist: the shell would refuse it, so the launcher would not wait and "
           u"would open at once: " +
           JoinFollowUps(r) + u".";
  if (r.watched_name.empty()) {
    v += u", find no image name to watch, and stop waiting after one second";
  } else {
    v += u", then wait while any process whose name contains " + Quoted(r.watched_name) + u" runs";
    v += u", but no longer than until the browser's windows have all closed";
    if (r.launcher_name_matches)
      v += u"; its own process name contains that too, so only a browser window closing, or being told to quit, "
           u"would end its wait";
    else if (!r.matching_processes.empty())
      v += u"; " + Decimal(r.matching_processes.size()) + u" such processes run now, " + Decimal(WithOpenWindow(r)) +
           u" of them with an open window (processes left running in the background do not keep it waiting once "
           u"a browser window has opened and closed)";
  }
  return v + u". Then it would open: " + JoinFollowUps(r) + u".";
}

}  // namespace

Text Decimal(std::uint64_t n) { return Ascii(std::to_string(n)); }

Report Diagnose(View launcher_name) {
  // The launcher's own run; this platform reports the shell calls instead of
  // making them, and refuses the launch, so nothing waits.
  app::RunLauncher();

  Report r;
  const std::vector<Entry>& journal = platform::journal::Entries();
  std::vector<Text> opened;
  for (const Entry& e : journal) {
    switch (e.kind) {
      case Kind::Version:
        r.version_known = e.status == 0;
        r.major = e.major;
        r.minor = e.minor;
        r.build = e.build;
        break;
      case Kind::KeyOpen:
      case Kind::ValueQuery:
        r.steps.push_back(Describe(e));
        break;
      case Kind::Launch:
        r.launch_file = e.path;
        r.launch_parameters = e.name;
        break;
      case Kind::Open:
        opened.push_back(e.path);
        break;
    }
    if (e.kind != Kind::ValueQuery || !e.with_buffer || e.status != 0 || !IsText(e.type)) continue;
    if (Is(e, u"HKCU", browser::kUserChoiceLatestKey) && e.name == browser::kLatestProgIdValue && !e.text.empty()) {
      r.prog_id = e.text;
      r.prog_id_source = u"newer key";
    } else if (Is(e, u"HKCU", browser::kUserChoiceKey) && e.name == browser::kProgIdValue) {
      r.prog_id = e.text;
      r.prog_id_source = u"legacy key";
    } else if (e.name.empty() && e.path.rfind(u"HKCR\\", 0) == 0) {
      r.command_read = true;
      r.command = e.text;
    }
  }
  if (r.version_known)
    r.lookup = r.major >= 6 ? u"the user's choice for http links (Windows Vista and later)"
                            : u"the http class's open command (Windows XP and earlier)";
  if (r.version_known && r.major < 6 && r.command_read) {
    r.prog_id = u"http";
    r.prog_id_source = u"http class";
  }
  if (r.command_read) {
    const browser::Command split = browser::SplitCommand(r.command);
    r.program = split.Program;
    r.arguments = split.Arguments;
  }

  r.browser_found = !browser::BrowserCommand.Program.empty();
  if (r.browser_found) {
    const View program = browser::BrowserCommand.Program;
    // Only a plain quoted path can be checked; the shell expands the rest.
    if (program.size() > 2 && program.front() == u'"' && !text::Contains(program, u"%")) {
      const Text path(program.substr(1, program.size() - 2));
      r.program_file_missing = !app::FileExists(path.c_str());
    }
    r.watched_name = watch::DeriveWatchedName(program);
    r.opera_stub = watch::IsOperaStub(program);
    r.windows_listed = FindMatchingProcesses(r.watched_name, &r.matching_processes);
    r.launcher_name_matches = watch::ImageNameMatches(Text(launcher_name) + u".exe", r.watched_name);
    if (r.program_file_missing) r.what_to_do.push_back(Message::kBrowserMissing);
  } else {
    const Stop stop = StopReason(r, journal);
    r.stop_reason = stop.reason;
    r.what_to_do.push_back(stop.advice);
  }

  // The player double-clicks the doctor in the game's folder; the launcher
  // looks in whatever folder it was started in.
  const Text game_folder = platform::report_io::OwnFolder();
  bool beside_the_doctor = false;
  for (const char16_t* path : {app::kPlayShortcut, app::kGameProgram}) {
    FollowUp f{path, false, u""};
    for (const Text& o : opened) f.present = f.present || o == path;
    f.why = FileWhy(path, f.present);
    beside_the_doctor = beside_the_doctor ||
                        (!f.present && !game_folder.empty() && app::FileExists((game_folder + u"\\" + path).c_str()));
    r.follow_ups.push_back(std::move(f));
  }
  if (beside_the_doctor) r.what_to_do.push_back(Message::kNotInGameFolder);
  if (r.browser_found && !r.program_file_missing && r.windows_listed && !r.matching_processes.empty() &&
      WithOpenWindow(r) == 0)
    r.what_to_do.push_back(Message::kBrowserInBackground);
  if (r.what_to_do.empty()) r.what_to_do.push_back(Message::kNothingToChange);
  r.verdict = Verdict(r);
  return r;
}

}  // namespace doctor
