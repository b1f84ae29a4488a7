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
