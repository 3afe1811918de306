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
file(GET_RUNTIME_DEPENDENCIES
  EXECUTABLES ${executables}
  MODULES ${modules}
  DIRECTORIES "${QM_DLL_FOLDER}"
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
file(INSTALL ${found} DESTINATION "${CMAKE_INSTALL_PREFIX}")
