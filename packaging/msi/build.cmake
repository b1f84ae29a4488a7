# Builds the Windows Installer package; cmake/msi.cmake runs it as
#   cmake -D NAME=VALUE ... -P build.cmake
# with WIXL, MSIBUILD, MSIINFO, WXS, FIXUPS, STAGE, OUTPUT, VERSION, ARCH, HOST, WORKER,
# HOLVMSI, INI, ADMIN_GUIDE, WORKER_GUIDE, SDK_HEADER, SDK_WORKER, EPOCH, PYTHON,
# SUMMARY and, when it is built, CHECK_TOOL.
#
# One source gives one package, byte for byte: every date in it (the files'
# in the cabinet, the summary's) is EPOCH, in Unix seconds; the product code
# follows from the product line and version, the package code from the
# package's bytes.
#
# wixl finds the files it packs in its working folder, so they are staged there
# under their installed names first.
file(REMOVE_RECURSE "${STAGE}")
file(MAKE_DIRECTORY "${STAGE}")
foreach(pair "HOST;HOLVSVC.EXE" "WORKER;HOLV32IP.EXE" "HOLVMSI;HOLVMSI.DLL" "INI;HOLV32.INI.sample"
             "ADMIN_GUIDE;administrator.md" "WORKER_GUIDE;worker.md" "CHECK_TOOL;HOLVCHK.EXE"
             "SDK_HEADER;holvsvc_shutdown_event.h" "SDK_WORKER;minimal_worker.c")
    list(GET pair 0 variable)
    list(GET pair 1 name)
    if(DEFINED ${variable} AND NOT "${${variable}}" STREQUAL "")
        file(COPY_FILE "${${variable}}" "${STAGE}/${name}")
        list(APPEND staged "${STAGE}/${name}")
    endif()
endforeach()
if(NOT EPOCH MATCHES "^[0-9]+$")
    string(TIMESTAMP EPOCH "%s" UTC)
endif()
# The cabinet keeps each file's modification time.
execute_process(COMMAND touch -d "@${EPOCH}" ${staged} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cannot date the staged files ${EPOCH}")
endif()

# The package remembers its example worker by this hash, to know it again.
file(SHA256 "${STAGE}/HOLV32IP.EXE" worker_sha256)
# wixl would draw a random product code, and keep it in the string pool even
# once replaced; this one is the same for every build of one version of the
# product line, as one version is one product: a name-based UUID in the
# namespace of the upgrade code the package has for ARCH.
file(STRINGS "${WXS}" upgrade_codes REGEX "define UpgradeCode = ")
string(REGEX REPLACE "[^;]*\"([-0-9A-F]+)\"[^;]*" "\\1" upgrade_codes "${upgrade_codes}")
list(LENGTH upgrade_codes count)
if(NOT count EQUAL 2)
    message(FATAL_ERROR "the package source does not give two upgrade codes: ${upgrade_codes}")
endif()
if(ARCH STREQUAL "x64")
    list(GET upgrade_codes 0 namespace)
else()
    list(GET upgrade_codes 1 namespace)
endif()
string(UUID PRODUCT_CODE NAMESPACE "${namespace}" NAME "ProductCode ${VERSION}" TYPE SHA1 UPPER)
set(defines -D "Version=${VERSION}" -D "Arch=${ARCH}" -D "WorkerSha256=${worker_sha256}" -D "ProductCode=${PRODUCT_CODE}")
if(EXISTS "${STAGE}/HOLVCHK.EXE")
    list(APPEND defines -D HolvChk=1)
endif()

set(built "${OUTPUT}.part")
file(REMOVE "${built}")
# The cabinet's dates are local times: UTC, wherever it is built.
execute_process(COMMAND "${CMAKE_COMMAND}" -E env TZ=UTC "${WIXL}" -a "${ARCH}" ${defines} -o "${built}" "${WXS}"
    WORKING_DIRECTORY "${STAGE}" RESULT_VARIABLE result ERROR_VARIABLE errors)
if(NOT result EQUAL 0 OR NOT EXISTS "${built}")
    message(FATAL_ERROR "wixl failed (${result}):\n${errors}")
endif()

# The product line's upgrade code, as wixl wrote it, for fixups.sql.
execute_process(COMMAND "${MSIINFO}" export "${built}" Property OUTPUT_VARIABLE properties RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR NOT properties MATCHES "\nUpgradeCode\t({[-0-9A-F]+})")
    message(FATAL_ERROR "no UpgradeCode in ${built}")
endif()
set(UPGRADE_CODE "${CMAKE_MATCH_1}")

# One msibuild run per statement: a statement may hold semicolons, which CMake
# lists would split, so they travel as another character until then.
file(READ "${FIXUPS}" text)
string(CONFIGURE "${text}" text @ONLY)
string(ASCII 31 separator)
string(REPLACE ";" "${separator}" text "${text}")
string(REGEX MATCHALL "\n(UPDATE|INSERT|DELETE) [^\n]*" statements "\n${text}")
foreach(statement IN LISTS statements)
    string(STRIP "${statement}" statement)
    string(REPLACE "${separator}" ";" statement "${statement}")
    execute_process(COMMAND "${MSIBUILD}" "${built}" -q "${statement}"
        RESULT_VARIABLE result ERROR_VARIABLE errors)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "msibuild failed (${result}) on ${statement}:\n${errors}")
    endif()
endforeach()

# Last, as it hashes the finished package: the summary's dates and the
# package code.
if(PYTHON AND SUMMARY)
    execute_process(COMMAND "${PYTHON}" "${SUMMARY}" "${built}" "${EPOCH}" "${namespace}"
        RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE errors)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "the summary of ${built} could not be set:\n${errors}")
    endif()
else()
    message(WARNING "no Python: ${OUTPUT} keeps wixl's dates and random package code")
endif()
file(RENAME "${built}" "${OUTPUT}")
