# Windows shape of the plug-in DLL: the .def export table, a version resource, the file name a host
# expects (no "lib" prefix) and a self-contained image (static runtime from the toolchain file,
# static Qt with its Windows platform plugin).
#
#   include(${PROJECT_SOURCE_DIR}/cmake/windows.cmake)
#   tarnix_windows_plugin(<target> [DEF <file.def>] [DESCRIPTION <text>])
include_guard(GLOBAL)

set(TARNIX_WINDOWS_EXTIO_DIR ${CMAKE_CURRENT_LIST_DIR}/../extio)

function(tarnix_windows_plugin target)
    cmake_parse_arguments(P "" "DEF;DESCRIPTION" "" ${ARGN})
    if(NOT P_DEF)
        set(P_DEF ${TARNIX_WINDOWS_EXTIO_DIR}/ExtIO_TarnixDDC.def)
    endif()
    if(NOT P_DESCRIPTION)
        set(P_DESCRIPTION "ExtIO receiver plug-in for TarnixDDC network receivers")
    endif()
    get_target_property(name ${target} OUTPUT_NAME)
    if(NOT name)
        set(name ${target})
    endif()

    # Windows wants four version numbers; the project has three.
    set(TARNIX_RC_NAME ${name})
    set(TARNIX_RC_DESCRIPTION "${P_DESCRIPTION}")
    set(v ${PROJECT_VERSION_MAJOR} ${PROJECT_VERSION_MINOR} ${PROJECT_VERSION_PATCH} 0)
    if(PROJECT_VERSION_TWEAK)
        list(REMOVE_AT v 3)
        list(APPEND v ${PROJECT_VERSION_TWEAK})
    endif()
    list(JOIN v "," TARNIX_RC_VERSION_COMMAS)
    list(JOIN v "." TARNIX_RC_VERSION_DOTS)
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${name}_version.rc)
    configure_file(${TARNIX_WINDOWS_EXTIO_DIR}/version.rc.in ${rc} @ONLY)

    # With a .def among the sources it is the whole export list: the entry points carry no
    # __declspec(dllexport), which would add a third, undecorated-at-sign name for each.
    target_sources(${target} PRIVATE ${P_DEF} ${rc})
    set_target_properties(${target} PROPERTIES PREFIX "" IMPORT_PREFIX "")
    # Static Qt links its default plugins of each module; the plug-in shows PNG pictures (built
    # into QtGui) and uses plain UDP sockets, so image-format and bearer plugins are dead weight.
    # The Windows platform plugin and the style plugin stay.
    qt5_import_plugins(${target} EXCLUDE_BY_TYPE imageformats bearer)
    target_link_options(${target} PRIVATE -Wl,--gc-sections $<$<NOT:$<CONFIG:Debug>>:-s>)

    # The licences travel beside the DLL: ours, and those of what it carries inside (Qt under the
    # LGPL, zlib, the mingw-w64 and GCC runtimes).
    set(root ${PROJECT_SOURCE_DIR})
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_COMMAND} -E copy_if_different ${root}/LICENSE $<TARGET_FILE_DIR:${target}>/LICENSE.txt
        COMMAND ${CMAKE_COMMAND} -E copy_if_different ${root}/THIRD-PARTY-NOTICES.txt
                ${root}/licenses/LGPL-3.0.txt ${root}/licenses/GPL-3.0.txt $<TARGET_FILE_DIR:${target}>
        VERBATIM)
endfunction()
