# project_set_warnings(target): the project's warning set. Warnings become
# errors when ORVALINE_WERROR is on (the dev and ci presets), never in
# release builds handed to users.
function(project_set_warnings target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4 /permissive-)
        if(ORVALINE_WERROR)
            target_compile_options(${target} PRIVATE /WX)
        endif()
    else()
        target_compile_options(${target} PRIVATE
            -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
            -Wold-style-cast -Wnon-virtual-dtor -Woverloaded-virtual)
        if(ORVALINE_WERROR)
            target_compile_options(${target} PRIVATE -Werror)
        endif()
    endif()
endfunction()

# project_qt_target(target): the Qt safety definitions every Qt target uses.
function(project_qt_target target)
    target_compile_definitions(${target} PRIVATE
        QT_NO_CAST_TO_ASCII
        QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
        QT_DISABLE_DEPRECATED_UP_TO=0x060400)
endfunction()
