# Helpers for the test folders.
#
# orvaline_add_gtest(NAME SOURCES ... LIBS ...)
#   A GoogleTest binary; every test case becomes a CTest test.
# orvaline_add_qt_gtest(NAME SOURCES ... LIBS ...)
#   The same for tests that need Qt: they run on the offscreen platform with
#   a private configuration folder, so no display and no user settings are
#   touched.

set(ORVALINE_TEST_ENV
    "QT_QPA_PLATFORM=offscreen"
    "XDG_CONFIG_HOME=${CMAKE_BINARY_DIR}/test-home/config"
    "XDG_DATA_HOME=${CMAKE_BINARY_DIR}/test-home/data"
    "XDG_CACHE_HOME=${CMAKE_BINARY_DIR}/test-home/cache"
    "XDG_RUNTIME_DIR=${CMAKE_BINARY_DIR}/test-home/runtime"
    "ORVALINE_CORPUS=${PROJECT_SOURCE_DIR}/../shared/corpus"
    "ORVALINE_BIN=${ORVALINE_OUTPUT_DIR}"
    "ORVALINE_SOURCE=${PROJECT_SOURCE_DIR}")
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/test-home/runtime)
file(CHMOD ${CMAKE_BINARY_DIR}/test-home/runtime
     DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)

function(orvaline_add_gtest name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
    project_set_warnings(${name})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    gtest_discover_tests(${name}
        DISCOVERY_TIMEOUT 60
        PROPERTIES ENVIRONMENT "${ORVALINE_TEST_ENV}" TIMEOUT 300)
endfunction()

function(orvaline_add_qt_gtest name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} qt_gtest_main GTest::gtest Qt6::Test)
    project_set_warnings(${name})
    project_qt_target(${name})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    gtest_discover_tests(${name}
        DISCOVERY_TIMEOUT 60
        DISCOVERY_MODE PRE_TEST
        PROPERTIES ENVIRONMENT "${ORVALINE_TEST_ENV}" TIMEOUT 300)
endfunction()
