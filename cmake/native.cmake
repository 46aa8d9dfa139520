# The native side: the release tool, unit tests and benchmarks; then the Windows side
# as a nested cross build that may run the native tool.
option(VEXA_WINDOWS "Cross-build the installer too (OFF: the native side only)" ON)
include(CTest)
include(ExternalProject)
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)
# The tool's command line and its JSON; header-only, for the tool and its tests alone.
find_package(CLI11 2 CONFIG REQUIRED)
find_package(nlohmann_json 3 CONFIG REQUIRED)

add_compile_options(-Wall -Wextra -Wpedantic)

add_library(vexa_codec STATIC ${CODEC_SOURCES})
target_include_directories(vexa_codec PUBLIC ${CMAKE_SOURCE_DIR})

add_library(vexa_engine STATIC ${ENGINE_SOURCES} engine/file_system_posix.cpp)
target_link_libraries(vexa_engine PUBLIC vexa_codec)

add_library(vexa_pack_core STATIC
    ${WRITER_SOURCES}
    pack/archive_scan.cpp
    pack/carrier.cpp
    pack/files.cpp
    pack/problems.cpp
    pack/stub.cpp
    pack/memory_streams.cpp
    pack/pe_image.cpp
    pack/pe_resources.cpp)
target_link_libraries(vexa_pack_core PUBLIC vexa_codec Threads::Threads)

add_executable(vexa-pack pack/main.cpp pack/commands.cpp pack/carrier_commands.cpp
    pack/build_command.cpp pack/json_report.cpp)

# Native helpers that make parts of the demo payload and the installer's icons.
include(payload/native_tools.cmake)
target_link_libraries(vexa-pack PRIVATE vexa_pack_core CLI11::CLI11 nlohmann_json::nlohmann_json)
target_compile_definitions(vexa-pack PRIVATE VEXA_VERSION="${PROJECT_VERSION}")

if(BUILD_TESTING)
  add_executable(engine_tests ${ENGINE_TEST_SOURCES})
  target_link_libraries(engine_tests PRIVATE vexa_engine vexa_pack_core GTest::gtest_main)
  target_compile_definitions(engine_tests PRIVATE VECTOR_DIR="${VEXA_VECTOR_DIR}")
  gtest_discover_tests(engine_tests DISCOVERY_MODE PRE_TEST)

  add_executable(pack_tests
      tests/encoder_test.cpp
      tests/archive_test.cpp
      tests/pack_cli_test.cpp
      tests/pe_resources_test.cpp)
  target_link_libraries(pack_tests PRIVATE vexa_pack_core nlohmann_json::nlohmann_json
      GTest::gtest_main)
  target_include_directories(pack_tests PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_definitions(pack_tests PRIVATE
      VECTOR_DIR="${VEXA_VECTOR_DIR}"
      VEXA_VERSION="${PROJECT_VERSION}"
      VEXA_PACK="$<TARGET_FILE:vexa-pack>")
  add_dependencies(pack_tests vexa-pack)
  gtest_discover_tests(pack_tests DISCOVERY_MODE PRE_TEST)

  add_executable(ui_tests tests/ui_logic_test.cpp ui/ui_logic.cpp desktop/progman_commands.cpp)
  target_link_libraries(ui_tests PRIVATE vexa_engine GTest::gtest_main)
  gtest_discover_tests(ui_tests DISCOVERY_MODE PRE_TEST)
endif()

find_package(benchmark QUIET)
if(benchmark_FOUND)
  add_subdirectory(bench)
endif()

include(cmake/package.cmake)

if(NOT VEXA_WINDOWS)
  return()
endif()

if(BUILD_TESTING)
  # The finished installer's resources and image, read back from the .exe.
  add_executable(resources_tests tests/resources_test.cpp tests/pe_test_parsers.cpp)
  target_link_libraries(resources_tests PRIVATE vexa_pack_core GTest::gtest_main)
  target_compile_definitions(resources_tests PRIVATE
      SETUP_EXE="${CMAKE_BINARY_DIR}/windows/vexa-setup.exe"
      SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  add_dependencies(resources_tests windows)
  gtest_discover_tests(resources_tests DISCOVERY_MODE PRE_TEST)

  # build, list and extract on the stub, the finished installer and its demo payload.
  add_executable(carrier_tests tests/carrier_cli_test.cpp tests/build_cli_test.cpp)
  target_link_libraries(carrier_tests PRIVATE vexa_pack_core GTest::gtest_main)
  target_compile_definitions(carrier_tests PRIVATE
      SETUP_EXE="${CMAKE_BINARY_DIR}/windows/vexa-setup.exe"
      VEXA_PACK="$<TARGET_FILE:vexa-pack>")
  add_dependencies(carrier_tests vexa-pack windows)
  gtest_discover_tests(carrier_tests DISCOVERY_MODE PRE_TEST)
endif()

ExternalProject_Add(windows
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/windows
    CMAKE_ARGS
        -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-i686.cmake
        -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
        -DVEXA_PACK=$<TARGET_FILE:vexa-pack>
        -DVEXA_MAKE_ICONS=$<TARGET_FILE:make_icons>
        -DVEXA_MAKE_HELP=$<TARGET_FILE:make_help>
        -DVEXA_PAYLOAD_DIR=${VEXA_PAYLOAD_DIR}
        -DBUILD_TESTING=${BUILD_TESTING}
        -DCMAKE_EXPORT_COMPILE_COMMANDS=ON
    DEPENDS vexa-pack make_icons make_help
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    USES_TERMINAL_BUILD ON)

# Two builds from the same sources and payload give the same installer, byte for byte.
# A build configured with a payload folder of its own carries exactly that payload.
if(BUILD_TESTING)
  add_test(NAME reproducible_carrier
      COMMAND ${CMAKE_SOURCE_DIR}/tools/check-reproducible.sh ${CMAKE_BINARY_DIR})
  # Both make a whole release build on every core: alone, so that the Wine tests beside
  # them are not starved (a first Wine start under qemu was seen to take over 90 s then).
  set_tests_properties(reproducible_carrier PROPERTIES LABELS slow RUN_SERIAL ON)
  # The release build, its Debian package, and the packaged tool's installer; the Wine
  # test that installs that installer needs it first.
  add_test(NAME package
      COMMAND ${CMAKE_SOURCE_DIR}/tests/package_test.sh ${CMAKE_SOURCE_DIR}
              ${CMAKE_BINARY_DIR}/package-test)
  set_tests_properties(package PROPERTIES LABELS slow TIMEOUT 1200 RUN_SERIAL ON
      FIXTURES_SETUP packaged_installer)
endif()

# The real installer under Wine on a private X display, driven like a user would.
include(tests/wine/wine_tests.cmake)

# The decoder tests again, cross-built and run under Wine, so the Windows C runtime's
# stream fast path is proven on the platform.
if(BUILD_TESTING)
  set(WINE_TEST_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  add_test(NAME wine.engine_tests
      COMMAND ${CMAKE_SOURCE_DIR}/tools/wine-run.sh ${CMAKE_BINARY_DIR} ${WINE_TEST_PREFIX}
              ${CMAKE_BINARY_DIR}/windows/engine_tests.exe)
  set_tests_properties(wine.engine_tests PROPERTIES LABELS wine)
  # What makes Wine run under qemu-user where the host cannot execute 32-bit code.
  add_test(NAME wine.emulated_road_fixes
      COMMAND ${CMAKE_SOURCE_DIR}/tools/wine-emulated/check.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(wine.emulated_road_fixes PROPERTIES LABELS wine)
endif()
