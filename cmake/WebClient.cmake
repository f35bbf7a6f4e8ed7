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
