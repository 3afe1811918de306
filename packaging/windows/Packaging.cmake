# Quillmar on Windows: quillmar.exe as a windowed program with its icon and
# version record, the folder an installation holds, and the MSI that installs
# that folder for the current user.
#
# The installation folder (`cmake --install build/windows --prefix DIR`):
#   quillmar.exe
#   every DLL it and its Qt plugins load from the dependency prefix
#   plugins/platforms/qwindows.dll (the window keeps Qt's own Fusion style, so
#   no style plugin is needed)
#   translations/qtbase_ja.qm (Qt's own Japanese texts: its dialogs' buttons)
#   qt.conf (tells Qt that its plugins and texts are beside the program)
#   README.md, README.ja.md, LICENSE
# The MSI: `cmake --build build/windows --target msi` writes
# build/windows/Quillmar-<version>-x64.msi (see MakeMsi.cmake).

set(QM_WINDOWS_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})

# The icon and the version record.
set(QM_WINDOWS_ICON ${QM_WINDOWS_PACKAGING_DIR}/quillmar.ico)
configure_file(${QM_WINDOWS_PACKAGING_DIR}/quillmar.rc.in ${CMAKE_BINARY_DIR}/quillmar.rc @ONLY)
target_sources(quillmar PRIVATE ${CMAKE_BINARY_DIR}/quillmar.rc)
set_target_properties(quillmar PROPERTIES WIN32_EXECUTABLE ON)

# Qt's plugins and texts, from the dependency prefix and from Debian's own
# Qt translations (the .qm files are the same on every platform).
set(QM_QT_PLUGINS ${QM_WINDOWS_PREFIX}/plugins/platforms/qwindows.dll)
find_file(QM_QTBASE_JA qtbase_ja.qm PATHS /usr/share/qt6/translations NO_DEFAULT_PATH
          NO_CMAKE_FIND_ROOT_PATH REQUIRED)
install(FILES ${QM_WINDOWS_PREFIX}/plugins/platforms/qwindows.dll DESTINATION plugins/platforms)
install(FILES ${QM_QTBASE_JA} DESTINATION translations)
install(FILES ${QM_WINDOWS_PACKAGING_DIR}/qt.conf DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/README.ja.md
              ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)

# The DLLs: what the program and the plugins load, found in the prefix's
# bin/ by reading their import tables. Whatever is not there must be a DLL
# of Windows itself; InstallDlls.cmake checks that against Wine's. The
# installed copies lose their symbol tables, as the program does with
# `cmake --install --strip`.
install(CODE "
  set(QM_OBJDUMP \"${CMAKE_OBJDUMP}\")
  set(QM_STRIP \"${CMAKE_STRIP}\")
  set(QM_DLL_FOLDER \"${QM_WINDOWS_PREFIX}/bin\")
  set(QM_LOADERS \"$<TARGET_FILE:quillmar>;${QM_QT_PLUGINS}\")
  include(\"${QM_WINDOWS_PACKAGING_DIR}/InstallDlls.cmake\")
")

# The MSI, from a fresh installation folder.
find_program(QM_WIXL wixl)
set(QM_MSI ${CMAKE_BINARY_DIR}/Quillmar-${PROJECT_VERSION}-x64.msi)
add_custom_target(msi
  COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${CMAKE_BINARY_DIR} -DWIXL=${QM_WIXL}
          -DVERSION=${PROJECT_VERSION} -DMSI=${QM_MSI}
          -DTEMPLATE=${QM_WINDOWS_PACKAGING_DIR}/quillmar.wxs.in
          -P ${QM_WINDOWS_PACKAGING_DIR}/MakeMsi.cmake
  DEPENDS quillmar
  COMMENT "Building ${QM_MSI}"
  VERBATIM)
