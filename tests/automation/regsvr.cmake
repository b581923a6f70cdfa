# calquor-regsvr against a scratch registry: registers, unregisters, and
# reports a failing entry point with its HRESULT. Arguments: REGSVR, MODULE,
# WORK_DIR.
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
set(ENV{CALQUOR_REGISTRY} ${WORK_DIR}/registry.reg)

function(expect_run expected_code)
  execute_process(COMMAND ${REGSVR} ${ARGN} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT code EQUAL expected_code)
    message(FATAL_ERROR "calquor-regsvr ${ARGN}: exit ${code}, expected ${expected_code}\n${out}${err}")
  endif()
  set(last_output "${out}${err}" PARENT_SCOPE)
endfunction()

expect_run(0 ${MODULE})
file(READ ${WORK_DIR}/registry.reg text)
string(FIND "${text}" "[HKEY_CLASSES_ROOT\\Calquor.Calquom]" found)
if(found EQUAL -1)
  message(FATAL_ERROR "registration wrote no programmatic identifier:\n${text}")
endif()

expect_run(0 /u ${MODULE})
file(READ ${WORK_DIR}/registry.reg text)
string(FIND "${text}" "Calquor.Calquom" found)
if(NOT found EQUAL -1)
  message(FATAL_ERROR "unregistration left entries:\n${text}")
endif()

file(WRITE ${WORK_DIR}/registry.reg "not a registry export\n")
expect_run(5 ${MODULE})
string(FIND "${last_output}" "0x800703F1" found)
if(found EQUAL -1)
  message(FATAL_ERROR "the failing HRESULT was not printed: ${last_output}")
endif()

expect_run(1)
expect_run(3 ${WORK_DIR}/missing.so)
