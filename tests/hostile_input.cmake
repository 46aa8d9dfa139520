# Hostile input, natively: the Huffman tree check (on in builds that define
# VEXA_CHECK_TREE), the fuzz targets' rules replayed over their seeds and over every input
# that once broke one, and write failures during whole runs.
target_sources(vexa_codec PRIVATE engine/tree_check.cpp)

if(BUILD_TESTING)
  add_executable(hostile_input_tests
      tests/tree_check_test.cpp
      tests/fuzz_replay_test.cpp
      tests/write_failure_test.cpp
      tests/fuzz/fuzz_checks.cpp
      tests/fake_wizard.cpp
      ui/ui_logic.cpp)
  target_link_libraries(hostile_input_tests PRIVATE vexa_engine vexa_pack_core GTest::gtest_main)
  target_compile_definitions(hostile_input_tests PRIVATE
      VECTOR_DIR="${VEXA_VECTOR_DIR}"
      REGRESSION_DIR="${CMAKE_SOURCE_DIR}/tests/fuzz/regressions"
      CORPUS_DIR="${CMAKE_SOURCE_DIR}/tests/fuzz/corpus")
  gtest_discover_tests(hostile_input_tests DISCOVERY_MODE PRE_TEST)
endif()
