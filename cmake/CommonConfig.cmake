# One INTERFACE target that every project target links: the language standard, the warnings
# (errors in our own code) and the sanitizer flags of the current build.
add_library(corvale_common INTERFACE)
target_compile_features(corvale_common INTERFACE cxx_std_20)
# Warnings are errors in our own builds; a distribution whose newer compiler warns about
# something new can still build a release with CORVALE_WERROR=OFF.
option(CORVALE_WERROR "Treat compiler warnings as errors" ON)
# Casts say which kind they are and never drop const; an override never hides its base's
# other overloads by accident; a class with virtual functions is destroyed through its base
# safely; a local never shadows another of the same type (a GCC option; the fuzz build's clang
# has none like it); a value never narrows without a cast that says so.
target_compile_options(corvale_common INTERFACE -Wall -Wextra -Wpedantic
    -Wold-style-cast -Woverloaded-virtual -Wnon-virtual-dtor
    $<$<BOOL:${CORVALE_WERROR}>:-Werror>
    $<$<CXX_COMPILER_ID:GNU>:-Wshadow=compatible-local> -Wcast-qual -Wconversion)
# Text crosses between bytes and QString only where the code says which encoding it means;
# string concatenation builds once; iterators keep const-ness.
target_compile_definitions(corvale_common INTERFACE
    QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII QT_NO_CAST_FROM_BYTEARRAY
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT QT_USE_QSTRINGBUILDER QT_STRICT_ITERATORS
    # Nothing Qt deprecated up to the oldest Qt we build with (6.4) is used.
    QT_DISABLE_DEPRECATED_BEFORE=0x060400)
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
