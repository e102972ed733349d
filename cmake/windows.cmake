# The shipped exe: 32-bit, GUI subsystem, static runtime, Windows 2000 and
# later, icon and version resources, no manifest, hardened as far as this
# toolchain allows (docs/hardening.md). Beside it the doctor: the same logic
# over its own platform layer, as a console program.
set(size_flags -Os -ffunction-sections -fdata-sections)
set(hardening_flags -fstack-protector-strong)
set(windows_link_flags -static -s -Wl,--gc-sections
  -Wl,--major-subsystem-version,5,--minor-subsystem-version,0,--major-os-version,5,--minor-os-version,0
  # ASLR and DEP are binutils' defaults; no SEH handler is ever registered
  # (exceptions unwind by DWARF tables), and no Terminal Server shims are needed.
  -Wl,--dynamicbase,--nxcompat,--no-seh,--tsaware)
target_compile_options(launcher_core PRIVATE ${size_flags} ${hardening_flags})
target_compile_options(doctor_core PRIVATE ${size_flags} ${hardening_flags})
# Version texts may hold any Unicode character.
string(APPEND CMAKE_RC_FLAGS " -c 65001")

# Reproducible: the PE time stamp is SOURCE_DATE_EPOCH when set, else the
# commit's time, else none at all; nothing else in the image depends on
# when or where it was built.
set(source_date_epoch "$ENV{SOURCE_DATE_EPOCH}")
if(source_date_epoch STREQUAL "")
  find_package(Git QUIET)
  if(GIT_FOUND AND EXISTS "${PROJECT_SOURCE_DIR}/.git")
    execute_process(COMMAND "${GIT_EXECUTABLE}" log -1 --format=%ct WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}"
                    OUTPUT_VARIABLE source_date_epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    # A new commit configures again, so the stamp follows it. (In a work
    # tree made by `git worktree`, .git is a file and HEAD lives elsewhere.)
    if(IS_DIRECTORY "${PROJECT_SOURCE_DIR}/.git")
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/.git/HEAD")
      file(READ "${PROJECT_SOURCE_DIR}/.git/HEAD" git_head)
      if(git_head MATCHES "^ref: ([^\n]+)" AND EXISTS "${PROJECT_SOURCE_DIR}/.git/${CMAKE_MATCH_1}")
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/.git/${CMAKE_MATCH_1}")
      endif()
    endif()
  endif()
endif()
if(source_date_epoch MATCHES "^[0-9]+$")
  set(stamp_launcher "${CMAKE_COMMAND}" -E env "SOURCE_DATE_EPOCH=${source_date_epoch}")
else()
  set(source_date_epoch "")
  list(APPEND windows_link_flags -Wl,--no-insert-timestamp)
endif()

# Start-up code both programs share: the runtime trims, the stack guard, and
# the DLL search and heap hardening with the image's load configuration.
set(windows_startup startup/win32_runtime.cpp startup/win32_stack_guard.cpp startup/win32_startup_hardening.cpp)
# Debian's, which has python3-pefile.
set(LAUNCHER_PYTHON /usr/bin/python3 CACHE FILEPATH "Python with pefile, for the post-link step")

# GNU ld fills no load-configuration directory: keep the record, map where it
# landed, and point the header at it after linking (cmake/load_config.py).
function(add_load_config target)
  set(link_map "$<TARGET_FILE:${target}>.map")
  target_link_options(${target} PRIVATE -Wl,--require-defined=__load_config_used "-Wl,-Map=${link_map}")
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND "${LAUNCHER_PYTHON}" "${PROJECT_SOURCE_DIR}/cmake/load_config.py" "$<TARGET_FILE:${target}>" "${link_map}"
    VERBATIM)
endfunction()

set(rc_exe_name ${LAUNCHER_EXE_NAME})
configure_file(res/launcher.rc.in generated/res/launcher.rc @ONLY)
# The doctor carries the launcher's version, which its report names.
set(rc_exe_name ${LAUNCHER_EXE_NAME}-doctor)
configure_file(res/launcher.rc.in generated/res/doctor.rc @ONLY)
# The resource compiler's dependency scan does not see the icon: a redrawn
# icon must relink both programs all the same.
set_source_files_properties(${CMAKE_BINARY_DIR}/generated/res/launcher.rc ${CMAKE_BINARY_DIR}/generated/res/doctor.rc
  PROPERTIES OBJECT_DEPENDS "${LAUNCHER_ICON_FOR_RC}")
# What both programs link alike, compiled once for both.
add_library(windows_shared OBJECT platform/win32.cpp ${windows_startup})
target_include_directories(windows_shared PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_options(windows_shared PRIVATE ${size_flags} ${hardening_flags})
add_executable(launcher WIN32 app/main.cpp platform/win32_launch.cpp $<TARGET_OBJECTS:windows_shared>
  ${CMAKE_BINARY_DIR}/generated/res/launcher.rc)
set_target_properties(launcher PROPERTIES OUTPUT_NAME ${LAUNCHER_EXE_NAME})
target_compile_options(launcher PRIVATE ${size_flags} ${hardening_flags})
target_link_libraries(launcher PRIVATE launcher_core advapi32 shell32 user32)
target_link_options(launcher PRIVATE ${windows_link_flags})
add_load_config(launcher)

add_executable(doctor doctor/main.cpp doctor/platform_win32.cpp platform/win32_machine.cpp doctor/io_win32.cpp
  $<TARGET_OBJECTS:windows_shared>
  ${CMAKE_BINARY_DIR}/generated/res/doctor.rc)
set_target_properties(doctor PROPERTIES OUTPUT_NAME ${LAUNCHER_EXE_NAME}-doctor)
target_compile_options(doctor PRIVATE ${size_flags} ${hardening_flags})
target_link_libraries(doctor PRIVATE doctor_core advapi32 shell32 user32)
target_link_options(doctor PRIVATE ${windows_link_flags} -municode)
add_load_config(doctor)

if(stamp_launcher)
  set_target_properties(launcher doctor PROPERTIES CXX_LINKER_LAUNCHER "${stamp_launcher}")
endif()

# What was configured, for the PE checks and the release manifest to compare against.
file(CONFIGURE OUTPUT "${CMAKE_BINARY_DIR}/branding.json" @ONLY CONTENT [[{
  "launcher": "@LAUNCHER_EXE_NAME@.exe",
  "doctor": "@LAUNCHER_EXE_NAME@-doctor.exe",
  "icon": "@LAUNCHER_ICON_FOR_RC@",
  "host": "@LAUNCHER_GAME_HOST@",
  "version": "@LAUNCHER_VERSION@",
  "source_date_epoch": "@source_date_epoch@",
  "strings": {
@json_strings@    "FileVersion": "@LAUNCHER_VERSION@",
    "InternalName": "@LAUNCHER_EXE_NAME@",
    "OriginalFilename": "@LAUNCHER_EXE_NAME@.exe",
    "ProductVersion": "@LAUNCHER_VERSION@"
  }
}
]])

add_subdirectory(tests/e2e/standins)

# The simulated Windows' claims, against the real layers: run under Wine by
# the end-to-end suite.
add_executable(conformance tests/conformance/win32_main.cpp tests/conformance/claims.cpp platform/win32.cpp
  platform/win32_launch.cpp platform/win32_machine.cpp)
target_include_directories(conformance PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(conformance PRIVATE advapi32 shell32 user32)
target_link_options(conformance PRIVATE -static -municode -s)
set_target_properties(conformance PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/standins)

# The floor program the benchmark compares against; not shipped.
add_executable(floor WIN32 bench/floor.c)
target_compile_options(floor PRIVATE ${size_flags} -Wno-missing-field-initializers)
target_include_directories(floor PRIVATE ${CMAKE_BINARY_DIR}/generated)
target_link_libraries(floor PRIVATE advapi32 shell32 user32)
target_link_options(floor PRIVATE -static -s -municode -Wl,--gc-sections)

# The installer's engine, as the NSIS plugin both the installer and its
# uninstaller call: a DLL that needs no runtime DLL, reproducible as the
# programs are. Left unsigned, as NSIS's own plugins are: the installer's
# signature covers it.
target_compile_options(installer_engine_core PRIVATE ${size_flags})
add_library(setup_engine SHARED installer/engine/plugin.cpp installer/engine/system_win32.cpp)
set_target_properties(setup_engine PROPERTIES OUTPUT_NAME setupengine PREFIX "")
target_compile_options(setup_engine PRIVATE ${size_flags})
target_link_libraries(setup_engine PRIVATE installer_engine_core shlwapi)
target_link_options(setup_engine PRIVATE ${windows_link_flags})
if(stamp_launcher)
  set_target_properties(setup_engine PROPERTIES CXX_LINKER_LAUNCHER "${stamp_launcher}")
endif()
