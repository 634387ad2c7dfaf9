# Helpers for the test folders.
#
# orvaline_add_gtest(NAME SOURCES ... LIBS ...)
#   A GoogleTest binary; every test case becomes a CTest test.
# orvaline_add_qt_gtest(NAME SOURCES ... LIBS ...)
#   The same for tests that need Qt: they run on the offscreen platform with
#   a private configuration folder, so no display and no user settings are
#   touched.

# The messages and RTF documents of public test suites the tests, benches and
# fuzz seeds read (tests/corpus/MANIFEST.tsv names each file's source and
# licence).
set(ORVALINE_TEST_CORPUS ${PROJECT_SOURCE_DIR}/tests/corpus)

set(ORVALINE_TEST_ENV
    "QT_QPA_PLATFORM=offscreen"
    "XDG_CONFIG_HOME=${CMAKE_BINARY_DIR}/test-home/config"
    "XDG_DATA_HOME=${CMAKE_BINARY_DIR}/test-home/data"
    "XDG_CACHE_HOME=${CMAKE_BINARY_DIR}/test-home/cache"
    "XDG_RUNTIME_DIR=${CMAKE_BINARY_DIR}/test-home/runtime"
    "ORVALINE_CORPUS=${ORVALINE_TEST_CORPUS}"
    "ORVALINE_BIN=${ORVALINE_OUTPUT_DIR}"
    "ORVALINE_SOURCE=${PROJECT_SOURCE_DIR}")
# gtest_discover_tests splits a list given as a property value into separate
# arguments, so only the first variable would reach the tests. The variables
# are set by running each test binary through `cmake -E env` instead.
set(ORVALINE_TEST_LAUNCHER ${CMAKE_COMMAND} -E env ${ORVALINE_TEST_ENV})
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/test-home/runtime)
file(CHMOD ${CMAKE_BINARY_DIR}/test-home/runtime
     DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)

function(orvaline_add_gtest name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
    project_set_warnings(${name})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests
        CROSSCOMPILING_EMULATOR "${ORVALINE_TEST_LAUNCHER}")
    gtest_discover_tests(${name}
        DISCOVERY_TIMEOUT 60
        PROPERTIES TIMEOUT 300)
endfunction()

function(orvaline_add_qt_gtest name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} qt_gtest_main GTest::gtest Qt6::Test)
    project_set_warnings(${name})
    project_qt_target(${name})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests
        CROSSCOMPILING_EMULATOR "${ORVALINE_TEST_LAUNCHER}")
    gtest_discover_tests(${name}
        DISCOVERY_TIMEOUT 60
        DISCOVERY_MODE PRE_TEST
        PROPERTIES TIMEOUT 300)
endfunction()
