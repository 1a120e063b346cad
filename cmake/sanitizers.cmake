# Instruments the project's own code (every target defined after this file is included) with
# sanitizers: -DVINDELOR_SANITIZE=address,undefined or -DVINDELOR_SANITIZE=thread.
# Libraries from the system (Qt, libpulse, libsndfile) stay as they are.
set(VINDELOR_SANITIZE "" CACHE STRING
    "Sanitizers for the project's code: address,undefined, address, undefined or thread")

if(VINDELOR_SANITIZE)
    string(REPLACE "," ";" vindelorSanitizers "${VINDELOR_SANITIZE}")
    foreach(sanitizer IN LISTS vindelorSanitizers)
        if(NOT sanitizer MATCHES "^(address|undefined|thread)$")
            message(FATAL_ERROR "VINDELOR_SANITIZE: unknown sanitizer '${sanitizer}'")
        endif()
    endforeach()
    if("thread" IN_LIST vindelorSanitizers AND "address" IN_LIST vindelorSanitizers)
        message(FATAL_ERROR "VINDELOR_SANITIZE: thread cannot be combined with address")
    endif()

    add_compile_options(-fsanitize=${VINDELOR_SANITIZE} -fno-omit-frame-pointer -g)
    add_link_options(-fsanitize=${VINDELOR_SANITIZE})
    if("undefined" IN_LIST vindelorSanitizers)
        # Any undefined behaviour ends the test that met it, so that it cannot pass unnoticed.
        add_compile_options(-fno-sanitize-recover=all)
        add_link_options(-fno-sanitize-recover=all)
    endif()
endif()

# libFuzzer targets (fuzz/): clang only. The project's code gets the fuzzer's coverage
# instrumentation, so that inputs reaching new branches of ours are kept; combine with
# VINDELOR_SANITIZE=address,undefined to catch what they break.
option(VINDELOR_FUZZ "Build the libFuzzer targets in fuzz/ (clang only)" OFF)
if(VINDELOR_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "VINDELOR_FUZZ needs clang: configure with -DCMAKE_CXX_COMPILER=clang++")
    endif()
    add_compile_options(-fsanitize=fuzzer-no-link)
endif()
