# Release pieces of the Windows build: HOLVSVC.EXE's version resource and its
# check, the check of the sample INI file, and the ZIP package for Windows
# users (cmake --build --preset windows-x86 --target package).

# Version resource. Its numbers come from project(... VERSION ...), the one
# place the version is set.
enable_language(RC)
set(HOLV_VERSION_TEXT ${PROJECT_VERSION})
set(HOLV_VERSION_COMMAS ${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},0)
configure_file(${PROJECT_SOURCE_DIR}/service/holvsvc.rc.in ${PROJECT_BINARY_DIR}/holvsvc.rc @ONLY)
# A library of its own, so none of the C++ compile options reach the resource
# compiler.
add_library(holvsvc_version OBJECT ${PROJECT_BINARY_DIR}/holvsvc.rc)
target_link_libraries(holvsvc PRIVATE holvsvc_version)

# The shipped text files get Windows line ends.
configure_file(${PROJECT_SOURCE_DIR}/examples/HOLV32.INI ${PROJECT_BINARY_DIR}/package/HOLV32.INI
    @ONLY NEWLINE_STYLE CRLF)
foreach(doc administrator worker)
    configure_file(${PROJECT_SOURCE_DIR}/docs/${doc}.md ${PROJECT_BINARY_DIR}/package/docs/${doc}.md
        @ONLY NEWLINE_STYLE CRLF)
endforeach()

# Checks: the version in the built executable, and that the sample INI file
# gives the host exactly the options it is meant to.
find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND)
    add_test(NAME release.version_resource
        COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/cmake/check_version_resource.py
            $<TARGET_FILE:holvsvc> ${PROJECT_VERSION} HOLVSVC.EXE)
    add_test(NAME release.sample_ini
        COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/cmake/check_sample_ini.py
            ${PROJECT_BINARY_DIR}/package/HOLV32.INI -eHOLV32IP.EXE)
    set_tests_properties(release.version_resource release.sample_ini PROPERTIES LABELS release)
else()
    message(WARNING "Python 3 not found: the release checks are not registered")
endif()

# The package: the host, the example worker, the sample INI file, SVCCTL.EXE
# for diagnosis, a README naming each file, the documents, the worker SDK.
install(TARGETS holvsvc holvworker holvchk svcctl RUNTIME DESTINATION .)
install(FILES ${PROJECT_BINARY_DIR}/package/HOLV32.INI ${PROJECT_BINARY_DIR}/package/README.txt
    DESTINATION .)
install(FILES ${PROJECT_BINARY_DIR}/package/docs/administrator.md
    ${PROJECT_BINARY_DIR}/package/docs/worker.md DESTINATION docs)
# For worker authors, in sdk\: the shutdown event's header (the very one the
# host is built from) and the minimal worker's source.
set(HOLV_SDK_FILES holvsvc_shutdown_event.h minimal_worker.c)
foreach(file ${HOLV_SDK_FILES})
    configure_file(${PROJECT_SOURCE_DIR}/sdk/${file} ${PROJECT_BINARY_DIR}/package/sdk/${file}
        @ONLY NEWLINE_STYLE CRLF)
    install(FILES ${PROJECT_BINARY_DIR}/package/sdk/${file} DESTINATION sdk)
endforeach()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME holvsvc)
set(CPACK_PACKAGE_VENDOR HOLV)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "HOLV Service Host")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
include(CPack)
# The README names the ZIP's top folder. CPack's own variable for it holds the
# source package's name at this point, so it is built from its parts.
set(HOLV_PACKAGE_FOLDER ${CPACK_PACKAGE_NAME}-${CPACK_PACKAGE_VERSION}-${CPACK_SYSTEM_NAME})
# The README says what the programs of this package are: 32-bit in the
# product's package, 64-bit in the one built for trying it under wine64.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(HOLV_BITS 64)
    set(HOLV_WINE_BITS "These programs are 64-bit: they run under wine64. The product's ZIP\n  (win32) holds the same programs built for 32 bits, which need a Wine\n  that can run 32-bit programs; wine64 alone ends them at once without\n  doing anything: no output, no log.")
else()
    set(HOLV_BITS 32)
    set(HOLV_WINE_BITS "These programs are 32-bit. A Wine that cannot run 32-bit programs (only\n  wine64, without wine32) ends them at once without doing anything: no\n  output, no log.")
endif()
# The README is CRLF throughout; configure_file converts only its own lines.
string(REPLACE "\n" "\r\n" HOLV_WINE_BITS "${HOLV_WINE_BITS}")
configure_file(${PROJECT_SOURCE_DIR}/docs/package-readme.txt ${PROJECT_BINARY_DIR}/package/README.txt
    @ONLY NEWLINE_STYLE CRLF)

# The ZIP holds exactly the files its README names.
add_test(NAME release.zip_files
    COMMAND bash ${PROJECT_SOURCE_DIR}/cmake/check_zip_files.sh ${CMAKE_COMMAND} ${PROJECT_BINARY_DIR}
        ${PROJECT_BINARY_DIR}/package/README.txt ${PROJECT_BINARY_DIR}/zip-check)
set_tests_properties(release.zip_files PROPERTIES LABELS release)

# The whole release, twice unsigned from two clones and once signed: in the
# 64-bit build only, as it builds both.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    find_program(HOLV_OSSLSIGNCODE osslsigncode)
    find_program(HOLV_OPENSSL openssl)
    find_program(HOLV_MSIEXTRACT msiextract)
    find_program(HOLV_GIT git)
    if(HOLV_OSSLSIGNCODE AND HOLV_OPENSSL AND HOLV_MSIEXTRACT AND HOLV_GIT AND Python3_Interpreter_FOUND)
        add_test(NAME release.reproducible_signed
            COMMAND bash ${PROJECT_SOURCE_DIR}/cmake/check_release.sh ${PROJECT_SOURCE_DIR}
                ${PROJECT_BINARY_DIR}/release-check)
        set_tests_properties(release.reproducible_signed PROPERTIES LABELS release TIMEOUT 600 PROCESSORS 2)
    else()
        message(WARNING "osslsigncode, openssl, msiextract or git not found: no release.reproducible_signed test")
    endif()
endif()
