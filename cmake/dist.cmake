# `make dist`: RZ310_Config-<version>.zip and RZ310_Config-<version>.msi in
# the build folder. Both hold the same files: the programs without their
# debug information, both manuals, an example settings file and a read-me
# (the zip in a folder of the release's name).

# The programs of a release, by target: a second program is one more name here,
# and the zip and the installer both carry it.
set(RZ_DIST_PROGRAMS RZ310_Config RZ310_Batch)
set(RZ_DIST_DOCUMENTS ${RZ_MANUALS} ${CMAKE_SOURCE_DIR}/dist/example-settings.txt ${CMAKE_SOURCE_DIR}/dist/README.txt)

if(NOT CMAKE_STRIP)
    find_program(CMAKE_STRIP x86_64-w64-mingw32-strip)
endif()
find_program(RZ_WIXL wixl)
if(NOT RZ_WIXL)
    message(FATAL_ERROR "wixl is missing: run tools/install-deps")
endif()

# Every version of the product shares this code, so that a newer package
# replaces an older one. Never change it.
set(RZ_MSI_UPGRADE_CODE F1631F86-47C8-40BB-AA48-194381043427)
set(RZ_MSI_WXS ${CMAKE_BINARY_DIR}/RZ310_Config.wxs)
set(RZ_MSI_FILES "")
foreach(file ${RZ_DIST_PROGRAMS} ${RZ_DIST_DOCUMENTS})
    if(TARGET ${file})
        set(file ${file}.exe)
    endif()
    get_filename_component(name ${file} NAME)
    string(MAKE_C_IDENTIFIER ${name} id)
    string(APPEND RZ_MSI_FILES
        "      <Component Id=\"${id}\" Guid=\"*\">\n"
        "        <File Id=\"${id}\" Name=\"${name}\" Source=\"$(var.Stage)/${name}\" KeyPath=\"yes\"/>\n"
        "      </Component>\n")
endforeach()
configure_file(${CMAKE_SOURCE_DIR}/dist/RZ310_Config.wxs.in ${RZ_MSI_WXS} @ONLY)
# This wixl finds files by relative names only: it runs in the build folder.
configure_file(${CMAKE_SOURCE_DIR}/res/RZ310_Config.ico ${CMAKE_BINARY_DIR}/RZ310_Config.ico COPYONLY)

# The commands that fill `dir` with a release of the programs given after it
# (targets whose file names are those of RZ_DIST_PROGRAMS) and make `zip`
# (empty: none) and the installer `msi` of `version` from it. The product
# code follows from the version: the same version built again is the same
# product.
function(rz_release_commands out dir zip msi version)
    string(UUID code NAMESPACE ${RZ_MSI_UPGRADE_CODE} NAME ${version} TYPE SHA1 UPPER)
    set(cmds COMMAND ${CMAKE_COMMAND} -E rm -rf ${dir} ${zip} ${msi}
             COMMAND ${CMAKE_COMMAND} -E make_directory ${dir})
    foreach(program ${ARGN})
        list(APPEND cmds COMMAND ${CMAKE_STRIP} --strip-all -o ${dir}/$<TARGET_FILE_NAME:${program}>
                                 $<TARGET_FILE:${program}>)
    endforeach()
    list(APPEND cmds COMMAND ${CMAKE_COMMAND} -E copy ${RZ_DIST_DOCUMENTS} ${dir})
    if(zip)
        get_filename_component(stage ${dir} DIRECTORY)
        get_filename_component(folder ${dir} NAME)
        list(APPEND cmds COMMAND ${CMAKE_COMMAND} -E chdir ${stage}
                                 ${CMAKE_COMMAND} -E tar cf ${zip} --format=zip ${folder})
    endif()
    file(RELATIVE_PATH stage ${CMAKE_BINARY_DIR} ${dir})
    list(APPEND cmds COMMAND ${CMAKE_COMMAND} -E chdir ${CMAKE_BINARY_DIR}
                             ${RZ_WIXL} -a x64 -D Version=${version} -D ProductCode=${code}
                             -D "Publisher=${RZ310_PUBLISHER}" -D Stage=${stage} -o ${msi} ${RZ_MSI_WXS})
    set(${out} ${cmds} PARENT_SCOPE)
endfunction()

if(TARGET RZ310_Config)
    set(RZ_DIST_NAME RZ310_Config-${PROJECT_VERSION})
    rz_release_commands(RZ_DIST_COMMANDS ${CMAKE_BINARY_DIR}/dist/${RZ_DIST_NAME}
        ${CMAKE_BINARY_DIR}/${RZ_DIST_NAME}.zip ${CMAKE_BINARY_DIR}/${RZ_DIST_NAME}.msi
        ${PROJECT_VERSION} ${RZ_DIST_PROGRAMS})
    add_custom_target(dist
        ${RZ_DIST_COMMANDS}
        COMMAND ${CMAKE_COMMAND} -E echo "dist: ${CMAKE_BINARY_DIR}/${RZ_DIST_NAME}.zip"
        COMMAND ${CMAKE_COMMAND} -E echo "dist: ${CMAKE_BINARY_DIR}/${RZ_DIST_NAME}.msi"
        DEPENDS ${RZ_DIST_PROGRAMS} manuals
        VERBATIM)
endif()
