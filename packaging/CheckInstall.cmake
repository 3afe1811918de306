# Installs the build in BUILD_DIR into a fresh temporary prefix and checks the
# tree a desktop and the package rely on: every file in place, each icon a PNG
# of its folder's size, the man page and changelog compressed, and the examples
# naming the binary where it was installed.
#   cmake -DBUILD_DIR=... -DICON_SIZES=16,22,... -P CheckInstall.cmake

set(errors "")
macro(fail text)
  string(APPEND errors "  ${text}\n")
endmacro()

# "<width>x<height>" from a PNG's IHDR chunk (big-endian, bytes 16..23).
function(png_size file out_var)
  file(READ "${file}" header LIMIT 24 HEX)
  string(SUBSTRING "${header}" 0 16 magic)
  if(NOT magic STREQUAL "89504e470d0a1a0a")
    set(${out_var} "not a PNG" PARENT_SCOPE)
    return()
  endif()
  string(SUBSTRING "${header}" 32 8 width_hex)
  string(SUBSTRING "${header}" 40 8 height_hex)
  math(EXPR width "0x${width_hex}")
  math(EXPR height "0x${height_hex}")
  set(${out_var} "${width}x${height}" PARENT_SCOPE)
endfunction()

# The text inside a gzip file; empty when it is not one.
function(gunzip_text file out_var)
  execute_process(COMMAND gzip -dc "${file}" OUTPUT_VARIABLE text RESULT_VARIABLE result
                  ERROR_QUIET)
  if(NOT result EQUAL 0)
    set(text "")
  endif()
  set(${out_var} "${text}" PARENT_SCOPE)
endfunction()

execute_process(COMMAND mktemp -d /tmp/qm-install.XXXXXX OUTPUT_VARIABLE prefix
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${prefix}"
                OUTPUT_QUIET RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  fail("cmake --install failed: ${result}")
endif()

set(doc "${prefix}/share/doc/quillmar")
foreach(file bin/quillmar share/applications/quillmar.desktop share/man/man1/quillmar.1.gz
             share/man/ja/man1/quillmar.1.gz
             share/doc/quillmar/copyright share/doc/quillmar/changelog.gz
             share/doc/quillmar/README.md.gz share/doc/quillmar/README.ja.md.gz
             share/doc/quillmar/examples/quillmar.service
             share/doc/quillmar/examples/quillmar.timer share/doc/quillmar/examples/quillmar.cron)
  if(NOT EXISTS "${prefix}/${file}")
    fail("missing ${file}")
  endif()
endforeach()

string(REPLACE "," ";" sizes "${ICON_SIZES}")
foreach(size IN LISTS sizes)
  set(icon "${prefix}/share/icons/hicolor/${size}x${size}/apps/quillmar.png")
  if(NOT EXISTS "${icon}")
    fail("missing icon ${size}x${size}")
    continue()
  endif()
  png_size("${icon}" actual)
  if(NOT actual STREQUAL "${size}x${size}")
    fail("icon ${size}x${size} is ${actual}")
  endif()
endforeach()

# Filled-in files: no placeholder left, the binary named where it now lives.
gunzip_text("${prefix}/share/man/man1/quillmar.1.gz" manual)
gunzip_text("${prefix}/share/man/ja/man1/quillmar.1.gz" japanese_manual)
gunzip_text("${doc}/changelog.gz" changelog)
file(READ "${doc}/examples/quillmar.service" service)
file(READ "${doc}/examples/quillmar.cron" cron)
set(binary "${prefix}/bin/quillmar")
if(NOT manual MATCHES "\n\\.TH QUILLMAR 1 ")
  fail("man page is not gzip'd roff")
endif()
if(NOT japanese_manual MATCHES "\n\\.TH QUILLMAR 1 .*\n\\.SH 名前\n")
  fail("the Japanese man page is not gzip'd Japanese roff")
endif()
if(NOT changelog MATCHES "^quillmar \\([0-9.]+\\) ")
  fail("changelog is not gzip'd or has no version")
endif()
foreach(name manual japanese_manual changelog service cron)
  if(${name} MATCHES "@QM_[A-Z_]+@")
    fail("${name} keeps the placeholder ${CMAKE_MATCH_0}")
  endif()
endforeach()
string(FIND "${service}" "\nExecStart=${binary} -a\n" at)
if(at EQUAL -1)
  fail("the service does not run ${binary} -a")
endif()
string(FIND "${cron}" "\n*/15 * * * * ${binary} -a >/dev/null\n" at)
if(at EQUAL -1)
  fail("the crontab line does not run ${binary} -a every 15 minutes")
endif()
foreach(name manual japanese_manual)
  string(FIND "${${name}}" "${doc}/examples/quillmar.timer" at)
  if(at EQUAL -1)
    fail("the ${name} page does not name the installed examples")
  endif()
endforeach()

# The Japanese README sets up and runs with the very commands of the English one.
gunzip_text("${doc}/README.md.gz" readme)
gunzip_text("${doc}/README.ja.md.gz" japanese_readme)
string(REGEX MATCHALL "\n```sh\nbash [^\n]*\n```" commands "${readme}")
string(REGEX MATCHALL "\n```sh\nbash [^\n]*\n```" japanese_commands "${japanese_readme}")
list(LENGTH commands count)
if(NOT count EQUAL 2 OR NOT commands STREQUAL japanese_commands)
  fail("README.ja.md does not have README.md's two set-up commands")
endif()
if(NOT japanese_readme MATCHES "\n## 準備と起動")
  fail("README.ja.md is not the Japanese README")
endif()

find_program(DESKTOP_FILE_VALIDATE desktop-file-validate)
if(DESKTOP_FILE_VALIDATE)
  execute_process(COMMAND "${DESKTOP_FILE_VALIDATE}" "${prefix}/share/applications/quillmar.desktop"
                  OUTPUT_VARIABLE complaints ERROR_VARIABLE complaints RESULT_VARIABLE result)
  if(NOT result EQUAL 0 OR NOT complaints STREQUAL "")
    fail("the desktop entry does not validate: ${complaints}")
  endif()
endif()

file(REMOVE_RECURSE "${prefix}")
if(NOT errors STREQUAL "")
  message(FATAL_ERROR "installed tree is wrong:\n${errors}")
endif()
