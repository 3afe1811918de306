# Installing Quillmar like any desktop program, and the Debian package built
# from that installation:
#   bin/quillmar                                  (src/app/CMakeLists.txt)
#   share/applications/quillmar.desktop
#   share/icons/hicolor/<n>x<n>/apps/quillmar.png
#   share/man/man1/quillmar.1.gz, share/man/ja/man1/quillmar.1.gz
#   share/doc/quillmar/copyright, changelog.gz, README.md.gz, README.ja.md.gz
#   share/doc/quillmar/examples/quillmar.service, quillmar.timer, quillmar.cron
# The examples and the man page name the binary where it was installed: they
# are filled in at install time, so `cmake --install --prefix /usr/local` and
# the package (prefix /usr) both get paths that work.

set(QM_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
set(QM_DOC_DIR share/doc/quillmar)
find_program(QM_GZIP gzip REQUIRED)

# Icons: the 32 x 32 pixel-art icon at the sizes desktops ask for.
add_executable(qm_icon_export ${QM_PACKAGING_DIR}/IconExport.cpp)
target_link_libraries(qm_icon_export PRIVATE qm_base qm_warnings Qt6::Gui)

set(QM_ICON_SIZES 16 22 24 32 48 64 128 256)
set(QM_ICON_DIR ${CMAKE_BINARY_DIR}/packaging/hicolor)
set(QM_ICON_SOURCE ${PROJECT_SOURCE_DIR}/src/resources/quillmar.xpm)
set(QM_ICON_FILES)
foreach(size IN LISTS QM_ICON_SIZES)
  list(APPEND QM_ICON_FILES ${QM_ICON_DIR}/${size}x${size}/apps/quillmar.png)
endforeach()
add_custom_command(
  OUTPUT ${QM_ICON_FILES}
  COMMAND qm_icon_export ${QM_ICON_SOURCE} ${QM_ICON_DIR} ${QM_ICON_SIZES}
  DEPENDS qm_icon_export ${QM_ICON_SOURCE}
  COMMENT "Rendering the hicolor icons"
  VERBATIM)
add_custom_target(qm_icons ALL DEPENDS ${QM_ICON_FILES})

install(FILES ${QM_PACKAGING_DIR}/quillmar.desktop DESTINATION share/applications)
install(DIRECTORY ${QM_ICON_DIR}/ DESTINATION share/icons/hicolor)
install(FILES ${QM_PACKAGING_DIR}/copyright DESTINATION ${QM_DOC_DIR})

# The files that carry installation paths or the version, filled in and
# compressed by InstallGenerated.cmake while installing.
install(CODE "
  set(QM_PACKAGING_DIR \"${QM_PACKAGING_DIR}\")
  set(QM_SOURCE_DIR \"${PROJECT_SOURCE_DIR}\")
  set(QM_STAGE_DIR \"${CMAKE_BINARY_DIR}/packaging/installed\")
  set(QM_GZIP \"${QM_GZIP}\")
  set(QM_DOC_DIR \"${QM_DOC_DIR}\")
  set(QM_VERSION \"${PROJECT_VERSION}\")
  include(\"${QM_PACKAGING_DIR}/InstallGenerated.cmake\")
")

# The Debian package: `cpack -G DEB` in the build folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillmar)
set(CPACK_PACKAGE_VENDOR "Quillmar developers")
set(CPACK_PACKAGE_CONTACT "Quillmar developers <dev@quillmar.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "collects the attachment files of chosen mail into one folder")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Quillmar opens a mailbox (a local Maildir), walks the inbox, picks the\n"
  "messages whose subject, sender name or sender address contains a keyword\n"
  "(or every message, optionally only the unread ones), and moves every\n"
  "attachment of those messages into one folder. Files already in that folder\n"
  "are never replaced, and no attachment name can write outside it. The window\n"
  "is in Japanese.\n"
  "\n"
  "With -a it scans as soon as it starts and, without a display, ends after\n"
  "the scan, so cron or a systemd timer can run it; examples of both are\n"
  "included.")
# Install into DESTDIR with the real prefix, so the paths filled into the
# examples and the man page are the installed ones, not the staging folder.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quillmar developers <dev@quillmar.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

# The Windows icon, packaging/windows/quillmar.ico, is made from the same
# picture here (the Windows build cannot run this tool); this test fails when
# the picture changed and the file was not made again with
#   build/default/qm_icon_export src/resources/quillmar.xpm packaging/windows/quillmar.ico
if(QM_WITH_TESTS)
  add_test(NAME packaging_windows_icon_up_to_date
           COMMAND ${CMAKE_COMMAND} -DEXPORT=$<TARGET_FILE:qm_icon_export>
                   -DPICTURE=${QM_ICON_SOURCE} -DICON=${QM_PACKAGING_DIR}/windows/quillmar.ico
                   -DSCRATCH=${CMAKE_BINARY_DIR}/packaging/quillmar.ico
                   -P ${QM_PACKAGING_DIR}/CheckWindowsIcon.cmake)
endif()

# The installed tree, checked from a fresh prefix: every file in place, the
# icons at their sizes, the paths filled in.
if(QM_WITH_TESTS)
  string(JOIN "," icon_sizes ${QM_ICON_SIZES})
  add_test(NAME packaging_install_layout
           COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${CMAKE_BINARY_DIR} -DICON_SIZES=${icon_sizes}
                   -P ${QM_PACKAGING_DIR}/CheckInstall.cmake)
endif()
