# vemba_add_test(NAME LABEL unit|integration|e2e SOURCES ... LIBS ... [TIMEOUT s]
#                [TSAN_SUPPRESSIONS file])
# Builds one GoogleTest executable and registers each of its tests with CTest
# under the given label, so `ctest -L unit` or `ctest -LE e2e` pick a tier.
find_package(GTest REQUIRED)
include(GoogleTest)

function(vemba_add_test name)
    cmake_parse_arguments(T "" "LABEL;TIMEOUT;TSAN_SUPPRESSIONS" "SOURCES;LIBS" ${ARGN})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    add_executable(${name} ${T_SOURCES})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${VEMBA_BIN_DIR})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
    add_dependencies(${name} vemba_resources)
    # Media reads run in this helper program from the program folder.
    if(TARGET vembacast-mediainfo)
        add_dependencies(${name} vembacast-mediainfo)
    endif()
    # A suppression file of the test's own replaces the preset's under ThreadSanitizer.
    set(tsan_options)
    if(T_TSAN_SUPPRESSIONS AND VEMBACAST_SANITIZE STREQUAL "thread")
        set(tsan_options ENVIRONMENT_MODIFICATION "TSAN_OPTIONS=set:suppressions=${T_TSAN_SUPPRESSIONS}")
    endif()
    gtest_discover_tests(${name}
        DISCOVERY_TIMEOUT 60
        PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT}
                   ENVIRONMENT "VEMBACAST_SHUTDOWN_COMMAND=true" ${tsan_options})
endfunction()
