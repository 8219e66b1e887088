# Warnings, sanitizers and the one-line test registration shared by every folder.

add_library(project_warnings INTERFACE)
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(project_warnings INTERFACE -Wall -Wextra -Wshadow
                           $<$<BOOL:${TARNIX_WERROR}>:-Werror>)
endif()

if(TARNIX_SANITIZE)
    add_compile_options(-fsanitize=${TARNIX_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${TARNIX_SANITIZE})
endif()

set(TARNIX_TEST_TIMEOUT 120 CACHE STRING "Default per-test time limit in seconds")

# tarnix_add_test(<name> SOURCES ... LIBS ... [GUI] [TIMEOUT s] [LABELS ...])
# GUI tests get a QApplication; the others a QCoreApplication. Both run on the offscreen platform.
function(tarnix_add_test name)
    cmake_parse_arguments(T "GUI;SERIAL" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT ${TARNIX_TEST_TIMEOUT})
    endif()
    add_executable(${name} ${T_SOURCES})
    if(T_GUI)
        set(main test_main_gui)
    else()
        set(main test_main_core)
    endif()
    target_link_libraries(${name} PRIVATE ${T_LIBS} ${main} project_warnings)
    set(props TIMEOUT ${T_TIMEOUT} ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
    if(T_LABELS)
        list(APPEND props LABELS "${T_LABELS}")
    endif()
    if(T_SERIAL)
        list(APPEND props RUN_SERIAL TRUE)
    endif()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120 PROPERTIES ${props})
endfunction()
