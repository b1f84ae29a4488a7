# Windows targets: HOLVSVC.EXE, console subsystem, system DLLs only.
target_compile_definitions(holvhost PUBLIC _WIN32_WINNT=0x0600 WINVER=0x0600)
if(MSVC)
    target_compile_options(holvhost PUBLIC /W4)
else()
    target_compile_options(holvhost PUBLIC -Wall -Wextra -Os)
endif()

add_executable(holvsvc service/main.cpp)
set_target_properties(holvsvc PROPERTIES OUTPUT_NAME HOLVSVC SUFFIX .EXE)
target_link_libraries(holvsvc PRIVATE holvhost advapi32 user32 kernel32)
if(NOT MSVC)
    # The compiler's own runtime goes inside the executable; only system DLLs
    # are imported.
    target_link_options(holvsvc PRIVATE -static -static-libgcc -static-libstdc++ -s)
endif()

# The example worker and the control tool, built beside HOLVSVC.EXE.
add_subdirectory(examples/worker)
add_subdirectory(tools)

# Checks of the built programs: the PE headers, and scenarios under Wine.
enable_testing()
add_subdirectory(tests/wine)
include(cmake/release.cmake)
