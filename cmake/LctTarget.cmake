# Per-target build settings: warnings, -Werror on request, sanitizers on request.
# Every target of the project calls lct_target_defaults() instead of setting flags globally.

option(LCT_WERROR "Treat compiler warnings as errors" OFF)
option(LCT_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)

function(lct_target_defaults target)
    target_compile_features(${target} PUBLIC cxx_std_20)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4)
    else()
        target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
        if(LCT_WERROR)
            target_compile_options(${target} PRIVATE -Werror)
        endif()
    endif()
    if(LCT_BUILD_FUZZ)
        # Coverage for libFuzzer in every library the fuzzers link, not only in the targets.
        target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link,address,undefined)
    endif()
    if(LCT_SANITIZE)
        target_compile_options(${target} PUBLIC -fsanitize=address,undefined -fno-omit-frame-pointer
                                                -fno-sanitize-recover=undefined)
        target_link_options(${target} PUBLIC -fsanitize=address,undefined)
    endif()
endfunction()

# A GoogleTest executable whose tests are registered with CTest one by one.
function(lct_add_test_executable name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    lct_target_defaults(${name})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                         PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT 120)
endfunction()

# A GoogleTest executable with real windows: QApplication on the offscreen platform.
function(lct_add_gui_test_executable name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    lct_target_defaults(${name})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} lct_qttestmain GTest::gtest)
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                         PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT 120
                                    ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()
