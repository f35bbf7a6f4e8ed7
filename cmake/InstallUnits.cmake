# Run by cmake --install (and CPack): writes the systemd units and the system service's
# files under /etc with the paths of this installation. Set by the caller:
# VEMBA_SOURCE_DIR, VEMBA_BINDIR, VEMBA_DATADIR; CMAKE_INSTALL_PREFIX and DESTDIR are
# the installation's.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(SYSCONFDIR /etc)
else()
    set(SYSCONFDIR ${CMAKE_INSTALL_PREFIX}/etc)
endif()
set(BINDIR ${CMAKE_INSTALL_PREFIX}/${VEMBA_BINDIR})
set(DOCDIR ${CMAKE_INSTALL_PREFIX}/${VEMBA_DATADIR}/doc/vembacast)
set(root "$ENV{DESTDIR}")
set(units ${root}${CMAKE_INSTALL_PREFIX}/lib/systemd)

function(vemba_write template target)
    message(STATUS "Installing: ${target}")
    configure_file(${VEMBA_SOURCE_DIR}/packaging/${template} ${target} @ONLY)
    file(CHMOD ${target} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endfunction()

vemba_write(vembacastd.service.in ${units}/system/vembacastd.service)
vemba_write(vembacast-console.service.in ${units}/system/vembacast-console.service)
vemba_write(vembacastd-user.service.in ${units}/user/vembacastd.service)
# The administrator's files: never replaced once there (the package marks them as
# conffiles, so dpkg asks before it replaces an edited one).
foreach(file shares vembacastd.env)
    if(NOT EXISTS ${root}${SYSCONFDIR}/vembacast/${file} OR NOT "$ENV{DESTDIR}" STREQUAL "")
        vemba_write(${file} ${root}${SYSCONFDIR}/vembacast/${file})
    endif()
endforeach()
