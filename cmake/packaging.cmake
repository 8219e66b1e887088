# Both packages carry the project version.
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})

# The Windows release archive (scripts/package-windows): ExtIO_TarnixDDC-<version>-win32.zip with
# the DLL, the licences and a text for the person who installs it, in one folder.
if(WIN32)
    if(TARGET ExtIO_TarnixDDC)
        # The DLL alone: its import library is of no use to a host.
        install(FILES $<TARGET_FILE:ExtIO_TarnixDDC> DESTINATION .)
    endif()
    install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/THIRD-PARTY-NOTICES.txt DESTINATION .)
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/licenses/ DESTINATION licenses)
    # Windows line ends, for Notepad.
    configure_file(${PROJECT_SOURCE_DIR}/docs/windows/README-Windows.txt.in
                   ${PROJECT_BINARY_DIR}/README-Windows.txt @ONLY NEWLINE_STYLE CRLF)
    install(FILES ${PROJECT_BINARY_DIR}/README-Windows.txt DESTINATION .)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_NAME ExtIO_TarnixDDC)
    set(CPACK_PACKAGE_FILE_NAME ExtIO_TarnixDDC-${PROJECT_VERSION}-win32)
    include(CPack)
    return()
endif()

# The Debian package (scripts/package): the SoapySDR module where SoapySDR looks for modules (with
# CMAKE_INSTALL_PREFIX=/usr), the Linux plug-in and the two tools.
include(GNUInstallDirs)
if(TARGET ExtIO_TarnixDDC)
    install(TARGETS ExtIO_TarnixDDC LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/tarnixddc)
endif()
foreach(tool tarnix-sim tarnix-host)
    if(TARGET ${tool})
        install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
endforeach()
if(TARGET tarnix-host)
    # An installed host finds the installed plug-in beside it.
    target_compile_definitions(tarnix-host PRIVATE
        TARNIX_INSTALLED_EXTIO="../${CMAKE_INSTALL_LIBDIR}/tarnixddc/ExtIO_TarnixDDC.so")
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/tarnixddc)
install(FILES ${PROJECT_SOURCE_DIR}/tools/sim/README.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/tarnixddc RENAME tarnix-sim.md)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarnixddc)
set(CPACK_PACKAGE_CONTACT "TarnixDDC developers <tarnixddc@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "TarnixDDC network receiver for SoapySDR programs and ExtIO hosts")
set(CPACK_PACKAGE_DESCRIPTION "SoapySDR module (driver=tarnixddc) for gqrx, GNU Radio, CubicSDR and other\n\
SoapySDR programs, the ExtIO plug-in built for Linux, the receiver simulator tarnix-sim and the\n\
command-line host tarnix-host.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "soapysdr-tools")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "gqrx-sdr, gnuradio, soapyremote-server")
set(CPACK_STRIP_FILES ON)
include(CPack)
