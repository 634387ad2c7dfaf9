# Where an installation puts things, and the Debian package made of it
# (scripts/package.sh: `cpack -G DEB` in build/release).
#
#   /usr/bin/orvaline, orvaline-convert     links into the window's folder
#   /usr/bin/msgdump
#   /usr/lib/orvaline/                      the window's folder: orvaline (with
#                                           the converter and the rendering
#                                           library built in), HAND-M.CUR,
#                                           drag.ico, x/o.cjs, Samples/;
#                                           orvaline-convert and
#                                           liborvaline-render.so, which its
#                                           workers load from beside it
#   /usr/share/applications, icons/hicolor, metainfo, man/man1, doc/orvaline
#
# The programs find their files from their own executable (/proc/self/exe),
# so they work through the links, from a menu entry and from any directory.
# Included after qt_standard_project_setup(), whose install run path it drops.
include(GNUInstallDirs)

# Installed programs find the system's libraries by the usual search; the
# rendering library is loaded by its path. No run path ($ORIGIN, which
# qt_standard_project_setup adds) is needed, and Debian asks for none.
set(CMAKE_SKIP_INSTALL_RPATH ON)

# The hardening Debian builds its packages with (dpkg-buildflags): checked
# buffer functions, stack protector, read-only relocations bound at start.
if(CMAKE_BUILD_TYPE STREQUAL "Release" AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    add_compile_options(-fstack-protector-strong)
    add_compile_definitions(_FORTIFY_SOURCE=2)
    add_link_options(LINKER:-z,relro LINKER:-z,now)
endif()

# Not CMAKE_INSTALL_LIBDIR: on Debian that is lib/x86_64-linux-gnu for the
# /usr prefix, the place of shared libraries other packages link against.
# The window's folder holds one program's private files: lib/orvaline.
set(ORVALINE_INSTALL_DIR lib/orvaline CACHE STRING
    "Folder of the application and its files, below the prefix")

# orvaline_install_link_in_bindir(name): a relative symbolic link
# bin/<name> -> <ORVALINE_INSTALL_DIR>/<name>.
function(orvaline_install_link_in_bindir name)
    file(RELATIVE_PATH target /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${ORVALINE_INSTALL_DIR}/${name})
    install(CODE "file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
        file(CREATE_LINK ${target}
             \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${name}\" SYMBOLIC)")
endfunction()

# orvaline_install_manual_page(page): the page (a path relative to the calling
# folder, named NAME.SECTION) compressed as Debian wants it (gzip -9n: no
# name, no time stamp) into share/man/manSECTION.
function(orvaline_install_manual_page page)
    get_filename_component(name ${page} NAME)
    string(REGEX MATCH "[1-9]$" section "${name}")
    if(NOT section)
        message(FATAL_ERROR "manual page ${page} has no section number")
    endif()
    set(source ${CMAKE_CURRENT_SOURCE_DIR}/${page})
    set(compressed ${CMAKE_CURRENT_BINARY_DIR}/man/${name}.gz)
    add_custom_command(
        OUTPUT ${compressed}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
        COMMAND sh -c "gzip -9nc \"$0\" >\"$1\"" ${source} ${compressed}
        DEPENDS ${source}
        COMMENT "Compressing the manual page ${name}"
        VERBATIM)
    add_custom_target(man_${name} ALL DEPENDS ${compressed})
    install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endfunction()

set(packaging_dir ${CMAKE_CURRENT_LIST_DIR}/../resources/package)

# The Debian changelog is the package's history; its newest entry must be
# this version (project(VERSION) is the one place the version is set). Its
# date is the release date the AppStream metainfo gives for the version.
file(STRINGS ${packaging_dir}/changelog changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^orvaline \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "resources/package/changelog does not start with an entry for "
                        "orvaline ${PROJECT_VERSION}; add one (\"${changelog_head}\")")
endif()
file(STRINGS ${packaging_dir}/changelog changelog_trailer REGEX "^ -- " LIMIT_COUNT 1)
if(NOT changelog_trailer MATCHES ">  [A-Z][a-z][a-z], ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
    message(FATAL_ERROR "resources/package/changelog: no date in \"${changelog_trailer}\"")
endif()
set(day ${CMAKE_MATCH_1})
set(year ${CMAKE_MATCH_3})
set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND months ${CMAKE_MATCH_2} month)
if(month LESS 0)
    message(FATAL_ERROR "resources/package/changelog: no month in \"${changelog_trailer}\"")
endif()
math(EXPR month "${month} + 1" OUTPUT_FORMAT DECIMAL)
if(month LESS 10)
    set(month 0${month})
endif()
set(ORVALINE_RELEASE_DATE ${year}-${month}-${day})
set(changelog_gz ${CMAKE_BINARY_DIR}/package-doc/changelog.gz)
add_custom_command(
    OUTPUT ${changelog_gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/package-doc
    COMMAND sh -c "gzip -9nc \"$0\" >\"$1\"" ${packaging_dir}/changelog ${changelog_gz}
    DEPENDS ${packaging_dir}/changelog
    VERBATIM)
add_custom_target(package_changelog ALL DEPENDS ${changelog_gz})
install(FILES ${packaging_dir}/copyright ${changelog_gz} ${PROJECT_SOURCE_DIR}/docs/production.md
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/orvaline)

# The fonts the renderer's own font configuration reads
# (render/engine/src/fonts.cpp): the font packages of
# scripts/debian-packages.txt, and fontconfig. What the renderer loads at
# run time without linking it: Qt's image format plugins for pictures (TIFF,
# WebP; Qt's platform plugins and its JPEG, GIF and PNG readers come with
# libqt6gui6) and Poppler's data files for PDF text. dpkg-shlibdeps finds
# the rest from the programs' shared libraries (Poppler's Qt 6 library among
# them).
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/../scripts/debian-packages.txt run_time_packages
     REGEX "^(fonts-[a-z0-9.+-]+|fontconfig)$")
list(APPEND run_time_packages qt6-image-formats-plugins poppler-data)
list(JOIN run_time_packages ", " run_time_depends)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvaline)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tremlow")
set(CPACK_PACKAGE_CONTACT
    "Orvaline maintainers <maintainers@users.noreply.c-seed-7bc56853.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${run_time_depends}")
# Office attachments are drawn through LibreOffice and its Python bridge when
# they are installed; without them such an attachment gets a page saying so.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "libreoffice-writer-nogui | libreoffice-writer, libreoffice-calc-nogui | libreoffice-calc, libreoffice-impress-nogui | libreoffice-impress, python3-uno")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convert Outlook message files into JPEG page images")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Orvaline turns Outlook e-mail message files (.msg) into JPEG page images:
one image per page of the message body, laid out as its sender formatted
it, optionally below a header block (From, Sent, To, Cc, Subject,
attachments).

This package contains the desktop application (orvaline), which converts a
list of messages built by file dialog, folder scan or drag and drop; the
batch converter orvaline-convert for whole archives, which uses every
processor and writes a report of every message; and msgdump, which prints
what the message reader sees in a message file.")
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/deb_without_ldconfig.cmake)
include(CPack)
