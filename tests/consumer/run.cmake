# Builds and runs the consumer project against an installed package, found
# once by CMake and once by pkg-config, and checks the package's version
# check. Arguments: SOURCE_DIR, WORK_DIR, CXX (the compiler of the pkg-config
# build); BUILD_DIR to install that build tree into a scratch prefix first,
# else the package installed in the system's paths is used.
file(REMOVE_RECURSE ${WORK_DIR})
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "failed (${result}): ${ARGN}")
  endif()
endfunction()
set(cmake_prefix)
set(env ${CMAKE_COMMAND} -E env)
if(BUILD_DIR)
  set(prefix ${WORK_DIR}/prefix)
  run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
  set(cmake_prefix -DCMAKE_PREFIX_PATH=${prefix})
  list(APPEND env PKG_CONFIG_PATH=${prefix}/lib/pkgconfig LD_LIBRARY_PATH=${prefix}/lib)
endif()

# CMake: find_package(Calquor 2.1 CONFIG REQUIRED).
run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/build ${cmake_prefix} -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run(${WORK_DIR}/build/consumer)
run(${WORK_DIR}/build/consumer_vcl)

# A later major version is refused.
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/build-v3 ${cmake_prefix}
                        -DCALQUOR_REQUIRE_VERSION=3
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(result EQUAL 0 OR NOT out MATCHES "version: 2\\.1\\.0")
  message(FATAL_ERROR "find_package(Calquor 3) did not fail on version 2.1.0:\n${out}")
endif()

# pkg-config: each plain library's .pc file alone builds its host.
foreach(pair "calquor-clqmfc;main.cpp;consumer" "calquor-vcl;vcl.cpp;consumer_vcl")
  list(GET pair 0 module)
  list(GET pair 1 source)
  list(GET pair 2 program)
  foreach(query modversion cflags libs)
    execute_process(COMMAND ${env} pkg-config --${query} ${module}
                    OUTPUT_VARIABLE ${query} RESULT_VARIABLE result OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "pkg-config --${query} ${module} failed")
    endif()
  endforeach()
  separate_arguments(flags UNIX_COMMAND "${cflags} ${libs}")
  set(exe ${WORK_DIR}/pkg-config/${program})
  file(MAKE_DIRECTORY ${WORK_DIR}/pkg-config)
  run(${CXX} -std=c++20 "-DCALQUOR_EXPECTED_VERSION=\"${modversion}\"" ${SOURCE_DIR}/${source} -o ${exe} ${flags})
  run(${env} ${exe})
endforeach()
