// The doctor's console and files over the DoctorWorld.
#include "tests/doctor_world.h"

#include <string>

#include "doctor/console.h"

namespace doctor {

DoctorWorld& TheDoctorWorld() {
  static DoctorWorld world;
  return world;
}

namespace console {

void WriteOut(std::u16string_view text) { TheDoctorWorld().console_out += text; }
void WriteError(std::u16string_view text) { TheDoctorWorld().console_error += text; }
bool AloneOnConsole() { return TheDoctorWorld().alone_on_console; }
void WaitForEnter() { ++TheDoctorWorld().enter_waits; }

}  // namespace console

namespace report_io {

LocalTime Now() { return TheDoctorWorld().local_time; }
std::u16string OwnVersion() { return TheDoctorWorld().own_version; }
std::uint16_t GetUserDefaultUILanguage() { return TheDoctorWorld().ui_language; }
std::u16string OwnFolder() { return TheDoctorWorld().own_folder; }
std::u16string CurrentFolder() { return TheDoctorWorld().current_folder; }
std::u16string DesktopFolder() { return TheDoctorWorld().desktop_folder; }
std::u16string TempFolder() { return TheDoctorWorld().temp_folder; }

std::u16string FullPath(const std::u16string& path) {
  const bool absolute = path.find(u':') != std::u16string::npos || (!path.empty() && path.front() == u'\\');
  return absolute ? path : TheDoctorWorld().current_folder + u"\\" + path;
}

std::uint32_t WriteWholeFile(const std::u16string& path, std::string_view bytes) {
  auto& world = TheDoctorWorld();
  auto error = world.folder_errors.find(path.substr(0, path.rfind(u'\\')));
  if (error != world.folder_errors.end()) return error->second;
  if (world.written.count(path) != 0) return kErrorFileExists;
  if (world.write_error != 0) return world.write_error;  // created, then removed again
  world.written[path] = std::string(bytes);
  return 0;
}

// Its error is the simulated Windows' last error, which the doctor asks for.
bool MoveFileExW(const char16_t* existing, const char16_t* replacement, std::uint32_t flags) {
  auto& world = TheDoctorWorld();
  const bool refused = world.written.count(replacement) != 0 && (flags & kMoveFileReplaceExisting) == 0;
  std::uint32_t& error = sim::TheWorld().last_error;
  error = refused ? kErrorFileExists : world.move_error;
  if (error != 0) return false;
  world.written[replacement] = std::move(world.written[existing]);
  world.written.erase(existing);
  return true;
}

bool DeleteFileW(const char16_t* path) { return TheDoctorWorld().written.erase(path) != 0; }

std::u16string ErrorText(std::uint32_t error) {
  const std::string code = std::to_string(error);
  return (error == 5 ? u"Access is denied (error " : u"(error ") + std::u16string(code.begin(), code.end()) + u")";
}

}  // namespace report_io
}  // namespace doctor
