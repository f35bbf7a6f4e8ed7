# Finds the system libraries VembaCast builds on (installed by tools/bootstrap).
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)

# CivetWeb on Debian ships neither a pkg-config file nor a working CMake package.
find_path(CIVETWEB_INCLUDE_DIR civetweb.h REQUIRED)
find_library(CIVETWEB_LIBRARY civetweb REQUIRED)
add_library(vemba::civetweb INTERFACE IMPORTED)
target_include_directories(vemba::civetweb INTERFACE ${CIVETWEB_INCLUDE_DIR})
target_link_libraries(vemba::civetweb INTERFACE ${CIVETWEB_LIBRARY})

# The HTTPS port checks its certificate and picks it per connection through OpenSSL;
# CivetWeb itself opens the same library at run time, by the name "libssl.so".
find_package(OpenSSL 3 REQUIRED)

pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET
    libavformat libavcodec libavfilter libavutil libswscale libswresample)
pkg_check_modules(FFMPEG_SCALE REQUIRED IMPORTED_TARGET libswscale libavutil)
pkg_check_modules(LIBASS REQUIRED IMPORTED_TARGET libass)
pkg_check_modules(TURBOJPEG REQUIRED IMPORTED_TARGET libturbojpeg)
pkg_check_modules(FONTCONFIG REQUIRED IMPORTED_TARGET fontconfig)
pkg_check_modules(FREETYPE REQUIRED IMPORTED_TARGET freetype2)
pkg_check_modules(CURL REQUIRED IMPORTED_TARGET libcurl)
pkg_check_modules(UUID REQUIRED IMPORTED_TARGET uuid)
pkg_check_modules(SQLITE REQUIRED IMPORTED_TARGET sqlite3)
pkg_check_modules(MINIUPNPC REQUIRED IMPORTED_TARGET miniupnpc)
# The services' readiness and watchdog notices (sd_notify).
pkg_check_modules(LIBSYSTEMD REQUIRED IMPORTED_TARGET GLOBAL libsystemd)
pkg_check_modules(GUPNP REQUIRED IMPORTED_TARGET gupnp-1.6 gupnp-av-1.0)

if(VEMBACAST_BUILD_APP)
    find_package(Qt6 COMPONENTS Widgets QUIET)
    if(NOT Qt6_FOUND)
        message(STATUS "Qt 6 Widgets not found: the desktop application is not built")
        set(VEMBACAST_BUILD_APP OFF)
    endif()
endif()
