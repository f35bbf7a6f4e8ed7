# Where an installed copy (cmake --install, and the Debian package of `make package`)
# keeps its parts, under any prefix:
#   lib/vembacast/        the program folder: every program (the encoder engine and the
#                         media-read helper are started from it), the private shared
#                         libraries, CivetWeb's OpenSSL names
#   bin/                  links to the programs a person starts
#   share/vembacast/res/  the resources: language files and the browser client
# The programs find their resources from the program folder by the relative path below,
# so the copy works wherever the prefix puts it.
include(GNUInstallDirs)
set(VEMBA_INSTALL_PROGRAM_DIR lib/vembacast)
set(VEMBA_INSTALL_RESOURCE_DIR ${CMAKE_INSTALL_DATADIR}/vembacast/res)
file(RELATIVE_PATH VEMBA_RESOURCES_FROM_PROGRAMS
    /prefix/${VEMBA_INSTALL_PROGRAM_DIR} /prefix/${VEMBA_INSTALL_RESOURCE_DIR})
# Programs and libraries find each other and the OpenSSL names in their own folder.
set(CMAKE_INSTALL_RPATH "$ORIGIN")
