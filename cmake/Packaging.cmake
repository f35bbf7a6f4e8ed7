# cmake --install lays out the installed copy (InstallLayout.cmake); `make package`
# builds a Debian package of the same tree with CPack, with manual pages, the copyright
# file, the changelog, the systemd units and a maintainer script that makes the system
# service's user.
set(vemba_programs vembacast vembacastd vembacast-console vembacast-engine
    vembacast-mediainfo vembacast-trace subvoro-convert)
# The programs a person starts get a link in bin/ and a manual page.
set(vemba_commands vembacast vembacastd vembacast-console vembacast-trace subvoro-convert)
set(vemba_libraries veneta veneta-qt subvoro vembacastupnp vembacast_openssl_names
    vembacast_crypto_names)
foreach(target ${vemba_programs} ${vemba_libraries})
    if(TARGET ${target})
        set_target_properties(${target} PROPERTIES INSTALL_RPATH "${CMAKE_INSTALL_RPATH}")
        install(TARGETS ${target} RUNTIME DESTINATION ${VEMBA_INSTALL_PROGRAM_DIR}
            LIBRARY DESTINATION ${VEMBA_INSTALL_PROGRAM_DIR})
    endif()
endforeach()

set(vemba_links ${CMAKE_BINARY_DIR}/install-links)
set(vemba_man ${CMAKE_BINARY_DIR}/man)
file(MAKE_DIRECTORY ${vemba_links} ${vemba_man})
set(vemba_pages)
foreach(command ${vemba_commands})
    if(TARGET ${command})
        file(CREATE_LINK ../${VEMBA_INSTALL_PROGRAM_DIR}/${command} ${vemba_links}/${command}
            SYMBOLIC)
        install(FILES ${vemba_links}/${command} DESTINATION ${CMAKE_INSTALL_BINDIR})
        configure_file(${CMAKE_SOURCE_DIR}/packaging/man/${command}.1 ${vemba_man}/${command}.1
            @ONLY)
        list(APPEND vemba_pages ${vemba_man}/${command}.1.gz)
    endif()
endforeach()
# Manual pages and the changelog are compressed as Debian wants them: -9, no name or time.
set(VERSION ${PROJECT_VERSION})
configure_file(${CMAKE_SOURCE_DIR}/packaging/changelog.in ${vemba_man}/changelog @ONLY)
foreach(file ${vemba_pages} ${vemba_man}/changelog.gz)
    string(REGEX REPLACE "\\.gz$" "" plain ${file})
    add_custom_command(OUTPUT ${file} COMMAND gzip -9nkf ${plain} DEPENDS ${plain}
        COMMENT "Compressing ${plain}")
endforeach()
add_custom_target(vemba_manual_pages ALL DEPENDS ${vemba_pages} ${vemba_man}/changelog.gz)
install(FILES ${vemba_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The program folder's resources, with the browser client's player that the build
# copies in from npm (the source res/ lacks it).
install(DIRECTORY ${VEMBA_BIN_DIR}/res/ DESTINATION ${VEMBA_INSTALL_RESOURCE_DIR})
install(FILES ${CMAKE_SOURCE_DIR}/packaging/vembacast.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/vembacast.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright ${vemba_man}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vembacast)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/vembacast-console.env
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vembacast/examples)

# The units and the system service's files in /etc name the installed paths, which are
# known only at install time (CPack installs under /usr, cmake --install under its
# --prefix), so they are written then.
install(CODE "
    set(VEMBA_SOURCE_DIR \"${CMAKE_SOURCE_DIR}\")
    set(VEMBA_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
    set(VEMBA_DATADIR \"${CMAKE_INSTALL_DATADIR}\")
    include(\"${CMAKE_SOURCE_DIR}/cmake/InstallUnits.cmake\")")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vembacast)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "VembaCast developers <vembacast@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "personal media server for phones and browsers")
# The extended description; CPack puts the summary above it.
set(CPACK_PACKAGE_DESCRIPTION "VembaCast shares folders of videos. Phones and web browsers list the folders
and watch any video in them: the server transcodes it on the fly into HTTP
Live Streaming, with seeking, or sends it as it is when the client can play
it. It also converts videos in the background, serves downloads and burns
SAMI subtitles into the picture, maps its port on the router and finds its
external address through a console service.

This package holds the desktop application, the headless daemon with its
system and user units, the encoder engine, the console service and the
subtitle converter.")
# Installed under DESTDIR with the real prefix, so the units name the real paths.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
# MediaInfo is opened at run time; adduser makes the service's user.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libmediainfo0v5, adduser")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-nanum")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/packaging/postinst ${CMAKE_SOURCE_DIR}/packaging/postrm
    ${CMAKE_SOURCE_DIR}/packaging/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
