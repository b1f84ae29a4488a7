# Windows targets: HOLVSVC.EXE, console subsystem, system DLLs only.
target_compile_definitions(holvhost PUBLIC _WIN32_WINNT=0x0600 WINVER=0x0600)
if(MSVC)
    target_compile_options(holvhost PUBLIC /W4)
else()
    # Size. The host uses neither exceptions nor RTTI and needs no unwind
    # tables; each function and datum gets a section of its own, so the linker
    # drops what nothing references.
    target_compile_options(holvhost PUBLIC -Wall -Wextra -Os -fno-exceptions -fno-rtti
        -fno-asynchronous-unwind-tables -ffunction-sections)
    # Only for the host's own small records: with data sections, MinGW's GCC
    # puts zeroed buffers in .data, where they take room in the file (HOLVCHK's
    # report buffers would add 48 KB).
    target_compile_options(holvhost PRIVATE -fdata-sections)
    # The host formats with msvcrt's own printf instead of MinGW's C99 one,
    # which alone is about half of the executable. libstdc++'s headers turn
    # MinGW's back on, so stdio.h is read first, with it off. The formats the
    # host uses (%d %u %X %s %.*s) come out the same; msvcrt knows no hh, j, z
    # or t size.
    target_compile_definitions(holvhost PUBLIC __USE_MINGW_ANSI_STDIO=0)
    target_compile_options(holvhost PUBLIC "SHELL:-include stdio.h")
endif()

# One commit builds to the same bytes in any folder at any time: no build
# folder in the programs, and every PE file stamped with the commit's time
# (SOURCE_DATE_EPOCH when set, else the commit's date) and given the checksum
# its bytes give, after the link.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(HOLV_EPOCH_DEFAULT "$ENV{SOURCE_DATE_EPOCH}")
else()
    execute_process(COMMAND git -C ${PROJECT_SOURCE_DIR} log -1 --format=%ct
        OUTPUT_VARIABLE HOLV_EPOCH_DEFAULT OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(NOT HOLV_EPOCH_DEFAULT MATCHES "^[0-9]+$")
        set(HOLV_EPOCH_DEFAULT 0)
    endif()
endif()
set(HOLV_SOURCE_DATE_EPOCH ${HOLV_EPOCH_DEFAULT} CACHE STRING "Unix time of every date in the built files")
find_package(Python3 COMPONENTS Interpreter)
if(NOT MSVC)
    # Not for the resource compiler, which knows no such option.
    foreach(map ${PROJECT_SOURCE_DIR}=. ${PROJECT_BINARY_DIR}=build)
        target_compile_options(holvhost PUBLIC $<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${map}>)
        add_compile_options($<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${map}>)
    endforeach()
    add_link_options(-Wl,--no-insert-timestamp)
endif()
# Every C++ program and DLL linked from here on, in every folder: the stamp
# is part of the link rule, as a POST_BUILD step can only be set in the
# target's own folder.
if(Python3_Interpreter_FOUND AND NOT MSVC)
    set(holv_stamp_command "${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/cmake/pe_stamp.py ${HOLV_SOURCE_DATE_EPOCH} <TARGET>")
    list(APPEND CMAKE_CXX_LINK_EXECUTABLE "${holv_stamp_command}")
    list(APPEND CMAKE_CXX_CREATE_SHARED_LIBRARY "${holv_stamp_command}")
endif()

add_executable(holvsvc service/main.cpp)
set_target_properties(holvsvc PROPERTIES OUTPUT_NAME HOLVSVC SUFFIX .EXE)
target_link_libraries(holvsvc PRIVATE holvhost advapi32 user32 kernel32)
if(NOT MSVC)
    # The compiler's own runtime goes inside the executable; only system DLLs
    # are imported.
    target_link_options(holvsvc PRIVATE -static -static-libgcc -static-libstdc++ -s -Wl,--gc-sections)
endif()

# The example worker and the control tool, built beside HOLVSVC.EXE.
add_subdirectory(examples/worker)
add_subdirectory(tools)

# The header for worker authors is C as much as C++: the checks build it as
# both (tests/wine/CMakeLists.txt).
enable_language(C)

# Checks of the built programs: the PE headers, and scenarios under Wine.
enable_testing()
add_subdirectory(tests/wine)
include(cmake/release.cmake)
include(cmake/msi.cmake)
