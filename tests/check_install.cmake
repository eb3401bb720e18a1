# Installs the build into an empty prefix and checks that the executables, the systemd unit and
# the udev rule's template are all that arrives there: the simulator's stand-ins for the vendor
# libraries must never reach an operator's machine, where they would answer in place of the real
# bridge. The installed unit must start the executable installed beside it.
#
# cmake -DBUILD_DIR=... -DPREFIX=... "-DEXPECTED=bin/brelkcontrol;bin/brelkcontrold;..."
#     [-DUNIT=lib/systemd/system/brelkcontrol.service] [-DCONFIG=...] -P check_install.cmake
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

if(UNIT)
    file(STRINGS "${PREFIX}/${UNIT}" execStart REGEX "^ExecStart=")
    set(expected "ExecStart=${PREFIX}/bin/brelkcontrold --settings /etc/brelkcontrol/brelkcontrol.ini")
    if(NOT execStart STREQUAL expected)
        message(FATAL_ERROR "${UNIT}: '${execStart}'; expected '${expected}'")
    endif()
    message(STATUS "${UNIT} starts ${PREFIX}/bin/brelkcontrold")
endif()
