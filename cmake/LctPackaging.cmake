# Installation and the Debian package: the three programs, man pages made from their --help,
# and the desktop entry with its icon.
include(GNUInstallDirs)

set(LCT_INSTALLED_PROGRAMS)
foreach(program lctrovi-utility lctrovi lctrovi-sim)
    if(TARGET ${program})
        install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
        list(APPEND LCT_INSTALLED_PROGRAMS ${program})
    endif()
endforeach()

if(TARGET lctrovi-utility)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/lctrovi-utility.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/lctrovi-utility.svg
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

# The machine-readable copyright file every Debian package carries.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Man pages from each program's --help; the version is given, so no program needs a display.
find_program(LCT_HELP2MAN help2man)
if(LCT_HELP2MAN AND LCT_INSTALLED_PROGRAMS AND NOT CMAKE_CROSSCOMPILING)
    set(man_pages)
    set(description_lctrovi-utility "set up and service a Lumacor Trovi receiver")
    set(description_lctrovi "service a Lumacor Trovi receiver from the command line")
    set(description_lctrovi-sim "simulated Lumacor Trovi receiver on a pseudo-terminal")
    foreach(program ${LCT_INSTALLED_PROGRAMS})
        set(page ${CMAKE_CURRENT_BINARY_DIR}/man/${program}.1)
        add_custom_command(
            OUTPUT ${page}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
            COMMAND ${LCT_HELP2MAN} --no-info --no-discard-stderr --version-string=${LCT_VERSION_TEXT}
                    --name=${description_${program}} --output=${page} $<TARGET_FILE:${program}>
            DEPENDS ${program}
            COMMENT "Man page of ${program}"
            VERBATIM)
        list(APPEND man_pages ${page})
    endforeach()
    add_custom_target(lct_man_pages ALL DEPENDS ${man_pages})
    install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lctrovi)
set(CPACK_PACKAGE_VERSION ${LCT_VERSION_TEXT})
set(CPACK_PACKAGE_CONTACT "LCTrovi Utility developers <lctrovi@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The dependencies come from the programs' own shared libraries (dpkg-shlibdeps), with
# versions as the build machine's libraries require them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
