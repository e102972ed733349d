// The doctor as a program: its arguments, its heading, and where its report
// goes. A player double-clicks it and gets the report saved where it is easy
// to find and send; support scripts name the file with --out.
#pragma once

#include <string>
#include <vector>

#include "doctor/messages.h"
#include "doctor/report_io.h"
#include "text/text.h"

namespace doctor {

// "NAME-doctor-report-2026-12-09-140322.txt" (".json"); from the second try
// on, "-2", "-3"... before the extension, so no run overwrites another.
text::Text ReportFileName(text::View launcher_name, const doctor::report_io::LocalTime& time, bool json, int attempt);

// UTF-8 with CR LF line ends, as Notepad on Windows 7 and later opens it;
// with a byte-order mark for text, without one for JSON, which forbids it.
std::string FileBytes(text::View report, bool byte_order_mark);

// Saves the report in the first of the Desktop, the current folder and the
// temporary folder that takes it, named for time; answers the one line to
// tell the player, in their language.
text::Text SaveForSupport(text::View launcher_name, text::View report, bool json,
                          const doctor::report_io::LocalTime& time, Language language);

// The whole program; answers its exit status.
int RunDoctor(text::View launcher_name, const std::vector<text::Text>& args);

}  // namespace doctor
