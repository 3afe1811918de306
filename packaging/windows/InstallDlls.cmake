# Installs the DLLs that QM_LOADERS (the program and its Qt plugins) load,
# directly or through one another, from QM_DLL_FOLDER into the installation
# folder, by reading their import tables with QM_OBJDUMP. A DLL not found
# there must be one of Windows' own (kernel32.dll, user32.dll, ...): it is
# checked against the DLLs Wine provides, so that a library missing from the
# prefix fails the installation instead of the program's start on a PC.
set(CMAKE_GET_RUNTIME_DEPENDENCIES_PLATFORM windows+pe)
set(CMAKE_GET_RUNTIME_DEPENDENCIES_TOOL objdump)
set(CMAKE_GET_RUNTIME_DEPENDENCIES_COMMAND "${QM_OBJDUMP}")
set(executables)
set(modules)
foreach(loader IN LISTS QM_LOADERS)
  if(loader MATCHES "\\.exe$")
    list(APPEND executables "${loader}")
  else()
    list(APPEND modules "${loader}")
  endif()
endforeach()
# CMake looks DLLs up by their names in lower case, as Windows would match
# them; on Linux the prefix's "Qt6Core.dll" would not be found that way, so
# the lookup goes through a folder of lower-case links to the prefix's DLLs.
set(lower_case_folder "${CMAKE_CURRENT_BINARY_DIR}/dll-names")
file(REMOVE_RECURSE "${lower_case_folder}")
file(MAKE_DIRECTORY "${lower_case_folder}")
file(GLOB prefix_dlls "${QM_DLL_FOLDER}/*.dll")
foreach(dll IN LISTS prefix_dlls)
  get_filename_component(name "${dll}" NAME)
  string(TOLOWER "${name}" name)
  file(CREATE_LINK "${dll}" "${lower_case_folder}/${name}" SYMBOLIC)
endforeach()
file(GET_RUNTIME_DEPENDENCIES
  EXECUTABLES ${executables}
  MODULES ${modules}
  DIRECTORIES "${lower_case_folder}"
  # Windows' API sets are names the loader maps, never files.
  PRE_EXCLUDE_REGEXES "^api-ms-.*" "^ext-ms-.*"
  RESOLVED_DEPENDENCIES_VAR found
  UNRESOLVED_DEPENDENCIES_VAR windows_own)

set(wine_dlls /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
if(IS_DIRECTORY "${wine_dlls}")
  foreach(dll IN LISTS windows_own)
    string(TOLOWER "${dll}" name)
    if(NOT EXISTS "${wine_dlls}/${name}")
      message(FATAL_ERROR "${dll} is loaded but is neither in ${QM_DLL_FOLDER} nor a DLL of Windows")
    endif()
  endforeach()
endif()
# The files themselves, under the prefix's own names.
set(files)
foreach(link IN LISTS found)
  file(REAL_PATH "${link}" dll)
  list(APPEND files "${dll}")
endforeach()
file(INSTALL ${files} DESTINATION "${CMAKE_INSTALL_PREFIX}")
# Symbol tables are of no use on a user's PC: the installed copies lose them
# (the program itself is stripped by `cmake --install --strip`).
set(installed "${CMAKE_INSTALL_PREFIX}/plugins/platforms/qwindows.dll")
foreach(dll IN LISTS files)
  get_filename_component(name "${dll}" NAME)
  list(APPEND installed "${CMAKE_INSTALL_PREFIX}/${name}")
endforeach()
foreach(dll IN LISTS installed)
  execute_process(COMMAND "${QM_STRIP}" --strip-unneeded "${dll}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
file(REMOVE_RECURSE "${lower_case_folder}")
