// One line in the installation's log, shared by HOLVMSI.DLL's custom actions.
#pragma once

#include <windows.h>

#include <msi.h>
#include <msiquery.h>

void LogInfo(MSIHANDLE install, const wchar_t* text);
