# Wine UI tests (native side): the real installer under Wine on a private Xvfb display,
# driven through the driver program from inside its prefix. Also wine_walk, which walks the
# wizard with all defaults and saves a screenshot of every page.
add_library(wine_harness STATIC tests/wine/harness.cpp tests/wine/walk.cpp)
target_compile_definitions(wine_harness PUBLIC
    WINE_UI_BUILD_DIR="${CMAKE_BINARY_DIR}"
    WINE_UI_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
# The Windows programs (installer, driver, help stand-in) come from the nested build.
add_dependencies(wine_harness windows)

add_executable(wine_walk tests/wine/walk_main.cpp)
target_link_libraries(wine_walk PRIVATE wine_harness)

if(BUILD_TESTING)
  add_executable(wine_ui_tests tests/wine/wine_ui_test.cpp)
  target_link_libraries(wine_ui_tests PRIVATE wine_harness GTest::gtest_main)
  # Each case runs in a process of its own with its own prefix and display; the time-out
  # only backs up the harness's own waits.
  gtest_discover_tests(wine_ui_tests DISCOVERY_MODE PRE_TEST NO_PRETTY_VALUES
      PROPERTIES TIMEOUT 300 LABELS wine)
endif()

# The acceptance table: one row per scenario, each its own ctest entry with its own prefix
# and display, so -j2 runs two at a time.
if(BUILD_TESTING)
  add_executable(wine_acceptance_tests tests/wine/acceptance_test.cpp)
  target_link_libraries(wine_acceptance_tests PRIVATE wine_harness vexa_pack_core GTest::gtest_main)
  gtest_discover_tests(wine_acceptance_tests DISCOVERY_MODE PRE_TEST NO_PRETTY_VALUES
      PROPERTIES TIMEOUT 300 LABELS wine)
endif()

# The installer the packaged tool built, installed: after the package test, which makes it.
if(BUILD_TESTING)
  add_executable(wine_package_tests tests/wine/package_install_test.cpp)
  target_link_libraries(wine_package_tests PRIVATE wine_harness GTest::gtest_main)
  # One plain test: a fixture must be known before the run, which discovered tests are not.
  add_test(NAME wine.packaged_installer COMMAND wine_package_tests)
  set_tests_properties(wine.packaged_installer PROPERTIES
      TIMEOUT 300 LABELS "wine;slow" FIXTURES_REQUIRED packaged_installer)
endif()
