# The Windows release of the window program: the installer (NSIS) and a portable zip of the same
# files, made by the target lct_windows_packages in a build against the static Qt for Windows.
find_program(LCT_MAKENSIS makensis REQUIRED)

set(stage ${CMAKE_BINARY_DIR}/stage)
set(LCT_STAGE ${stage})
set(LCT_SETUP_FILE ${CMAKE_BINARY_DIR}/lctrovi-${LCT_VERSION_TEXT}-setup.exe)
set(LCT_VERSION_QUAD ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.0.0)
set(portable_name lctrovi-${LCT_VERSION_TEXT}-portable)
set(portable_zip ${CMAKE_BINARY_DIR}/${portable_name}.zip)
configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/lctrovi.nsi.in ${CMAKE_BINARY_DIR}/lctrovi.nsi @ONLY)

set(licences ${PROJECT_SOURCE_DIR}/packaging/licences/LGPL-3.0.txt
             ${PROJECT_SOURCE_DIR}/packaging/licences/GCC-exception-3.1.txt
             ${PROJECT_SOURCE_DIR}/packaging/licences/ZPL-2.1.txt)
add_custom_command(
    OUTPUT ${LCT_SETUP_FILE} ${portable_zip}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage} ${CMAKE_BINARY_DIR}/${portable_name}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}/licences
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:lctrovi-utility> $<TARGET_FILE:lctrovi> ${stage}
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/LICENSE ${stage}/LICENSE.txt
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/packaging/THIRD-PARTY-NOTICES.txt ${stage}
    COMMAND ${CMAKE_COMMAND} -E copy ${licences} ${stage}/licences
    COMMAND ${LCT_MAKENSIS} -V2 -NOCD ${CMAKE_BINARY_DIR}/lctrovi.nsi
    # The portable zip: the same files in one folder, without an uninstaller.
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${stage} ${CMAKE_BINARY_DIR}/${portable_name}
    COMMAND ${CMAKE_COMMAND} -E tar cf ${portable_zip} --format=zip ${portable_name}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${CMAKE_BINARY_DIR}/${portable_name}
    DEPENDS lctrovi-utility lctrovi ${CMAKE_BINARY_DIR}/lctrovi.nsi ${PROJECT_SOURCE_DIR}/LICENSE
            ${PROJECT_SOURCE_DIR}/packaging/THIRD-PARTY-NOTICES.txt ${licences}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    COMMENT "Windows installer and portable zip"
    VERBATIM)
add_custom_target(lct_windows_packages DEPENDS ${LCT_SETUP_FILE} ${portable_zip})
