# vexa-pack as a Debian package (cpack -G DEB): the program, the stub it builds installers
# from, and its manual page made from its own help.
install(TARGETS vexa-pack RUNTIME DESTINATION bin)
if(VEXA_WINDOWS)
  install(FILES ${CMAKE_BINARY_DIR}/windows/vexa-stub.exe DESTINATION share/vexa-pack)
endif()

# The page's date: the last commit's, so that two builds of one commit give one package.
execute_process(COMMAND git -C ${CMAKE_SOURCE_DIR} log -1 --format=%ct
    OUTPUT_VARIABLE VEXA_SOURCE_DATE OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(NOT VEXA_SOURCE_DATE)
  set(VEXA_SOURCE_DATE 0)
endif()
set(MANPAGE ${CMAKE_BINARY_DIR}/vexa-pack.1.gz)
add_custom_command(
    OUTPUT ${MANPAGE}
    COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${VEXA_SOURCE_DATE}
            ${CMAKE_SOURCE_DIR}/tools/make-manpage.sh $<TARGET_FILE:vexa-pack> ${MANPAGE}
    DEPENDS vexa-pack ${CMAKE_SOURCE_DIR}/tools/make-manpage.sh
    COMMENT "Writing the manual page vexa-pack(1)")
add_custom_target(manpage ALL DEPENDS ${MANPAGE})
install(FILES ${MANPAGE} DESTINATION share/man/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vexa-pack)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Vexa")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "builds and checks installers of the Vexa chat client")
set(CPACK_PACKAGE_DESCRIPTION
    "vexa-pack turns the eleven files of a Vexa release into a finished Windows installer,\n"
    "written into the prebuilt installer stub it ships with, and verifies, lists and\n"
    "extracts installers without running them.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Vexa release engineering <release@vexa.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
