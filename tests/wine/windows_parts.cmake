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
