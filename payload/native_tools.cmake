# Native helpers run by the Windows side's build: the installer's icons and the demo
# payload's help files.
add_executable(make_icons tools/make_icons.cpp)
add_executable(make_help payload/make_help.cpp)
