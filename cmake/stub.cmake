# The stub aksfx32.exe: a small Unicode GUI program, statically linked, without exceptions or RTTI.
set(STUB_FLAGS -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables)

add_library(aksfx_stub_lib STATIC
  startup/sfxhead.cpp
  startup/payload.cpp
  startup/messages.cpp
  startup/run_log.cpp
  archive/volumes.cpp
  archive/walk.cpp
  archive/extract.cpp
  archive/output.cpp
  archive/progress.cpp
  decode/password.cpp
  launch/relaunch.cpp
  launch/run_after.cpp
  launch/archiver.cpp
  ui/main_dialog.cpp
  ui/meter.cpp
  ui/folder_select.cpp
  ui/screen_place.cpp
)
target_compile_options(aksfx_stub_lib PRIVATE ${STUB_FLAGS})
target_compile_definitions(aksfx_stub_lib PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0601)
set(STUB_UI_DLLS comctl32 shlwapi shell32 ole32 user32 gdi32)
target_link_libraries(aksfx_stub_lib PUBLIC aksfx_pure ${STUB_UI_DLLS} advapi32 kernel32)

# The program imports the libraries of the user interface through slots of its own, filled at the first
# call (startup/late_imports.cpp): only kernel32, advapi32 and msvcrt load with it, and the check after the
# link keeps it so. (The test programs import the libraries as usual.)
add_executable(aksfx32 WIN32 startup/winmain.cpp startup/late_imports.cpp resources/aksfx32.rc)
target_compile_options(aksfx32 PRIVATE ${STUB_FLAGS})
target_include_directories(aksfx32 PRIVATE ${CMAKE_BINARY_DIR}/resources ${CMAKE_SOURCE_DIR}/resources)
add_dependencies(aksfx32 stub_icon)
set_source_files_properties(resources/aksfx32.rc PROPERTIES
  OBJECT_DEPENDS "${CMAKE_BINARY_DIR}/resources/aksfx32.ico;${CMAKE_SOURCE_DIR}/resources/strings.rc;${CMAKE_SOURCE_DIR}/resources/dialogs.rc;${CMAKE_SOURCE_DIR}/resources/aksfx32.manifest")
target_link_libraries(aksfx32 PRIVATE aksfx_stub_lib)
target_link_options(aksfx32 PRIVATE -municode -static -s -Wl,--gc-sections)
add_custom_command(TARGET aksfx32 POST_BUILD
  COMMAND python3 ${CMAKE_SOURCE_DIR}/cmake/check_stub_imports.py ${CMAKE_OBJDUMP} $<TARGET_FILE:aksfx32>
  VERBATIM)
