# The Windows Installer package, built with wixl and msibuild (Debian's wixl
# and msitools): build/<preset>/holvsvc-<version>-<x86|x64>.msi, target msi,
# part of every build, and build/<preset>/msi/holvsvc-<version + 1>-<...>.msi,
# the next patch version of the same source, for trying an upgrade.
# packaging/msi/ holds its source.
find_program(HOLV_WIXL wixl)
find_program(HOLV_MSIBUILD msibuild)
find_program(HOLV_MSIINFO msiinfo)
if(NOT HOLV_WIXL OR NOT HOLV_MSIBUILD OR NOT HOLV_MSIINFO)
    message(WARNING "wixl, msibuild or msiinfo not found: no msi target (scripts/install-deps.sh installs them)")
    return()
endif()

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(HOLV_MSI_ARCH x64)
else()
    set(HOLV_MSI_ARCH x86)
endif()
set(HOLV_MSI ${PROJECT_BINARY_DIR}/holvsvc-${PROJECT_VERSION}-${HOLV_MSI_ARCH}.msi)

# HOLVMSI.DLL, the package's custom actions; it travels inside the package.
add_library(holvmsi SHARED packaging/msi/holvmsi.cpp packaging/msi/ansi_text.cpp packaging/msi/folder_lock.cpp packaging/msi/folder_trust.cpp packaging/msi/service_settings.cpp
    packaging/msi/holvmsi.def)
target_include_directories(holvmsi PRIVATE ${PROJECT_SOURCE_DIR})
set_target_properties(holvmsi PROPERTIES OUTPUT_NAME HOLVMSI PREFIX "" SUFFIX .DLL
    LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/msi RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/msi)
target_compile_definitions(holvmsi PRIVATE _WIN32_WINNT=0x0600 WINVER=0x0600)
# msi.dll by its file name: "msi" is the package's target.
if(MSVC)
    target_compile_options(holvmsi PRIVATE /W4)
    target_link_libraries(holvmsi PRIVATE msi.lib advapi32 netapi32 kernel32)
else()
    target_link_libraries(holvmsi PRIVATE -lmsi advapi32 netapi32 kernel32)
    target_compile_options(holvmsi PRIVATE -Wall -Wextra -Os)
    # The .def file names the export without the stdcall decoration.
    target_link_options(holvmsi PRIVATE -static -static-libgcc -static-libstdc++ -s -Wl,--enable-stdcall-fixup)
endif()

# One package: OUTPUT at VERSION with the host HOST_TARGET, its files staged
# in STAGE.
function(holv_msi_command output version host_target stage check_tool)
    set(inputs ${host_target} holvworker holvmsi
        ${PROJECT_SOURCE_DIR}/packaging/msi/holvsvc.wxs
        ${PROJECT_SOURCE_DIR}/packaging/msi/fixups.sql
        ${PROJECT_SOURCE_DIR}/packaging/msi/build.cmake
        ${PROJECT_SOURCE_DIR}/cmake/msi_summary.py
        ${PROJECT_BINARY_DIR}/package/HOLV32.INI
        ${PROJECT_BINARY_DIR}/package/docs/administrator.md
        ${PROJECT_BINARY_DIR}/package/docs/worker.md
        ${PROJECT_BINARY_DIR}/package/sdk/holvsvc_shutdown_event.h
        ${PROJECT_BINARY_DIR}/package/sdk/minimal_worker.c)
    if(check_tool)
        list(APPEND inputs holvchk)
    endif()
    add_custom_command(OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND}
            -D WIXL=${HOLV_WIXL} -D MSIBUILD=${HOLV_MSIBUILD} -D MSIINFO=${HOLV_MSIINFO}
            -D WXS=${PROJECT_SOURCE_DIR}/packaging/msi/holvsvc.wxs
            -D FIXUPS=${PROJECT_SOURCE_DIR}/packaging/msi/fixups.sql
            -D STAGE=${stage} -D OUTPUT=${output}
            -D VERSION=${version} -D ARCH=${HOLV_MSI_ARCH}
            -D HOST=$<TARGET_FILE:${host_target}> -D WORKER=$<TARGET_FILE:holvworker>
            -D HOLVMSI=$<TARGET_FILE:holvmsi> -D CHECK_TOOL=${check_tool}
            -D EPOCH=${HOLV_SOURCE_DATE_EPOCH}
            -D PYTHON=${Python3_EXECUTABLE} -D SUMMARY=${PROJECT_SOURCE_DIR}/cmake/msi_summary.py
            -D INI=${PROJECT_BINARY_DIR}/package/HOLV32.INI
            -D ADMIN_GUIDE=${PROJECT_BINARY_DIR}/package/docs/administrator.md
            -D WORKER_GUIDE=${PROJECT_BINARY_DIR}/package/docs/worker.md
            -D SDK_HEADER=${PROJECT_BINARY_DIR}/package/sdk/holvsvc_shutdown_event.h
            -D SDK_WORKER=${PROJECT_BINARY_DIR}/package/sdk/minimal_worker.c
            -P ${PROJECT_SOURCE_DIR}/packaging/msi/build.cmake
        DEPENDS ${inputs}
        COMMENT "Windows Installer package ${output}"
        VERBATIM)
endfunction()

# The packages are defined once every target is known, so HOLVCHK.EXE goes in
# whenever a holvchk target exists, wherever it is defined.
function(holv_msi_packages)
    set(check_tool "")
    if(TARGET holvchk)
        set(check_tool $<TARGET_FILE:holvchk>)
    endif()
    holv_msi_command(${HOLV_MSI} ${PROJECT_VERSION} holvsvc ${PROJECT_BINARY_DIR}/msi/stage "${check_tool}")

    # The next patch version, for the upgrade (the Wine scenario's, and the
    # administrator's guide's example): the same source with the version
    # one patch up, in the package and in HOLVSVC.EXE's version resource,
    # the one program that has one.
    math(EXPR patch "${PROJECT_VERSION_PATCH} + 1")
    set(next_version ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${patch})
    set(HOLV_VERSION_TEXT ${next_version})
    set(HOLV_VERSION_COMMAS ${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${patch},0)
    configure_file(${PROJECT_SOURCE_DIR}/service/holvsvc.rc.in ${PROJECT_BINARY_DIR}/msi/holvsvc-next.rc @ONLY)
    add_library(holvsvc_next_version OBJECT ${PROJECT_BINARY_DIR}/msi/holvsvc-next.rc)
    add_executable(holvsvc_next service/main.cpp)
    set_target_properties(holvsvc_next PROPERTIES OUTPUT_NAME HOLVSVC SUFFIX .EXE
        RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/msi/next)
    target_link_libraries(holvsvc_next PRIVATE holvhost holvsvc_next_version advapi32 user32 kernel32)
    get_target_property(link_options holvsvc LINK_OPTIONS)
    if(link_options)
        target_link_options(holvsvc_next PRIVATE ${link_options})
    endif()
    set(next ${PROJECT_BINARY_DIR}/msi/holvsvc-${next_version}-${HOLV_MSI_ARCH}.msi)
    holv_msi_command(${next} ${next_version} holvsvc_next ${PROJECT_BINARY_DIR}/msi/stage-next "${check_tool}")
    add_custom_target(msi ALL DEPENDS ${HOLV_MSI} ${next})
    if(Python3_Interpreter_FOUND)
        add_test(NAME release.version_resource_next
            COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/cmake/check_version_resource.py
                $<TARGET_FILE:holvsvc_next> ${next_version} HOLVSVC.EXE)
        set_tests_properties(release.version_resource_next PROPERTIES LABELS release)
    endif()
    add_test(NAME msi.tables
        COMMAND bash ${PROJECT_SOURCE_DIR}/tests/wine/msi_tables.sh ${HOLV_MSI} ${PROJECT_VERSION} ${HOLV_MSI_ARCH})
    add_test(NAME msi.tables_next
        COMMAND bash ${PROJECT_SOURCE_DIR}/tests/wine/msi_tables.sh ${next} ${next_version} ${HOLV_MSI_ARCH})
    set_tests_properties(msi.tables msi.tables_next PROPERTIES LABELS msi)
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL holv_msi_packages)
