// What the doctor asks Windows itself, beside the launcher's own run: how
// Windows names itself, which machine this is, and how the browser's program
// names itself. None of it is the launcher's, so none of it is journaled.
#pragma once

#include <cstdint>
#include <optional>

#include "doctor/doctor.h"

namespace doctor {

// HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion, in its 64-bit view
// (but on Windows 2000, which has none: decided by the version the launcher
// sees, when it could be read).
WindowsNames ReadWindowsNames(bool version_known, std::uint32_t major, std::uint32_t minor);

// The name a person uses for this Windows.
std::optional<text::Text> PersonName(const WindowsNames& names);

Machine ReadMachine();

// The version resource of the program file at path, which exists.
ProgramVersion ReadProgramVersion(const text::Text& path);

}  // namespace doctor
