# The shipped exe: 32-bit, GUI subsystem, static runtime, Windows 2000 and
# later, icon and version resources, no manifest.
set(size_flags -Os -ffunction-sections -fdata-sections)
target_compile_options(launcher_core PRIVATE ${size_flags})

configure_file(res/version.h.in generated/res/version.h @ONLY)
add_executable(gamestart WIN32 app/main.cpp platform/win32.cpp platform/win32_runtime.cpp res/launcher.rc)
target_compile_options(gamestart PRIVATE ${size_flags})
target_include_directories(gamestart PRIVATE ${CMAKE_BINARY_DIR}/generated/res ${CMAKE_SOURCE_DIR}/res)
target_link_libraries(gamestart PRIVATE launcher_core advapi32 shell32 user32)
target_link_options(gamestart PRIVATE
  -static -s -Wl,--gc-sections
  -Wl,--major-subsystem-version,5,--minor-subsystem-version,0,--major-os-version,5,--minor-os-version,0)

add_subdirectory(tests/e2e/standins)

# The floor program the benchmark compares against; not shipped.
add_executable(floor WIN32 bench/floor.c)
target_compile_options(floor PRIVATE ${size_flags} -Wno-missing-field-initializers)
target_include_directories(floor PRIVATE ${CMAKE_BINARY_DIR}/generated)
target_link_libraries(floor PRIVATE advapi32 shell32 user32)
target_link_options(floor PRIVATE -static -s -municode -Wl,--gc-sections)
