# The shipped exe: 32-bit, GUI subsystem, static runtime, Windows 2000 and
# later, icon and version resources, no manifest. Beside it the doctor: the
# same logic over its own platform layer, as a console program.
set(size_flags -Os -ffunction-sections -fdata-sections)
set(windows_link_flags -static -s -Wl,--gc-sections
  -Wl,--major-subsystem-version,5,--minor-subsystem-version,0,--major-os-version,5,--minor-os-version,0)
target_compile_options(launcher_core PRIVATE ${size_flags})
target_compile_options(doctor_core PRIVATE ${size_flags})

configure_file(res/version.h.in generated/res/version.h @ONLY)
add_executable(launcher WIN32 app/main.cpp platform/win32.cpp platform/win32_launch.cpp platform/win32_runtime.cpp
  res/launcher.rc)
set_target_properties(launcher PROPERTIES OUTPUT_NAME ${LAUNCHER_EXE_NAME})
target_compile_options(launcher PRIVATE ${size_flags})
target_include_directories(launcher PRIVATE ${CMAKE_BINARY_DIR}/generated/res ${CMAKE_SOURCE_DIR}/res)
target_link_libraries(launcher PRIVATE launcher_core advapi32 shell32 user32)
target_link_options(launcher PRIVATE ${windows_link_flags})

add_executable(doctor doctor/main.cpp platform/win32.cpp platform/doctor_win32.cpp platform/journal.cpp
  platform/win32_runtime.cpp)
set_target_properties(doctor PROPERTIES OUTPUT_NAME ${LAUNCHER_EXE_NAME}-doctor)
target_compile_options(doctor PRIVATE ${size_flags})
target_link_libraries(doctor PRIVATE doctor_core advapi32 user32)
target_link_options(doctor PRIVATE ${windows_link_flags})

add_subdirectory(tests/e2e/standins)

# The floor program the benchmark compares against; not shipped.
add_executable(floor WIN32 bench/floor.c)
target_compile_options(floor PRIVATE ${size_flags} -Wno-missing-field-initializers)
target_include_directories(floor PRIVATE ${CMAKE_BINARY_DIR}/generated)
target_link_libraries(floor PRIVATE advapi32 shell32 user32)
target_link_options(floor PRIVATE -static -s -municode -Wl,--gc-sections)
