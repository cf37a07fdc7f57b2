# What an installed system holds beside the programs, and how `cpack -G DEB` packs it all
# (scripts/package): the manual pages, made from each program's --help and --version by
# help2man, and in share/doc/norva-protocol the copyright file and the Debian changelog.

# The package's release is the newest entry of packaging/changelog: its version, its maintainer
# and its date.
set(NORVA_CHANGELOG ${PROJECT_SOURCE_DIR}/packaging/changelog)
file(STRINGS ${NORVA_CHANGELOG} _norva_entry LIMIT_COUNT 1)
file(STRINGS ${NORVA_CHANGELOG} _norva_trailer REGEX "^ -- " LIMIT_COUNT 1)
if(NOT _norva_entry MATCHES "^norva-protocol \\(([^)]+)-([^)-]+)\\) ")
    message(FATAL_ERROR "${NORVA_CHANGELOG}: the first line does not name a version VERSION-REVISION")
endif()
set(NORVA_DEBIAN_REVISION ${CMAKE_MATCH_2})
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
    message(WARNING "${NORVA_CHANGELOG}: the newest entry is for ${CMAKE_MATCH_1}, the project "
                    "is ${PROJECT_VERSION}; add an entry before packaging")
endif()
if(NOT _norva_trailer MATCHES "^ -- (.+>)  (.+)$")
    message(FATAL_ERROR "${NORVA_CHANGELOG}: the newest entry has no ' -- NAME <MAIL>  DATE' line")
endif()
set(NORVA_PACKAGE_MAINTAINER ${CMAKE_MATCH_1})
# Its date is the manual pages' date, so that a rebuild gives the same pages.
execute_process(COMMAND date -u -d "${CMAKE_MATCH_2}" +%s OUTPUT_VARIABLE NORVA_RELEASE_EPOCH
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)

find_program(NORVA_GZIP gzip REQUIRED)
set(_norva_packaging ${PROJECT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${_norva_packaging})

# The copyright file in Debian's machine-readable format, its licence text taken from LICENSE.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE _norva_license)
string(FIND "${_norva_license}" "Permission " _norva_at)
string(SUBSTRING "${_norva_license}" ${_norva_at} -1 _norva_license)
string(STRIP "${_norva_license}" _norva_license)
string(REPLACE "\n\n" "\n.\n" _norva_license "${_norva_license}")
string(REPLACE "\n" "\n " NORVA_LICENSE_BODY " ${_norva_license}")
string(REGEX REPLACE "^Copyright \\([cC]\\) " "" NORVA_COPYRIGHT_HOLDERS "${NORVA_COPYRIGHT}")
configure_file(${PROJECT_SOURCE_DIR}/packaging/copyright.in ${_norva_packaging}/copyright @ONLY)

add_custom_command(
    OUTPUT ${_norva_packaging}/changelog.Debian.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${NORVA_CHANGELOG} ${_norva_packaging}/changelog.Debian
    COMMAND ${NORVA_GZIP} -9nf ${_norva_packaging}/changelog.Debian
    DEPENDS ${NORVA_CHANGELOG}
    VERBATIM)
add_custom_target(norva-changelog ALL DEPENDS ${_norva_packaging}/changelog.Debian.gz)
install(FILES ${_norva_packaging}/copyright ${_norva_packaging}/changelog.Debian.gz
        DESTINATION ${NORVA_INSTALL_DOCDIR})

# Manual pages, section 1: help2man runs the program just built with --help and --version and
# adds the sections of packaging/man/PROGRAM.h2m. Without help2man the build goes on without
# them.
find_program(NORVA_HELP2MAN help2man)
if(NORVA_HELP2MAN)
    set(NORVA_MAN_PAGES ON)
else()
    set(NORVA_MAN_PAGES OFF)
    message(STATUS "help2man not found (Debian package help2man): no manual pages")
endif()

function(norva_man_page program summary)
    if(NOT NORVA_MAN_PAGES)
        return()
    endif()
    set(sections ${PROJECT_SOURCE_DIR}/packaging/man/${program}.h2m)
    set(page ${PROJECT_BINARY_DIR}/man/${program}.1)
    add_custom_command(
        OUTPUT ${page}.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
        COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${NORVA_RELEASE_EPOCH} LC_ALL=C.UTF-8
                ${NORVA_HELP2MAN} --no-info --name=${summary} --include=${sections}
                --output=${page} $<TARGET_FILE:${program}>
        COMMAND ${NORVA_GZIP} -9nf ${page}
        DEPENDS ${program} ${sections}
        VERBATIM)
    add_custom_target(${program}-man ALL DEPENDS ${page}.gz)
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()

norva_man_page(norva-protocol "bench tool for a banknote acceptor on a serial port")
norva_man_page(norva-cli "answer a banknote acceptor on a serial port without a window")
norva_man_page(norva-acceptor-sim "simulated banknote acceptor on a serial line")

# The Debian package: norva-protocol_VERSION-REVISION_ARCH.deb, its Depends worked out by
# dpkg-shlibdeps from the libraries the programs load.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME norva-protocol)
set(CPACK_PACKAGE_VENDOR "Norva Protocol developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "bench tool for banknote acceptors on an RS-232 port")
set(CPACK_PACKAGE_DESCRIPTION [[
Norva Protocol brings up a banknote acceptor on an RS-232 serial port: it
answers the acceptor's power-up, polls it, logs every byte sent and received,
and decides on notes held in escrow, by hand or automatically, with the note
count and a running credit on three digit displays.

The package also holds norva-cli, which answers the acceptor in the same way
without a window (for overnight soaks and build pipelines), and
norva-acceptor-sim, a simulated acceptor for trying the bench without
hardware and for replaying recorded traffic.
]])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                                                GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${NORVA_DEBIAN_REVISION})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${NORVA_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
