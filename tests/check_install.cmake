# Installs the build into an empty prefix and checks that the executables are all that arrives
# there: the simulator's stand-ins for the vendor libraries must never reach an operator's
# machine, where they would answer in place of the real bridge.
#
# cmake -DBUILD_DIR=... -DPREFIX=... "-DEXPECTED=bin/brelkcontrol;bin/brelkcontrold" [-DCONFIG=...]
#     -P check_install.cmake
foreach(variable BUILD_DIR PREFIX EXPECTED)
    if(NOT DEFINED ${variable})
        message(FATAL_ERROR "${variable} is not set")
    endif()
endforeach()

set(config)
if(CONFIG)
    set(config --config "${CONFIG}")
endif()
file(REMOVE_RECURSE "${PREFIX}")
execute_process(
    COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}" ${config}
    RESULT_VARIABLE result
    OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE "${PREFIX}" "${PREFIX}/*")
list(SORT installed)
list(SORT EXPECTED)
if(NOT installed STREQUAL EXPECTED)
    message(FATAL_ERROR "installed: '${installed}'; expected only '${EXPECTED}'")
endif()
message(STATUS "installed only ${EXPECTED}")
