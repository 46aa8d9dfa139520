# The Windows side: the installer program and the engine tests, 32-bit, statically linked
# against the compiler's runtime so the .exe needs only DLLs every Windows has.
enable_language(RC)
set(GENERATED ${CMAKE_BINARY_DIR}/generated)
file(MAKE_DIRECTORY ${GENERATED})

set(WIN_FLAGS -Wall -Wextra -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
    -ffunction-sections -fno-ident)
set(WIN_LINK -static -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp)

add_library(vexa_codec STATIC ${CODEC_SOURCES})
target_include_directories(vexa_codec PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(vexa_codec PRIVATE ${WIN_FLAGS} -Os)

add_library(vexa_engine STATIC ${ENGINE_SOURCES} engine/file_system_win32.cpp)
target_link_libraries(vexa_engine PUBLIC vexa_codec)
target_compile_options(vexa_engine PRIVATE ${WIN_FLAGS} -Os)

# The payload: eleven files from VEXA_PAYLOAD_DIR, or the demo payload built here.
include(payload/demo_payload.cmake)
if(VEXA_PAYLOAD_DIR)
  set(PAYLOAD_DIR ${VEXA_PAYLOAD_DIR})
  # The target names, in the installer's own list.
  file(STRINGS ${CMAKE_SOURCE_DIR}/engine/target_files.def rows REGEX "^TARGET_FILE\\(")
  set(PAYLOAD_FILES "")
  foreach(row IN LISTS rows)
    string(REGEX REPLACE ".*\"(.*)\".*" "\\1" name "${row}")
    list(APPEND PAYLOAD_FILES ${VEXA_PAYLOAD_DIR}/${name})
  endforeach()
else()
  set(PAYLOAD_DIR ${DEMO_PAYLOAD_DIR})
  set(PAYLOAD_FILES ${DEMO_PAYLOAD_FILES})
endif()

set(INSTALLER_SOURCES
    ui/main_window.cpp
    ui/wizard.cpp
    ui/progress_bars.cpp
    ui/folder_select.cpp
    ui/window_geometry.cpp
    ui/ui_logic.cpp
    ui/startup.cpp
    desktop/program_group.cpp
    desktop/progman_commands.cpp
    resources/installer.rc)
# The stub: the installer with every resource but the archive, and its sum record not yet
# filled in. It is a release artifact, shipped with vexa-pack.
add_executable(vexa-stub WIN32 ${INSTALLER_SOURCES})
target_compile_options(vexa-stub PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:${WIN_FLAGS} -Os>)
target_link_options(vexa-stub PRIVATE ${WIN_LINK} -s -Wl,--kill-at -Wl,--gc-sections -nostartfiles
    -Wl,-Map=${CMAKE_BINARY_DIR}/vexa-stub.map)
target_link_libraries(vexa-stub PRIVATE vexa_engine comdlg32 shell32 gdi32 user32 kernel32)
set_source_files_properties(resources/installer.rc PROPERTIES
    OBJECT_DEPENDS "${INSTALLER_ICONS};${CMAKE_SOURCE_DIR}/resources/licence.txt")
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -I${GENERATED} -I${CMAKE_SOURCE_DIR}/resources")
add_dependencies(vexa-stub installer_icons)

# The installer, made from the stub by the release tool as a release engineer makes it. The
# tool reads the result back as the installer's scan does before it puts it in place; the
# listing stays beside it as the record of what the carrier holds.
set(SETUP_EXE ${CMAKE_BINARY_DIR}/vexa-setup.exe)
add_custom_command(
    OUTPUT ${SETUP_EXE}
    COMMAND ${VEXA_PACK} build ${PAYLOAD_DIR} -o ${SETUP_EXE} --stub $<TARGET_FILE:vexa-stub>
    COMMAND ${VEXA_PACK} verify ${SETUP_EXE} > ${CMAKE_BINARY_DIR}/vexa-setup.verify.txt
    DEPENDS ${PAYLOAD_FILES} ${VEXA_PACK} vexa-stub
    COMMENT "Building the installer from the stub")
add_custom_target(vexa-setup ALL DEPENDS ${SETUP_EXE})

# The programs that drive and stand in around the installer in the Wine tests.
include(tests/wine/windows_parts.cmake)

option(BUILD_TESTING "Build the engine tests for Windows" ON)
if(NOT BUILD_TESTING)
  return()
endif()

add_library(vexa_writer STATIC ${WRITER_SOURCES})
target_link_libraries(vexa_writer PUBLIC vexa_codec)

# GoogleTest from the distribution's sources, built for the target.
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(VEXA_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest's sources, built for the target")
add_subdirectory(${VEXA_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
add_executable(engine_tests ${ENGINE_TEST_SOURCES})
target_link_libraries(engine_tests PRIVATE vexa_engine vexa_writer gtest_main)
target_link_options(engine_tests PRIVATE ${WIN_LINK})
target_compile_definitions(engine_tests PRIVATE VECTOR_DIR="Z:${VEXA_VECTOR_DIR}")
