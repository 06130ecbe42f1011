# The fuzz build: clang's libFuzzer with AddressSanitizer and UndefinedBehaviorSanitizer. The
# libraries get the coverage instrumentation only; the fuzz targets link the fuzzer's runtime,
# which brings its own main().
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "CORVALE_WITH_FUZZ needs clang (configure with -DCMAKE_CXX_COMPILER=clang++)")
endif()
if(CORVALE_SANITIZE)
    message(FATAL_ERROR "CORVALE_WITH_FUZZ brings its own sanitizers; leave CORVALE_SANITIZE empty")
endif()

set(_fuzz_sanitizers address,undefined)
target_compile_options(corvale_common INTERFACE
    -fsanitize=fuzzer-no-link,${_fuzz_sanitizers} -fno-sanitize-recover=all
    -fno-omit-frame-pointer)
target_link_options(corvale_common INTERFACE -fsanitize=${_fuzz_sanitizers})

# corvale_add_fuzz_target(<name> SOURCES <files...> LIBS <libraries...>)
function(corvale_add_fuzz_target name)
    cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${F_SOURCES})
    target_link_libraries(${name} PRIVATE corvale_common ${F_LIBS})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
endfunction()
