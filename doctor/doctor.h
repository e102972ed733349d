// The doctor: runs the launcher's own code over a platform that reads
// Windows but starts nothing, and tells in plain words what the launcher
// would do on this machine and why.
#pragma once

#include <cstdint>
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

struct Report {
  // The heading: which run of which doctor this report describes.
  text::Text doctor_name, doctor_version, run_time, current_folder;

  bool version_known = false;
  std::uint32_t major = 0, minor = 0, build = 0;
  text::Text lookup;  // which registry lookup that version selects

  std::vector<RegistryStep> steps;
  browser::ChoiceRecord decided = browser::ChoiceRecord::kNone;
  text::Text prog_id, prog_id_source;  // source: "newer key", "legacy key", "http class", or empty
  text::Text choices;                  // when the two records name different classes: how that was settled

  bool command_read = false;
  text::Text command, program, arguments;     // as read, and as split
  bool browser_found = false;                 // a program to start
  bool program_file_missing = false;          // a plain quoted path that names no file
  text::Text launch_file, launch_parameters;  // what the shell would be asked to start

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

text::Text FormatText(const Report& report);
text::Text FormatJson(const Report& report);

}  // namespace doctor
