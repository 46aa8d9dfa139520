# The Windows side: the installer program and the engine tests, 32-bit, statically linked
# against the compiler's runtime so the .exe needs only DLLs every Windows has.
set(WIN_FLAGS -Wall -Wextra -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables)
set(WIN_LINK -static -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp)

add_library(vexa_codec STATIC ${CODEC_SOURCES})
target_include_directories(vexa_codec PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(vexa_codec PRIVATE ${WIN_FLAGS} -Os)

add_library(vexa_engine STATIC ${ENGINE_SOURCES} engine/file_system_win32.cpp)
target_link_libraries(vexa_engine PUBLIC vexa_codec)
target_compile_options(vexa_engine PRIVATE ${WIN_FLAGS} -Os)

add_executable(vexa-setup WIN32 ui/main.cpp)
target_compile_options(vexa-setup PRIVATE ${WIN_FLAGS} -Os)
target_link_options(vexa-setup PRIVATE ${WIN_LINK} -s)
target_link_libraries(vexa-setup PRIVATE vexa_engine)

add_library(vexa_writer STATIC ${WRITER_SOURCES})
target_link_libraries(vexa_writer PUBLIC vexa_codec)

# GoogleTest from the distribution's sources, built for the target.
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
add_executable(engine_tests ${ENGINE_TEST_SOURCES})
target_link_libraries(engine_tests PRIVATE vexa_engine vexa_writer gtest_main)
target_link_options(engine_tests PRIVATE ${WIN_LINK})
target_compile_definitions(engine_tests PRIVATE VECTOR_DIR="Z:${VEXA_VECTOR_DIR}")
