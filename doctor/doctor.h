// The doctor: runs the launcher's own code over a platform that reads
// Windows but starts nothing, and tells in plain words what the launcher
// would do on this machine and why.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "browser/browser_command.h"
#include "doctor/messages.h"
#include "text/text.h"

namespace doctor {

struct RegistryStep {
  text::Text action;   // "look for key", "open key for reading", "query value", "read value"
  text::Text key;      // the key's full path
  text::Text value;    // the value's name; empty for key steps
  text::Text outcome;  // "found", "absent", "access denied", "not text (REG_DWORD)", "empty", ...
};

struct MatchingProcess {
  text::Text image;
  std::uint32_t id = 0;
  bool open_window = false;  // has a window with a taskbar button now
};

struct FollowUp {
  text::Text path;
  bool present = false;  // the launcher's own answer
  text::Text why;        // what the file system said about it
};

// HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion: how Windows names
// itself, each value unknown when it is absent, not of its type, or unreadable.
struct WindowsNames {
  std::optional<text::Text> product_name, display_version, current_build;
  std::optional<std::uint32_t> ubr;
};

// The processor architectures ("x64", "ARM64", "x86") of the machine and of
// the doctor's own process.
struct Machine {
  std::optional<text::Text> architecture, process_architecture;
  std::optional<bool> wow64, emulated;  // emulated: x86 code on an ARM64 machine
};

// The browser program's version resource, each string capped; read: there
// was a file to ask.
struct ProgramVersion {
  bool read = false;
  std::optional<text::Text> product_name, file_version, company;
};

struct Report {
  // The heading: which run of which doctor this report describes.
  text::Text doctor_name, doctor_version, run_time, current_folder;

  bool version_known = false;
  std::uint32_t major = 0, minor = 0, build = 0;
  text::Text lookup;  // which registry lookup that version selects
  WindowsNames windows_names;
  std::optional<text::Text> windows_name;  // the name a person uses
  Machine machine;

  std::vector<RegistryStep> steps;
  browser::ChoiceRecord decided = browser::ChoiceRecord::kNone;
  text::Text prog_id, prog_id_source;  // source: "newer key", "legacy key", "http class", or empty
  text::Text choices;                  // when the two records name different classes: how that was settled

  bool command_read = false;
  text::Text command, program, arguments;     // as read, and as split
  bool browser_found = false;                 // a program to start
  bool program_file_missing = false;          // a plain quoted path that names no file
  text::Text launch_file, launch_parameters;  // what the shell would be asked to start
  ProgramVersion program_version;

  text::Text watched_name;
  bool opera_stub = false;                          // watched_name stands for Opera's launcher.exe
  std::vector<MatchingProcess> matching_processes;  // running now
  bool windows_listed = true;                       // false: the top-level windows could not be listed
  bool launcher_name_matches = false;               // the launcher's own image counts as the browser

  std::vector<FollowUp> follow_ups;
  text::Text stop_reason;  // why no browser would start
  text::Text verdict;

  // The causes found, each as the advice that answers it, in the language
  // the player reads besides English.
  std::vector<Message> what_to_do;
  Language language = Language::kEnglish;
};

// A number in decimal, for both halves of the report.
text::Text Decimal(std::uint64_t n);

// The launcher's name (without ".exe"), whose own process the watch would see.
// Once per process, as the launcher runs once: its state starts fresh.
Report Diagnose(text::View launcher_name);

// One fact of the report: its line in the text (empty: none) and where the
// JSON puts it ("name", or "object.name"; empty: nowhere), with its value
// there as written.
struct Fact {
  text::Text line, key, json;
};

// A part of the report under one heading (empty: its lines stand alone).
struct Section {
  text::Text heading;
  std::vector<Fact> facts;
};

// The report's sections, in order: what both writers format.
std::vector<Section> Sections(const Report& report);

text::Text FormatText(const Report& report);
text::Text FormatJson(const Report& report);

// Text a program's maker wrote, as the report keeps it: at most 128
// characters, never half of one. (The text report escapes its control
// characters as JSON does.)
text::Text Capped(text::View s);

}  // namespace doctor
