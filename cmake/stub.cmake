# The stub aksfx32.exe: a small Unicode GUI program, statically linked, without exceptions or RTTI.
set(STUB_FLAGS -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables)

add_library(aksfx_stub_lib STATIC
  startup/sfxhead.cpp
  startup/payload.cpp
  startup/messages.cpp
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
set(STUB_LATE_DLLS comctl32 shlwapi shell32 ole32 user32 gdi32)
target_link_libraries(aksfx_stub_lib PUBLIC aksfx_pure ${STUB_LATE_DLLS} advapi32 kernel32)

# The started file only copies itself and waits for its copy: it should not pay for loading the libraries
# of the user interface, which under Wine cost 60 ms and more per process (comctl32 loads uxtheme, shell32
# loads user32 and gdi32). The program therefore imports them through delay-loaded import libraries, made
# here from the toolchain's own: each is loaded at the first call into it. Only kernel32, advapi32 and
# msvcrt are loaded with the program; a check after the link keeps it so. (The test programs import the
# libraries as usual.)
set(STUB_DELAY_LIBRARIES)
foreach(dll ${STUB_LATE_DLLS})
  find_library(STUB_IMPORT_${dll} NAMES lib${dll}.a REQUIRED)
  set(delay_library ${CMAKE_BINARY_DIR}/delay-load/lib${dll}_delay.a)
  add_custom_command(OUTPUT ${delay_library}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/delay-load
    COMMAND sh ${CMAKE_SOURCE_DIR}/cmake/make_delay_library.sh ${CMAKE_NM} ${CMAKE_DLLTOOL}
            ${STUB_IMPORT_${dll}} ${dll}.dll ${delay_library}
    DEPENDS ${CMAKE_SOURCE_DIR}/cmake/make_delay_library.sh ${STUB_IMPORT_${dll}}
    VERBATIM)
  list(APPEND STUB_DELAY_LIBRARIES ${delay_library})
endforeach()
add_custom_target(stub_delay_libraries DEPENDS ${STUB_DELAY_LIBRARIES})

add_executable(aksfx32 WIN32 startup/winmain.cpp resources/aksfx32.rc)
target_compile_options(aksfx32 PRIVATE ${STUB_FLAGS})
target_include_directories(aksfx32 PRIVATE ${CMAKE_BINARY_DIR}/resources ${CMAKE_SOURCE_DIR}/resources)
add_dependencies(aksfx32 stub_icon)
set_source_files_properties(resources/aksfx32.rc PROPERTIES
  OBJECT_DEPENDS "${CMAKE_BINARY_DIR}/resources/aksfx32.ico;${CMAKE_SOURCE_DIR}/resources/strings.rc;${CMAKE_SOURCE_DIR}/resources/dialogs.rc;${CMAKE_SOURCE_DIR}/resources/aksfx32.manifest")
add_dependencies(aksfx32 stub_delay_libraries)
# The delay-loaded libraries come before the usual import libraries that aksfx_stub_lib brings, so that
# they provide the functions.
target_link_libraries(aksfx32 PRIVATE aksfx_stub_lib ${STUB_DELAY_LIBRARIES})
target_link_options(aksfx32 PRIVATE -municode -static -s -Wl,--gc-sections)
add_custom_command(TARGET aksfx32 POST_BUILD
  COMMAND sh ${CMAKE_SOURCE_DIR}/cmake/check_stub_imports.sh ${CMAKE_OBJDUMP} $<TARGET_FILE:aksfx32>
  VERBATIM)
