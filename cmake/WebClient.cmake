# The browser client's player library comes from npm (tools/bootstrap runs `npm ci`);
# its ES module is copied into the program folder beside res/web, never into the tree.
set(VEMBA_NODE_MODULES ${CMAKE_SOURCE_DIR}/node_modules)
set(VEMBA_HLS_MODULE ${VEMBA_NODE_MODULES}/hls.js/dist/hls.mjs)
set(VEMBA_WEB_VENDOR_DIR ${VEMBA_BIN_DIR}/res/web/vendor)

if(EXISTS ${VEMBA_HLS_MODULE})
    add_custom_command(
        OUTPUT ${VEMBA_WEB_VENDOR_DIR}/hls.mjs
        COMMAND ${CMAKE_COMMAND} -E make_directory ${VEMBA_WEB_VENDOR_DIR}
        COMMAND ${CMAKE_COMMAND} -E copy_if_different ${VEMBA_HLS_MODULE} ${VEMBA_WEB_VENDOR_DIR}/hls.mjs
        DEPENDS ${VEMBA_HLS_MODULE}
        COMMENT "Copying hls.js into the program folder")
    add_custom_target(vemba_web_vendor ALL DEPENDS ${VEMBA_WEB_VENDOR_DIR}/hls.mjs)
    add_dependencies(vemba_web_vendor vemba_resources)
else()
    message(WARNING "node_modules/hls.js is missing (run tools/bootstrap): "
        "the browser client will play only files that need no transcoding")
    add_custom_target(vemba_web_vendor)
endif()

# The installed app's icons, drawn from the page's own favicon.svg at build time so
# they never drift from it and no picture is kept twice in the tree. The maskable one
# puts the mark inside the middle 80 % on a full-bleed background, since a phone's
# launcher cuts its own shape out of it.
find_program(VEMBA_RSVG_CONVERT rsvg-convert)
set(VEMBA_WEB_ICON_SOURCE ${CMAKE_SOURCE_DIR}/res/web/favicon.svg)
set(VEMBA_WEB_ICON_DIR ${VEMBA_BIN_DIR}/res/web/icons)
if(VEMBA_RSVG_CONVERT)
    set(icons)
    foreach(size 192 512)
        add_custom_command(
            OUTPUT ${VEMBA_WEB_ICON_DIR}/icon-${size}.png
            COMMAND ${CMAKE_COMMAND} -E make_directory ${VEMBA_WEB_ICON_DIR}
            COMMAND ${VEMBA_RSVG_CONVERT} -w ${size} -h ${size}
                -o ${VEMBA_WEB_ICON_DIR}/icon-${size}.png ${VEMBA_WEB_ICON_SOURCE}
            DEPENDS ${VEMBA_WEB_ICON_SOURCE}
            COMMENT "Drawing the ${size} px app icon"
            VERBATIM)
        list(APPEND icons ${VEMBA_WEB_ICON_DIR}/icon-${size}.png)
    endforeach()
    add_custom_command(
        OUTPUT ${VEMBA_WEB_ICON_DIR}/icon-maskable-512.png
        COMMAND ${CMAKE_COMMAND} -E make_directory ${VEMBA_WEB_ICON_DIR}
        COMMAND ${VEMBA_RSVG_CONVERT} -w 408 -h 408 --page-width 512 --page-height 512
            --left 52 --top 52 --background-color "#1d6fe0"
            -o ${VEMBA_WEB_ICON_DIR}/icon-maskable-512.png ${VEMBA_WEB_ICON_SOURCE}
        DEPENDS ${VEMBA_WEB_ICON_SOURCE}
        COMMENT "Drawing the maskable app icon"
        VERBATIM)
    list(APPEND icons ${VEMBA_WEB_ICON_DIR}/icon-maskable-512.png)
    add_custom_target(vemba_web_icons ALL DEPENDS ${icons})
    add_dependencies(vemba_web_icons vemba_resources)
else()
    message(WARNING "rsvg-convert is missing (run tools/bootstrap): "
        "the browser client cannot be installed as an app without its icons")
    add_custom_target(vemba_web_icons)
endif()
