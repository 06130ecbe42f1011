# One INTERFACE target that every project target links: the language standard, the warnings
# (errors in our own code) and the sanitizer flags of the current build.
add_library(corvale_common INTERFACE)
target_compile_features(corvale_common INTERFACE cxx_std_20)
target_compile_options(corvale_common INTERFACE -Wall -Wextra -Wpedantic -Werror)
target_compile_definitions(corvale_common INTERFACE
    QT_NO_CAST_FROM_ASCII QT_NO_NARROWING_CONVERSIONS_IN_CONNECT)
target_include_directories(corvale_common INTERFACE ${PROJECT_SOURCE_DIR})

# CORVALE_SANITIZE: empty, "address,undefined" or "thread".
set(CORVALE_SANITIZE "" CACHE STRING "Sanitizers for this build (address,undefined or thread)")
if(CORVALE_SANITIZE)
    set(_san -fsanitize=${CORVALE_SANITIZE} -fno-omit-frame-pointer)
    if(CORVALE_SANITIZE MATCHES "undefined")
        list(APPEND _san -fno-sanitize-recover=all)
    endif()
    target_compile_options(corvale_common INTERFACE ${_san})
    target_link_options(corvale_common INTERFACE ${_san})
endif()
