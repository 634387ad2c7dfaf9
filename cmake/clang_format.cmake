# `cmake --build <dir> --target format` rewrites every C++ source in place.
find_program(CLANG_FORMAT_PROGRAM NAMES clang-format clang-format-14)
if(CLANG_FORMAT_PROGRAM)
    file(GLOB_RECURSE _format_sources CONFIGURE_DEPENDS
        ${PROJECT_SOURCE_DIR}/common/*.cpp ${PROJECT_SOURCE_DIR}/common/*.h
        ${PROJECT_SOURCE_DIR}/app/*.cpp ${PROJECT_SOURCE_DIR}/app/*.h
        ${PROJECT_SOURCE_DIR}/shell/*.cpp ${PROJECT_SOURCE_DIR}/shell/*.h
        ${PROJECT_SOURCE_DIR}/joblist/*.cpp ${PROJECT_SOURCE_DIR}/joblist/*.h
        ${PROJECT_SOURCE_DIR}/scan/*.cpp ${PROJECT_SOURCE_DIR}/scan/*.h
        ${PROJECT_SOURCE_DIR}/convert/*.cpp ${PROJECT_SOURCE_DIR}/convert/*.h
        ${PROJECT_SOURCE_DIR}/tool/*.cpp ${PROJECT_SOURCE_DIR}/tool/*.h
        ${PROJECT_SOURCE_DIR}/render/*.cpp ${PROJECT_SOURCE_DIR}/render/*.h
        ${PROJECT_SOURCE_DIR}/tests/*.cpp ${PROJECT_SOURCE_DIR}/tests/*.h
        ${PROJECT_SOURCE_DIR}/fuzz/*.cpp ${PROJECT_SOURCE_DIR}/bench/*.cpp)
    add_custom_target(format
        COMMAND ${CLANG_FORMAT_PROGRAM} -i ${_format_sources}
        COMMENT "Formatting C++ sources"
        VERBATIM)
endif()
