# `make dist`: RZ310_Config-<version>.zip in the build folder, holding the
# exe without its debug information, both manuals, an example settings file
# and a short read-me, in a folder of the same name.
set(RZ_DIST_NAME RZ310_Config-${PROJECT_VERSION})
set(RZ_DIST_STAGE ${CMAKE_BINARY_DIR}/dist)
set(RZ_DIST_DIR ${RZ_DIST_STAGE}/${RZ_DIST_NAME})
set(RZ_DIST_ZIP ${CMAKE_BINARY_DIR}/${RZ_DIST_NAME}.zip)
if(NOT CMAKE_STRIP)
    find_program(CMAKE_STRIP x86_64-w64-mingw32-strip)
endif()

if(TARGET RZ310_Config)
    add_custom_target(dist
        COMMAND ${CMAKE_COMMAND} -E rm -rf ${RZ_DIST_STAGE} ${RZ_DIST_ZIP}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${RZ_DIST_DIR}
        COMMAND ${CMAKE_STRIP} --strip-all -o ${RZ_DIST_DIR}/RZ310_Config.exe $<TARGET_FILE:RZ310_Config>
        COMMAND ${CMAKE_COMMAND} -E copy ${RZ_MANUALS} ${RZ_DIST_DIR}
        COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/dist/example-settings.txt ${RZ_DIST_DIR}
        COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/dist/README.txt ${RZ_DIST_DIR}
        COMMAND ${CMAKE_COMMAND} -E chdir ${RZ_DIST_STAGE}
                ${CMAKE_COMMAND} -E tar cf ${RZ_DIST_ZIP} --format=zip ${RZ_DIST_NAME}
        COMMAND ${CMAKE_COMMAND} -E echo "dist: ${RZ_DIST_ZIP}"
        DEPENDS RZ310_Config manuals
        VERBATIM)
endif()
