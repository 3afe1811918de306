# Builds the MSI: installs the build into a fresh staging folder, lists every
# file of it in a WiX source (one component per folder, kept by a per-user
# registry value, as a per-user installation must be) and runs wixl there.
#   cmake -DBUILD_DIR=... -DWIXL=wixl -DVERSION=x.y.z -DMSI=out.msi
#         -DTEMPLATE=quillmar.wxs.in [-DINSTALL_FROM=build folder] -P MakeMsi.cmake
# BUILD_DIR is where the staging folder goes; the files come from
# INSTALL_FROM, BUILD_DIR when it is not given.
if(NOT WIXL)
  message(FATAL_ERROR "wixl is missing (Debian package wixl): bash .ci/install-deps --ci")
endif()
set(stage ${BUILD_DIR}/msi/Quillmar)
file(REMOVE_RECURSE ${BUILD_DIR}/msi)
if(NOT INSTALL_FROM)
  set(INSTALL_FROM ${BUILD_DIR})
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --install ${INSTALL_FROM} --prefix ${stage} --strip
                OUTPUT_QUIET RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "installing into ${stage} failed")
endif()
get_filename_component(here ${CMAKE_CURRENT_LIST_FILE} DIRECTORY)
file(COPY ${here}/quillmar.ico DESTINATION ${BUILD_DIR}/msi)

# Identifiers of the MSI tables: letters, digits, dots and underscores, and
# the same for the same path in every version, so that upgrades match them.
set(UPGRADE_CODE 6E0B3C57-6F4B-4B7E-9C43-2B1F0A8F5D21)
function(qm_msi_id kind path out)
  string(SHA1 hash "${path}")
  string(SUBSTRING ${hash} 0 16 hash)
  set(${out} ${kind}_${hash} PARENT_SCOPE)
endfunction()
function(qm_msi_guid path out)
  string(UUID guid NAMESPACE ${UPGRADE_CODE} NAME "${path}" TYPE SHA1 UPPER)
  set(${out} ${guid} PARENT_SCOPE)
endfunction()

set(component_refs "")
# Writes the <Directory> of `folder` (relative to the staging folder; "" is
# the installation folder itself) with its files and its subfolders.
function(qm_msi_folder folder indent out)
  if(folder STREQUAL "")
    set(dir_id INSTALLDIR)
    set(name Quillmar)
    set(absolute ${stage})
  else()
    qm_msi_id(dir "${folder}" dir_id)
    get_filename_component(name "${folder}" NAME)
    set(absolute ${stage}/${folder})
  endif()
  qm_msi_id(component "${folder}/" component_id)
  qm_msi_guid("${folder}/" guid)
  set(xml "${indent}<Directory Id=\"${dir_id}\" Name=\"${name}\">\n")
  string(APPEND xml "${indent}  <Component Id=\"${component_id}\" Guid=\"${guid}\">\n")
  string(APPEND xml "${indent}    <RegistryValue Root=\"HKCU\" Key=\"Software\\Quillmar\\Installation\" "
                    "Name=\"${component_id}\" Type=\"integer\" Value=\"1\" KeyPath=\"yes\"/>\n")
  string(APPEND xml "${indent}    <RemoveFolder Id=\"remove_${component_id}\" On=\"uninstall\"/>\n")
  file(GLOB entries RELATIVE ${absolute} ${absolute}/*)
  list(SORT entries)
  set(subfolders "")
  foreach(entry IN LISTS entries)
    if(folder STREQUAL "")
      set(relative ${entry})
    else()
      set(relative ${folder}/${entry})
    endif()
    if(IS_DIRECTORY ${stage}/${relative})
      list(APPEND subfolders ${relative})
      continue()
    endif()
    qm_msi_id(file "${relative}" file_id)
    string(APPEND xml "${indent}    <File Id=\"${file_id}\" Name=\"${entry}\" "
                      "Source=\"Quillmar/${relative}\"/>\n")
  endforeach()
  if(folder STREQUAL "")
    string(APPEND xml "${indent}    <Shortcut Id=\"start_menu\" Directory=\"ProgramMenuFolder\" "
                      "Name=\"Quillmar\" "
                      "Target=\"[INSTALLDIR]quillmar.exe\" WorkingDirectory=\"INSTALLDIR\" "
                      "Icon=\"quillmar.ico\"/>\n")
  endif()
  string(APPEND xml "${indent}  </Component>\n")
  set(refs "${component_refs}      <ComponentRef Id=\"${component_id}\"/>\n")
  foreach(subfolder IN LISTS subfolders)
    set(component_refs "${refs}")
    qm_msi_folder("${subfolder}" "${indent}  " inner)
    set(refs "${component_refs}")
    string(APPEND xml "${inner}")
  endforeach()
  string(APPEND xml "${indent}</Directory>\n")
  set(component_refs "${refs}" PARENT_SCOPE)
  set(${out} "${xml}" PARENT_SCOPE)
endfunction()

qm_msi_folder("" "          " DIRECTORIES)
set(COMPONENT_REFS "${component_refs}")
configure_file(${TEMPLATE} ${BUILD_DIR}/msi/quillmar.wxs @ONLY)
execute_process(COMMAND ${WIXL} -a x64 -o ${MSI} quillmar.wxs
                WORKING_DIRECTORY ${BUILD_DIR}/msi RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "wixl failed on ${BUILD_DIR}/msi/quillmar.wxs")
endif()
file(SIZE ${MSI} size)
math(EXPR megabytes "${size} / 1048576")
message(STATUS "${MSI}: ${megabytes} MB")
