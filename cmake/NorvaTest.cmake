# norva_add_test(<name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>])
# One QtTest executable, registered with CTest and run on the offscreen platform.
function(norva_add_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} Qt6::Test)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
    add_test(NAME ${name} COMMAND ${name})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    set(environment "QT_QPA_PLATFORM=offscreen")
    set(suppressions ${PROJECT_SOURCE_DIR}/tests/sanitizers)
    if(NORVA_SANITIZE STREQUAL "address")
        list(APPEND environment "LSAN_OPTIONS=suppressions=${suppressions}/lsan.supp"
             "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
    elseif(NORVA_SANITIZE STREQUAL "thread")
        list(APPEND environment "TSAN_OPTIONS=suppressions=${suppressions}/tsan.supp:halt_on_error=1:die_after_fork=0")
        # For the few checks that compare the timing of two real programs, both slowed down.
        target_compile_definitions(${name} PRIVATE NORVA_THREAD_CHECKED=1)
    endif()
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "${environment}"
        TIMEOUT ${ARG_TIMEOUT}
        LABELS "${ARG_LABELS}")
endfunction()
