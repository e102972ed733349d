#include "doctor/doctor.h"

#include <algorithm>
#include <string>

#include "app/launch.h"
#include "browser/browser_command.h"
#include "browser/registry.h"
#include "doctor/journal.h"
#include "doctor/machine.h"
#include "doctor/report_io.h"
#include "watch/watch.h"

namespace doctor {

using browser::ChoiceRecord;
using browser::DiscoveryEnd;
using journal::Entry;
using journal::Kind;
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

Text ErrorOutcome(std::uint32_t error) {
  switch (error) {
    case platform::kErrorFileNotFound:
      return u"absent";
    case platform::kErrorAccessDenied:
      return u"access denied";
    default:
      return u"failed with error " + Decimal(error);
  }
}

bool IsText(std::uint32_t type) { return type == platform::kRegSz || type == platform::kRegExpandSz; }

// What a value query saw: its size query, or the read of its data (text: what
// a successful read of text held).
Text ValueOutcome(bool with_buffer, std::int32_t status, std::uint32_t type, std::uint32_t size, View text) {
  if (!with_buffer)
    return status != platform::kErrorSuccess ? ErrorOutcome(static_cast<std::uint32_t>(status))
           : size == 0                       ? Text(u"empty")
                                             : TypeName(type) + u", " + Decimal(size) + u" bytes";
  return status != platform::kErrorSuccess ? u"read failed with error " + Decimal(static_cast<std::uint32_t>(status))
         : !IsText(type)                   ? u"not text (" + TypeName(type) + u")"
         : text.empty()                    ? Text(u"empty")
                                           : Quoted(text);
}

Text Hex(std::uint32_t n) {
  static const char16_t digits[] = u"0123456789ABCDEF";
  Text out = u"0x";
  for (int shift = 28; shift >= 0; shift -= 4) out += digits[(n >> shift) & 0xF];
  return out;
}

RegistryStep Describe(const Entry& e) {
  if (e.kind == Kind::ShellQuery) {
    const bool said = e.status == platform::kSOk || (!e.with_buffer && e.status == platform::kSFalse);
    return {e.with_buffer ? u"read the shell's answer for" : u"ask the shell the length of",
            e.rights == platform::kAssocStrCommand ? u"http links' open command" : u"http links' class", u"",
            !said           ? u"cannot say (" + Hex(static_cast<std::uint32_t>(e.status)) + u")"
            : e.with_buffer ? Quoted(e.text)
                            : Decimal(e.size) + u" characters"};
  }
  if (e.kind == Kind::KeyOpen) {
    const bool probe = e.rights == browser::TRegistry::kProbeRights;
    Text outcome = e.status == platform::kErrorSuccess ? Text(probe ? u"found" : u"opened")
                                                       : ErrorOutcome(static_cast<std::uint32_t>(e.status));
    return {probe ? u"look for key" : u"open key for reading", e.path, u"", outcome};
  }
  return {e.with_buffer ? u"read value" : u"query value", e.path, e.name.empty() ? u"(default)" : e.name,
          ValueOutcome(e.with_buffer, e.status, e.type, e.size, e.text)};
}

struct Stop {
  Text reason;
  Message advice;
};

// A value of the key named that could not be read, as discovery recorded
// its read. (Only a successful read of empty text stops discovery, so no text
// is needed.)
Stop ValueStop(const browser::Discovery& d, View key, View name, Message advice) {
  const browser::TRegistry::ValueRead& read = d.value_read;
  return {u"the value " + Quoted(name) + u" of " + Text(key) + u" is " +
              ValueOutcome(read.with_buffer, read.status, read.type, read.size, u""),
          advice};
}

// The open command's key that discovery read: the chosen class's (an empty
// choice names the classes' root), or before Vista the http class's.
Text CommandKey(const browser::Discovery& d) {
  if (d.major < 6) return u"HKCR\\" + Text(browser::kHttpOpenCommandKey);
  return (d.prog_id.empty() ? Text(u"HKCR") : u"HKCR\\" + d.prog_id) + browser::kOpenCommandSuffix;
}

// Why discovery found no program, as it recorded it, and what the player can
// do about it.
Stop StopReason(const browser::Discovery& d) {
  const Text key_outcome = ErrorOutcome(d.key_error);
  switch (d.end) {
    case DiscoveryEnd::kNoWindowsVersion:
      return {u"the Windows version could not be read", Message::kVersionUnknown};
    case DiscoveryEnd::kNoChoice:
    case DiscoveryEnd::kChoiceUnreadable:
      if (d.key_error == 0)
        return ValueStop(d, u"HKCU\\" + Text(browser::kUserChoiceKey), browser::kProgIdValue,
                         Message::kChoiceUnreadable);
      return {u"no default browser is recorded for http links (the UserChoice key is " + key_outcome + u")",
              d.end == DiscoveryEnd::kNoChoice ? Message::kNoUserChoice : Message::kChoiceUnreadable};
    case DiscoveryEnd::kCommandUnreadable:
      return ValueStop(d, CommandKey(d), u"", Message::kClassWithoutCommand);
    case DiscoveryEnd::kChoiceEmpty:
    case DiscoveryEnd::kNoOpenCommand:
      if (d.major < 6) return {u"the http class has no open command (" + key_outcome + u")", Message::kNoUserChoice};
      // An empty ProgId names no class at all.
      return {u"the chosen class " + Quoted(d.prog_id) + u" has no usable open command (" + key_outcome +
                  u"): a packaged browser, or one that was uninstalled",
              d.end == DiscoveryEnd::kChoiceEmpty ? Message::kNoUserChoice : Message::kClassWithoutCommand};
    case DiscoveryEnd::kNoExe:
      return {u"the http class's command names no \".exe\"", Message::kNoQuotedProgram};
    case DiscoveryEnd::kFound:
      break;
  }
  return {u"the open command has no quoted program path (" + Quoted(d.command) + u"), so no program is found in it",
          Message::kNoQuotedProgram};
}

Text Listing(const app::FileState& state) {
  return state.listed_as_file ? u"the folder listing shows it" : u"the folder listing does not show it";
}

Text FileWhy(const app::FileState& state) {
  using app::FileKind;
  switch (state.kind) {
    case FileKind::kFile:
      return u"a file";
    case FileKind::kAbsent:
      return u"not found";
    case FileKind::kFolderAbsent:
      return u"its folder is not found";
    case FileKind::kInvalidName:
      return u"not a valid name";
    case FileKind::kFolder:
      return u"a folder, not a file";
    case FileKind::kLinkToFile:
      return u"a link to a file";
    case FileKind::kLinkToFolder:
      return u"a link to a folder, not a file";
    case FileKind::kLinkTargetGone:
      return u"a link whose target is missing or cannot be opened";
    case FileKind::kLocked:
      return u"locked by another program; " + Listing(state);
    case FileKind::kAccessDenied:
      return u"access denied; " + Listing(state);
    case FileKind::kUnreadable:
      break;
  }
  return u"unreadable (error " + Decimal(state.error) + u"); " + Listing(state);
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
  // The launcher's own run; this platform refuses the shell calls, so the
  // launch starts nothing and nothing waits.
  app::RunLauncher();

  Report r;
  const browser::Discovery& d = browser::LastDiscovery;
  r.version_known = d.end != DiscoveryEnd::kNoWindowsVersion;
  r.major = d.major;
  r.minor = d.minor;
  r.build = d.build;
  if (r.version_known)
    r.lookup = r.major >= 6 ? u"the user's choice for http links (Windows Vista and later)"
                            : u"the http class's open command (Windows XP and earlier)";
  r.windows_names = ReadWindowsNames(r.version_known, r.major, r.minor);
  r.windows_name = PersonName(r.windows_names);
  r.machine = ReadMachine();
  for (const Entry& e : journal::Entries()) r.steps.push_back(Describe(e));
  r.decided = d.decided;
  switch (d.decided) {
    case ChoiceRecord::kNewerChoice:
      r.prog_id = d.prog_id;
      r.prog_id_source = u"newer key";
      break;
    case ChoiceRecord::kLegacyChoice:
      r.prog_id = d.prog_id;
      r.prog_id_source = u"legacy key";
      break;
    case ChoiceRecord::kHttpClass:
      r.prog_id = u"http";
      r.prog_id_source = u"http class";
      break;
    case ChoiceRecord::kNone:
      break;
  }
  if (d.shell.asked) {
    r.choices = u"the newer key names " + Quoted(d.newer_prog_id) + u" and the legacy key " + Quoted(d.legacy_prog_id);
    r.choices +=
        d.shell.decided
            ? Text(u"; the shell opens http links with the ") + r.prog_id_source + u"'s class, so that one wins"
            : Text(u"; the shell could not say which one Windows honours, so the newer key's wins");
  }
  r.command_read = d.command_read;
  if (r.command_read) {
    r.command = d.command;
    const browser::Command split = browser::SplitCommand(r.command);
    r.program = split.Program;
    r.arguments = split.Arguments;
  }
  // What the launcher asked the shell to start.
  r.launch_file = browser::BrowserCommand.Program;
  r.launch_parameters = browser::BrowserCommand.Arguments;

  r.browser_found = !browser::BrowserCommand.Program.empty();
  if (r.browser_found) {
    const View program = browser::BrowserCommand.Program;
    // Only a plain quoted path can be checked; the shell expands the rest.
    if (program.size() > 2 && program.front() == u'"' && !text::Contains(program, u"%")) {
      const Text path(program.substr(1, program.size() - 2));
      r.program_file_missing = !app::FileExists(path.c_str());
      if (!r.program_file_missing) r.program_version = ReadProgramVersion(path);
    }
    r.watched_name = watch::DeriveWatchedName(program);
    r.opera_stub = watch::IsOperaStub(program);
    r.windows_listed = FindMatchingProcesses(r.watched_name, &r.matching_processes);
    r.launcher_name_matches = watch::ImageNameMatches(Text(launcher_name) + u".exe", r.watched_name);
    if (r.program_file_missing) r.what_to_do.push_back(Message::kBrowserMissing);
  } else {
    const Stop stop = StopReason(d);
    r.stop_reason = stop.reason;
    r.what_to_do.push_back(stop.advice);
  }

  // The player double-clicks the doctor in the game's folder; the launcher
  // looks in whatever folder it was started in.
  const Text game_folder = doctor::report_io::OwnFolder();
  bool beside_the_doctor = false;
  for (const char16_t* path : {app::kPlayShortcut, app::kGameProgram}) {
    const app::FileState state = app::ClassifyFile(path);
    FollowUp f{path, app::IsFile(state), FileWhy(state)};
    beside_the_doctor = beside_the_doctor ||
                        (!f.present && !game_folder.empty() && app::FileExists((game_folder + u"\\" + path).c_str()));
    r.follow_ups.push_back(std::move(f));
  }
  if (beside_the_doctor) r.what_to_do.push_back(Message::kNotInGameFolder);
  if (d.shell.asked && !d.shell.decided) r.what_to_do.push_back(Message::kChoicesDisagree);
  if (r.browser_found && !r.program_file_missing && r.windows_listed && !r.matching_processes.empty() &&
      WithOpenWindow(r) == 0)
    r.what_to_do.push_back(Message::kBrowserInBackground);
  if (r.what_to_do.empty()) r.what_to_do.push_back(Message::kNothingToChange);
  r.verdict = Verdict(r);
  return r;
}

}  // namespace doctor
