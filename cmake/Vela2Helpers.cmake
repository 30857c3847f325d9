# vela2_component(<name> SOURCES <files...> [DEPS <targets...>])
# One static library per subsystem folder; all of them end up inside the one
# shared library, and the tests link them directly to reach internal classes.
function(vela2_component name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/include)
    if(ARG_DEPS)
        target_link_libraries(${name} PUBLIC ${ARG_DEPS})
    endif()
endfunction()

# vela2_test(<name> SOURCES <files...> DEPS <targets...> [LABELS <labels...>]
#            [WRAPPER <program>])
# WRAPPER: the program that runs the test program (umockdev-wrapper).
# LABELS: "wine" runs the test under Wine in the Windows build too; "tsan" joins
# the ThreadSanitizer pass; "camera" marks programs that create the library's
# process-wide objects, whose two named events every process of the user
# shares: such programs never run at the same time.
function(vela2_test name)
    cmake_parse_arguments(ARG "" "WRAPPER" "SOURCES;DEPS;LABELS" ${ARGN})
    if(WIN32 AND NOT "wine" IN_LIST ARG_LABELS)
        return()
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} vela2_gtest_main)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    if(ARG_WRAPPER)
        add_test(NAME ${name} COMMAND ${ARG_WRAPPER} $<TARGET_FILE:${name}>)
    else()
        # By target name, so that a cross build runs it through its emulator (Wine).
        add_test(NAME ${name} COMMAND ${name})
    endif()
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT 600)
    if("camera" IN_LIST ARG_LABELS)
        set_tests_properties(${name} PROPERTIES RESOURCE_LOCK vela2_named_events)
    endif()
    # Named events of this program's processes stay among themselves, away
    # from other test programs and other builds running at the same time.
    string(MD5 _space "${CMAKE_BINARY_DIR}/${name}")
    set(_environment "VELA2_EVENT_NAMESPACE=${_space}")
    if(NOT WIN32)
        # The settings of the user running the tests stay out of them; the
        # system's (/etc/vela2) cannot be hidden, so a test machine has none.
        list(APPEND _environment "XDG_CONFIG_HOME=${CMAKE_BINARY_DIR}/tests/user-config")
    endif()
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${_environment}")
endfunction()

# vela2_fuzzer(<name> SOURCES <files...> DEPS <targets...>)
# Built only with clang (VELA2_BUILD_FUZZ); scripts/test runs every fuzz_*
# program briefly as a smoke test.
function(vela2_fuzzer name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    add_executable(fuzz_${name} ${ARG_SOURCES})
    target_link_libraries(fuzz_${name} PRIVATE ${ARG_DEPS})
    target_compile_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
    set_target_properties(fuzz_${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzzers)
endfunction()

# vela2_benchmark(<name> SOURCES <files...> DEPS <targets...>)
function(vela2_benchmark name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    find_package(benchmark REQUIRED)
    add_executable(bench_${name} ${ARG_SOURCES})
    target_link_libraries(bench_${name} PRIVATE ${ARG_DEPS} benchmark::benchmark)
    target_include_directories(bench_${name} PRIVATE ${PROJECT_SOURCE_DIR}/bench)
    set_target_properties(bench_${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/benchmarks)
endfunction()

# vela2_manual_page(name): installs docs/man/<name>.1.in, with the version
# filled in and compressed as Debian wants it, as section 1 of the tools.
function(vela2_manual_page name)
    set(_page ${CMAKE_CURRENT_BINARY_DIR}/${name}.1)
    configure_file(${PROJECT_SOURCE_DIR}/docs/man/${name}.1.in ${_page} @ONLY)
    execute_process(COMMAND gzip -9nc ${_page} OUTPUT_FILE ${_page}.gz)
    install(FILES ${_page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
endfunction()
