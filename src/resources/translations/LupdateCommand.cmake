# The one lupdate command line, for the update target and the check alike:
# the windows' sources (src/frame/, src/picker/, src/resources/), headers
# resolved from src/ so that classes get their namespace, and no line numbers,
# so that moving code does not change the file.
function(qm_lupdate_command out lupdate ts)
  set(${out} ${lupdate} -silent -locations none -I src -extensions cpp,h
      src/frame src/picker src/resources -target-language ja_JP -ts ${ts} PARENT_SCOPE)
endfunction()
