# Runs one step of the Windows clients' checks under Wine. Arguments:
# WINE, STEP (register, unregister, script), MODULES (paths, for register
# and unregister) and SCRIPT (a .js or .vbs file, for script).
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(rc ${rc} PARENT_SCOPE)
  set(out "${out}" PARENT_SCOPE)
endfunction()

if(STEP STREQUAL "register" OR STEP STREQUAL "unregister")
  foreach(module ${MODULES})
    if(STEP STREQUAL "register")
      run(${WINE} regsvr32 /s ${module})
    else()
      run(${WINE} regsvr32 /s /u ${module})
    endif()
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "regsvr32 ${STEP} ${module} failed: ${rc}")
    endif()
  endforeach()
  # The programmatic identifiers are there after registering and gone after
  # unregistering.
  foreach(progid Calquor.Calquom Calquor.Formula)
    run(${WINE} reg query "HKCR\\${progid}")
    if(STEP STREQUAL "register" AND NOT rc EQUAL 0)
      message(FATAL_ERROR "${progid} is not registered")
    elseif(STEP STREQUAL "unregister" AND rc EQUAL 0)
      message(FATAL_ERROR "${progid} is still registered")
    endif()
  endforeach()
elseif(STEP STREQUAL "script")
  # cscript exits 0 even when a script fails or cannot create its object:
  # the script's own count line decides.
  run(${WINE} cscript //nologo ${SCRIPT})
  message("${out}")
  if(NOT out MATCHES "([0-9]+) passed, 0 failed")
    message(FATAL_ERROR "${SCRIPT}: no \"N passed, 0 failed\" line")
  endif()
  if(CMAKE_MATCH_1 EQUAL 0)
    message(FATAL_ERROR "${SCRIPT}: nothing passed")
  endif()
else()
  message(FATAL_ERROR "unknown STEP ${STEP}")
endif()
