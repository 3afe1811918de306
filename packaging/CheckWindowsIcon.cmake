# Fails unless ICON holds exactly what EXPORT makes of PICTURE now.
#   cmake -DEXPORT=qm_icon_export -DPICTURE=x.xpm -DICON=x.ico -DSCRATCH=new.ico -P CheckWindowsIcon.cmake
execute_process(COMMAND ${EXPORT} ${PICTURE} ${SCRATCH} RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "qm_icon_export could not write ${SCRATCH}")
endif()
file(SHA256 ${SCRATCH} made)
file(SHA256 ${ICON} kept)
if(NOT made STREQUAL kept)
  message(FATAL_ERROR "${ICON} is not what ${PICTURE} gives now: make it again with\n"
                      "  ${EXPORT} ${PICTURE} ${ICON}")
endif()
