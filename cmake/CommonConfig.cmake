# One INTERFACE target that every project target links: the language standard, the warnings
# (errors in our own code) and the sanitizer flags of the current build.
add_library(corvale_common INTERFACE)
target_compile_features(corvale_common INTERFACE cxx_std_20)
# Casts say which kind they are; an override never hides its base's other overloads by
# accident; a class with virtual functions is destroyed through its base safely.
target_compile_options(corvale_common INTERFACE -Wall -Wextra -Wpedantic -Werror
    -Wold-style-cast -Woverloaded-virtual -Wnon-virtual-dtor)
# Text crosses between bytes and QString only where the code says which encoding it means;
# string concatenation builds once; iterators keep const-ness.
target_compile_definitions(corvale_common INTERFACE
    QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII QT_NO_CAST_FROM_BYTEARRAY
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT QT_USE_QSTRINGBUILDER QT_STRICT_ITERATORS)
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
