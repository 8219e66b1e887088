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

# tarnix_add_netns_test(<name> COMMAND <exe> [args...] [RECEIVERS n] [WITH_SIM] [TIMEOUT s]
#                       [LABELS ...] [ENVIRONMENT ...])
# Runs the command in the host namespace of scripts/netns-run, beside simulated receivers on a
# private network (skipped, 77, without root). WITH_SIM has the rig start the simulator; otherwise
# the test starts its own (TARNIX_SIM in its environment). Never discovered directly: such tests
# broadcast, which only the namespaces may see.
function(tarnix_add_netns_test name)
    cmake_parse_arguments(T "WITH_SIM" "RECEIVERS;TIMEOUT" "COMMAND;LABELS;ENVIRONMENT" ${ARGN})
    if(NOT T_RECEIVERS)
        set(T_RECEIVERS 2)
    endif()
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    if(T_WITH_SIM)
        set(sim_mode --sim $<TARGET_FILE:tarnix-sim>)
    else()
        set(sim_mode --no-sim)
    endif()
    add_test(NAME ${name}
             COMMAND ${PROJECT_SOURCE_DIR}/scripts/netns-run --receivers ${T_RECEIVERS} ${sim_mode} -- ${T_COMMAND})
    set(labels netns ${T_LABELS})
    set(env QT_QPA_PLATFORM=offscreen TARNIX_SIM=$<TARGET_FILE:tarnix-sim> ${T_ENVIRONMENT})
    set_tests_properties(${name} PROPERTIES LABELS "${labels}" SKIP_RETURN_CODE 77 RUN_SERIAL TRUE
                         TIMEOUT ${T_TIMEOUT} ENVIRONMENT "${env}")
endfunction()
