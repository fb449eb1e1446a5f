# Configures the rules project with one case and checks the outcome:
#   cmake -DROOT=<source root> -DBINARY=<scratch dir> -DCASE=<case> -DEXPECT=<regex|ok>
#         [-DGENERATOR=<generator>] [-DCOMPILER=<C++ compiler>] -P expect.cmake
# EXPECT "ok" wants a configuration that succeeds; anything else is a regular expression the
# refusal's message must match, with a failing exit status.
file(REMOVE_RECURSE "${BINARY}")
set(options "")
if(GENERATOR)
    list(APPEND options -G "${GENERATOR}")
endif()
if(COMPILER)
    list(APPEND options "-DCMAKE_CXX_COMPILER=${COMPILER}")
endif()
execute_process(
    COMMAND "${CMAKE_COMMAND}" -S "${ROOT}/tests/layout_rules" -B "${BINARY}" ${options}
            "-DPINDLE_ROOT=${ROOT}" "-DPINDLE_LAYOUT_CASE=${CASE}"
    RESULT_VARIABLE status
    OUTPUT_VARIABLE out
    ERROR_VARIABLE err)
string(REGEX REPLACE "[ \t\r\n]+" " " err "${err}")
if(EXPECT STREQUAL "ok")
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "case ${CASE}: configuration failed (${status}):\n${err}")
    endif()
elseif(status EQUAL 0)
    message(FATAL_ERROR "case ${CASE}: configuration succeeded; expected: ${EXPECT}")
elseif(NOT err MATCHES "${EXPECT}")
    message(FATAL_ERROR "case ${CASE}: failed for another reason (${status}):\n${err}")
else()
    message(STATUS "case ${CASE}: refused as expected")
endif()
