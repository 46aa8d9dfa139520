# The demo payload, assembled in ${CMAKE_BINARY_DIR}/payload with exactly the eleven files
# the installer unpacks: two small Win32 programs, two help files made by make_help, and
# the text and settings files from this folder. Every step is deterministic, so two builds
# pack the same archive. Also the installer's icons, drawn by make_icons.
foreach(tool VEXA_MAKE_ICONS VEXA_MAKE_HELP)
  if(NOT ${tool})
    message(FATAL_ERROR "${tool} is not set; the Windows side is built from the native build")
  endif()
endforeach()

set(DEMO_PAYLOAD_DIR ${CMAKE_BINARY_DIR}/payload)
file(MAKE_DIRECTORY ${DEMO_PAYLOAD_DIR})
set(DEMO_PAYLOAD_FILES "")

# Statically linked, stripped and without a link time stamp: only system DLLs, same bytes.
foreach(program vexa32 vxtool32)
  add_executable(${program} WIN32 payload/programs/${program}.cpp)
  target_compile_options(${program} PRIVATE ${WIN_FLAGS} -Os)
  target_link_options(${program} PRIVATE
      -static -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp -s)
  target_link_libraries(${program} PRIVATE gdi32 user32 kernel32)
  add_custom_command(
      OUTPUT ${DEMO_PAYLOAD_DIR}/${program}.exe
      COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${program}> ${DEMO_PAYLOAD_DIR}/${program}.exe
      DEPENDS ${program}
      COMMENT "Demo payload: ${program}.exe")
  list(APPEND DEMO_PAYLOAD_FILES ${DEMO_PAYLOAD_DIR}/${program}.exe)
endforeach()

add_custom_command(
    OUTPUT ${DEMO_PAYLOAD_DIR}/vexa.hlp ${DEMO_PAYLOAD_DIR}/primer.hlp
    COMMAND ${VEXA_MAKE_HELP} ${DEMO_PAYLOAD_DIR}
    DEPENDS ${VEXA_MAKE_HELP}
    COMMENT "Demo payload: help files")
list(APPEND DEMO_PAYLOAD_FILES ${DEMO_PAYLOAD_DIR}/vexa.hlp ${DEMO_PAYLOAD_DIR}/primer.hlp)

foreach(name about.txt history.txt vexa.ini macros.ini menus.ini sites.ini links.ini)
  add_custom_command(
      OUTPUT ${DEMO_PAYLOAD_DIR}/${name}
      COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/payload/${name} ${DEMO_PAYLOAD_DIR}/${name}
      DEPENDS ${CMAKE_SOURCE_DIR}/payload/${name}
      COMMENT "Demo payload: ${name}")
  list(APPEND DEMO_PAYLOAD_FILES ${DEMO_PAYLOAD_DIR}/${name})
endforeach()
add_custom_target(demo_payload DEPENDS ${DEMO_PAYLOAD_FILES})

set(INSTALLER_ICONS ${GENERATED}/vexa_icon1.ico ${GENERATED}/vexa_icon2.ico)
add_custom_command(
    OUTPUT ${INSTALLER_ICONS}
    COMMAND ${VEXA_MAKE_ICONS} ${GENERATED}
    DEPENDS ${VEXA_MAKE_ICONS}
    COMMENT "Drawing the installer's icons")
add_custom_target(installer_icons DEPENDS ${INSTALLER_ICONS})
