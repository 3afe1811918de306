# Runs inside `cmake --install` (and cpack): fills this installation's paths and
# the version into the examples, the man page and the changelog, compresses the
# man page and the changelog the way Debian wants them (gzip -9n: no name, no
# time stamp), and installs the results. file(INSTALL) adds DESTDIR itself and
# records every file in the install manifest.

set(QM_BINDIR "${CMAKE_INSTALL_PREFIX}/bin")
set(QM_EXAMPLES_DIR "${CMAKE_INSTALL_PREFIX}/${QM_DOC_DIR}/examples")
file(MAKE_DIRECTORY "${QM_STAGE_DIR}")

function(qm_fill name)
  configure_file("${QM_PACKAGING_DIR}/${name}" "${QM_STAGE_DIR}/${name}" @ONLY)
endfunction()

function(qm_gzip name)
  execute_process(COMMAND "${QM_GZIP}" -9nc "${QM_STAGE_DIR}/${name}"
                  OUTPUT_FILE "${QM_STAGE_DIR}/${name}.gz" RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "gzip of ${QM_STAGE_DIR}/${name} failed: ${result}")
  endif()
endfunction()

foreach(name quillmar.service quillmar.timer quillmar.cron quillmar.1 quillmar.ja.1 changelog)
  qm_fill(${name})
endforeach()
qm_gzip(quillmar.1)
qm_gzip(quillmar.ja.1)
# The README in English and in Japanese, as they are.
foreach(name README.md README.ja.md)
  file(COPY_FILE "${QM_SOURCE_DIR}/${name}" "${QM_STAGE_DIR}/${name}")
  qm_gzip(${name})
endforeach()
qm_gzip(changelog)

file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${QM_DOC_DIR}/examples" TYPE FILE
     FILES "${QM_STAGE_DIR}/quillmar.service" "${QM_STAGE_DIR}/quillmar.timer"
           "${QM_STAGE_DIR}/quillmar.cron")
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/share/man/man1" TYPE FILE
     FILES "${QM_STAGE_DIR}/quillmar.1.gz")
# The Japanese page beside it, under the same name: `man quillmar` under a
# Japanese locale.
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/share/man/ja/man1" TYPE FILE
     FILES "${QM_STAGE_DIR}/quillmar.ja.1.gz" RENAME quillmar.1.gz)
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${QM_DOC_DIR}" TYPE FILE
     FILES "${QM_STAGE_DIR}/changelog.gz" "${QM_STAGE_DIR}/README.md.gz"
           "${QM_STAGE_DIR}/README.ja.md.gz")
