# cmake --install lays out bin/ (the programs: the program folder), lib/ (the shared
# libraries), share/vembacast/res (read beside bin/ as ../share/vembacast/res), the
# desktop entry and icon, and the systemd user unit of the daemon. `make package`
# builds a Debian package of the same tree with CPack.
include(GNUInstallDirs)
set(CMAKE_INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")

set(vemba_programs vembacast vembacastd vembacast-engine vembacast-mediainfo vembacast-trace)
set(vemba_libraries veneta veneta-qt subvoro vembacastupnp)
foreach(target ${vemba_programs})
    if(TARGET ${target})
        set_target_properties(${target} PROPERTIES INSTALL_RPATH "${CMAKE_INSTALL_RPATH}")
        install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
endforeach()
foreach(target ${vemba_libraries})
    if(TARGET ${target})
        set_target_properties(${target} PROPERTIES INSTALL_RPATH "${CMAKE_INSTALL_RPATH}")
        install(TARGETS ${target} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
    endif()
endforeach()
install(DIRECTORY ${CMAKE_SOURCE_DIR}/res/ DESTINATION ${CMAKE_INSTALL_DATADIR}/vembacast/res)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/vembacast.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/vembacast.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/vembacastd.service DESTINATION lib/systemd/user)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vembacast)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "VembaCast developers <vembacast@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Personal media server: share video folders and watch them on a phone or browser")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libmediainfo0v5")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
include(CPack)
