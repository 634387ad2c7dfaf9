# Run by CPack after it wrote the Debian package (CPACK_POST_BUILD_SCRIPTS).
#
# CPack gives a package postinst and postrm scripts that run ldconfig when it
# holds a shared object in a folder directly below /usr/lib, as the rendering
# library in /usr/lib/orvaline is. That library is private, loaded by its
# path and never from the linker's search path, so the calls do nothing; and
# a postrm keeps a removed package in dpkg's database ("rc") until it is
# purged. This takes the two scripts out again, but only when they are
# exactly CPack's ldconfig calls.
set(ldconfig_script_re
    "^#!/bin/sh\n\nset -e\n\nif \\[ \"\\$1\" = \"(configure|remove)\" \\]; then\n\tldconfig\nfi\n$")
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
    if(NOT deb MATCHES "\\.deb$")
        continue()
    endif()
    set(tree ${deb}.tree)
    file(REMOVE_RECURSE ${tree})
    execute_process(COMMAND dpkg-deb --raw-extract ${deb} ${tree} COMMAND_ERROR_IS_FATAL ANY)
    set(dropped)
    foreach(script postinst postrm)
        if(EXISTS ${tree}/DEBIAN/${script})
            file(READ ${tree}/DEBIAN/${script} text)
            if(text MATCHES "${ldconfig_script_re}")
                file(REMOVE ${tree}/DEBIAN/${script})
                list(APPEND dropped ${script})
            endif()
        endif()
    endforeach()
    if(dropped)
        execute_process(COMMAND dpkg-deb --root-owner-group --build ${tree} ${deb}
                        OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
        message(STATUS "${deb}: without CPack's ldconfig calls (${dropped})")
    endif()
    file(REMOVE_RECURSE ${tree})
endforeach()
