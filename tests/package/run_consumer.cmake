file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
    endif()
    set(last_output "${out}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

# The README's tour sample is built and run too, so that it keeps compiling and keeps working.
file(READ ${README} readme)
string(REGEX MATCH "<!-- tour -->\n```cpp\n(.*)\n```\n<!-- /tour -->" tour "${readme}")
if(NOT CMAKE_MATCH_1)
    message(FATAL_ERROR "no tour sample found in ${README}")
endif()
file(WRITE ${WORK_DIR}/tour.cpp "${CMAKE_MATCH_1}\n")
run(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/build -G ${GENERATOR}
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release -DTOUR_SOURCE=${WORK_DIR}/tour.cpp)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run(${WORK_DIR}/build/consumer)
message(STATUS "${last_output}")
run(${WORK_DIR}/build/tour)
message(STATUS "${last_output}")
if(NOT last_output MATCHES "Rx .*00000123 +BrakePedal 2 A0 02")
    message(FATAL_ERROR "the tour printed something else:\n${last_output}")
endif()

# The pkg-config file points at the same prefix.
find_program(PKG_CONFIG pkg-config)
if(PKG_CONFIG)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${prefix}/lib/pkgconfig
        ${PKG_CONFIG} --cflags --libs kavri OUTPUT_VARIABLE flags RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0 OR NOT flags MATCHES "-lkavri" OR NOT flags MATCHES "include/kavri")
        message(FATAL_ERROR "pkg-config file is wrong: ${flags}")
    endif()
endif()
