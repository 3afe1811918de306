# Runs lupdate over the sources into a copy of the translation file and fails
# when the copy differs from the file (a text was added, changed or removed
# without the translation following) or when the file holds an entry that is
# untranslated (unfinished) or no longer in the sources (vanished, obsolete).
#
# cmake -DLUPDATE=... -DSOURCE_DIR=... -DTS=... -DWORK=... -P CheckTranslations.cmake
get_filename_component(name ${TS} NAME)
set(copy ${WORK}/${name})
file(MAKE_DIRECTORY ${WORK})
file(COPY_FILE ${TS} ${copy})
include(${CMAKE_CURRENT_LIST_DIR}/LupdateCommand.cmake)
qm_lupdate_command(command ${LUPDATE} ${copy})
execute_process(COMMAND ${command} WORKING_DIRECTORY ${SOURCE_DIR} RESULT_VARIABLE result
                OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "lupdate failed:\n${output}")
endif()
file(READ ${TS} committed)
file(READ ${copy} updated)
set(problems "")
foreach(kind unfinished vanished obsolete)
  string(REGEX MATCHALL "type=\"${kind}\"" found "${updated}")
  list(LENGTH found count)
  if(count GREATER 0)
    string(APPEND problems "${count} ${kind} entries\n")
  endif()
endforeach()
if(NOT committed STREQUAL updated)
  string(APPEND problems "the sources' texts differ from ${name}\n")
endif()
if(problems)
  message(FATAL_ERROR "${problems}lupdate's view of the sources is in ${copy}; "
                      "cmake --build --preset default --target update_translations updates "
                      "${name}, whose new entries then need their Japanese text.\n${output}")
endif()
