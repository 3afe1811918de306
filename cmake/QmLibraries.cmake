# The program's libraries: one per layer folder, each exposing only its own
# headers, and a check that a library links only libraries of lower layers.
#
# Layers, lowest first; a library may link the libraries of earlier lines
# only, never one of its own line or a later one.
set(QM_LAYERS
    "qm_base"
    "qm_settings;qm_text"
    "qm_store;qm_save;qm_secrets;qm_oauth"
    "qm_mime;qm_maildir;qm_imap;qm_mapi;qm_archive;qm_graph"
    "qm_profile"
    "qm_mail"
    "qm_resources"
    "qm_picker"
    "qm_window")

# Warnings for every target of the project; -Werror with QM_WERROR (CI).
option(QM_WERROR "Treat warnings as errors" OFF)
add_library(qm_warnings INTERFACE)
target_compile_options(qm_warnings INTERFACE -Wall -Wextra -Wpedantic $<$<BOOL:${QM_WERROR}>:-Werror>)
# GCC 12 at -O3 reports -Wrestrict falsely inside libstdc++ wherever a
# std::string is built as "literal" + string (GCC bug 105329), in our code and
# in the tests alike: the warning is off for GCC 12 alone.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12
   AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(qm_warnings INTERFACE $<$<COMPILE_LANGUAGE:CXX>:-Wno-restrict>)
endif()

function(qm_rank_of target out)
  set(rank 0)
  foreach(line IN LISTS QM_LAYERS)
    string(REPLACE ";" " " names "${line}")
    separate_arguments(names)
    if(target IN_LIST names)
      set(${out} ${rank} PARENT_SCOPE)
      return()
    endif()
    math(EXPR rank "${rank} + 1")
  endforeach()
  set(${out} -1 PARENT_SCOPE)
endfunction()

# qm_library(name SOURCES file... [PUBLIC lib...] [PRIVATE lib...])
# A static library of the sources in the current folder of src/. Code that
# links it includes its headers by their path from src/, e.g.
# "text/SafeName.h"; no other header of the folder tree is reachable through
# it.
function(qm_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC;PRIVATE" ${ARGN})
  qm_rank_of(${name} rank)
  if(rank LESS 0)
    message(FATAL_ERROR "${name} belongs to no layer: add it to QM_LAYERS")
  endif()
  add_library(${name} STATIC ${ARG_SOURCES})
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR}/src ${CMAKE_CURRENT_SOURCE_DIR})
  set(root ${PROJECT_BINARY_DIR}/include/${name})
  file(MAKE_DIRECTORY ${root}/${folder})
  file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  foreach(header IN LISTS headers)
    get_filename_component(file ${header} NAME)
    file(CREATE_LINK ${header} ${root}/${folder}/${file} SYMBOLIC)
  endforeach()
  target_include_directories(${name} PUBLIC ${root})
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC} PRIVATE ${ARG_PRIVATE} qm_warnings)
  set_property(GLOBAL APPEND PROPERTY QM_LIBRARIES ${name})
  set_property(GLOBAL PROPERTY QM_LIBRARY_OF_${folder} ${name})
  set_property(TARGET ${name} PROPERTY QM_FOLDER ${CMAKE_CURRENT_SOURCE_DIR})
endfunction()

# Fails the configuration when a library links one of its own or a higher
# layer, or when a file of its folder includes a header of such a library:
# the arrows between the folders run one way only, in the links and in the
# includes alike (a header no source of its own folder includes would
# otherwise escape the compiler's notice).
function(qm_check_layers)
  get_property(libraries GLOBAL PROPERTY QM_LIBRARIES)
  foreach(library IN LISTS libraries)
    qm_rank_of(${library} rank)
    get_target_property(links ${library} LINK_LIBRARIES)
    get_target_property(interface_links ${library} INTERFACE_LINK_LIBRARIES)
    foreach(link IN LISTS links interface_links)
      string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" link "${link}")
      qm_rank_of("${link}" link_rank)
      if(link_rank GREATER_EQUAL 0 AND NOT link_rank LESS rank)
        message(FATAL_ERROR "${library} must not link ${link}: it is not in a lower layer")
      endif()
    endforeach()
    qm_check_includes(${library} ${rank})
  endforeach()
endfunction()

# The includes of one library's folder: "folder/Header.h" must name its own
# folder or the folder of a library of a lower layer.
function(qm_check_includes library rank)
  get_target_property(folder ${library} QM_FOLDER)
  file(GLOB files CONFIGURE_DEPENDS ${folder}/*.h ${folder}/*.cpp)
  foreach(file IN LISTS files)
    file(STRINGS ${file} includes REGEX "^#include \"[a-z_]+/")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^#include \"([a-z_]+)/.*" "\\1" included "${line}")
      get_property(owner GLOBAL PROPERTY QM_LIBRARY_OF_${included})
      if(owner STREQUAL library)
        continue()
      endif()
      qm_rank_of("${owner}" owner_rank)
      if(NOT owner OR NOT owner_rank LESS rank)
        file(RELATIVE_PATH shown ${PROJECT_SOURCE_DIR} ${file})
        message(FATAL_ERROR "${shown} must not include ${included}/: "
                            "it is not a library of a lower layer than ${library}")
      endif()
    endforeach()
  endforeach()
endfunction()
