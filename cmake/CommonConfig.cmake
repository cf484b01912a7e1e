# Settings every project target shares: the language level and warnings, as errors in developer
# and CI builds. A user's Release build does not fail on a warning a newer compiler brings.
if(CMAKE_BUILD_TYPE STREQUAL "Release")
    set(quaddle_werror_default OFF)
else()
    set(quaddle_werror_default ON)
endif()
option(QUADDLE_WERROR "Treat compiler warnings as errors" ${quaddle_werror_default})
add_library(quaddle_common INTERFACE)
target_compile_features(quaddle_common INTERFACE cxx_std_20)
target_compile_options(quaddle_common INTERFACE -Wall -Wextra $<$<BOOL:${QUADDLE_WERROR}>:-Werror>)

# The Qt defines that keep the program's string conversions explicit. Program libraries link
# this privately; tests, full of literal test data, take string literals as texts instead.
add_library(quaddle_strict INTERFACE)
target_compile_definitions(quaddle_strict INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_CAST_TO_ASCII
    QT_NO_CAST_FROM_BYTEARRAY
    QT_NO_URL_CAST_FROM_STRING
    QT_USE_QSTRINGBUILDER
    QT_NO_FOREACH
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_DISABLE_DEPRECATED_BEFORE=0x060400)

option(QUADDLE_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(QUADDLE_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                        -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()

# For scripts/fuzz (clang): program code instrumented for libFuzzer's coverage, with both
# sanitizers; tests/fuzz then builds each fuzz target as a libFuzzer program.
option(QUADDLE_FUZZ "Build the libFuzzer targets (needs clang)" OFF)
if(QUADDLE_FUZZ)
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined
                        -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()
