# Wine UI test programs (Windows side): the driver that presses the installer's buttons
# from inside the prefix, and the help viewer stand-in that records what it was asked.
# Linked like the installer, so they need nothing but the prefix's system DLLs.
add_executable(wine_driver tests/wine/driver.cpp)
set_target_properties(wine_driver PROPERTIES OUTPUT_NAME driver)
target_compile_options(wine_driver PRIVATE ${WIN_FLAGS} -O2)
target_link_options(wine_driver PRIVATE ${WIN_LINK})
target_link_libraries(wine_driver PRIVATE user32 kernel32)

add_executable(winhlp32_standin WIN32 tests/wine/winhlp32_standin.cpp)
set_target_properties(winhlp32_standin PROPERTIES OUTPUT_NAME winhlp32)
target_compile_options(winhlp32_standin PRIVATE ${WIN_FLAGS} -O2)
target_link_options(winhlp32_standin PRIVATE ${WIN_LINK})
target_link_libraries(winhlp32_standin PRIVATE user32 kernel32)

# The acceptance tests' helpers: a probe that lists files as Wine reports them and holds a
# file open without sharing, a program manager that logs every command, and two stand-ins
# for the 3D-controls library (complete, and without Ctl3dAutoSubclass).
add_executable(wine_probe tests/wine/probe.cpp)
set_target_properties(wine_probe PROPERTIES OUTPUT_NAME probe)
target_compile_options(wine_probe PRIVATE ${WIN_FLAGS} -O2)
target_link_options(wine_probe PRIVATE ${WIN_LINK})
target_link_libraries(wine_probe PRIVATE kernel32)

add_executable(progman_standin tests/wine/progman_standin.cpp)
set_target_properties(progman_standin PROPERTIES OUTPUT_NAME progman)
target_compile_options(progman_standin PRIVATE ${WIN_FLAGS} -O2)
target_link_options(progman_standin PRIVATE ${WIN_LINK})
target_link_libraries(progman_standin PRIVATE user32 kernel32)

foreach(variant full no_autosubclass)
  add_library(ctl3d_${variant} SHARED tests/wine/ctl3d_standin.cpp)
  set_target_properties(ctl3d_${variant} PROPERTIES
      PREFIX "" OUTPUT_NAME Ctl3d32
      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/ctl3d/${variant}
      ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/ctl3d/${variant})
  target_compile_options(ctl3d_${variant} PRIVATE ${WIN_FLAGS} -O2)
  # Plain export names, as the real library has them.
  target_link_options(ctl3d_${variant} PRIVATE ${WIN_LINK} -Wl,--kill-at)
  target_link_libraries(ctl3d_${variant} PRIVATE user32 kernel32)
endforeach()
target_compile_definitions(ctl3d_no_autosubclass PRIVATE WITHOUT_AUTOSUBCLASS)
