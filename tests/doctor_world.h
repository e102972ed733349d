// What the doctor needs besides the simulated Windows: its console, clock,
// folders and the files it writes, for the doctor's tests. One DoctorWorld,
// reset with the simulated Windows by DoctorTest.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "doctor/report_io.h"
#include "tests/sim/world.h"

namespace doctor {

struct DoctorWorld {
  std::u16string console_out, console_error;
  bool alone_on_console = false;
  int enter_waits = 0;
  report_io::LocalTime local_time{2026, 12, 9, 14, 3, 22};
  std::u16string own_version = u"1.0.0.0";
  std::u16string current_folder = u"C:\\Games\\Sky", desktop_folder = u"C:\\Users\\Player\\Desktop",
                 temp_folder = u"C:\\Users\\Player\\AppData\\Local\\Temp";
  std::u16string own_folder = current_folder;                            // where the doctor's own file is
  std::uint16_t ui_language = 0x0409;                                    // GetUserDefaultUILanguage
  std::map<std::u16string, std::uint32_t, sim::CaseLess> folder_errors;  // creating a file there fails with this
  std::uint32_t write_error = 0;                                         // writing any file fails with this
  std::uint32_t move_error = 0;                                          // MoveFileExW fails with this
  std::map<std::u16string, std::string, sim::CaseLess> written;          // path -> bytes
};

DoctorWorld& TheDoctorWorld();

}  // namespace doctor
