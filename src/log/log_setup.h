// Start-up and shutdown of the log facility.
#pragma once
#include <string>

// Logging is on when HKLM "SOFTWARE\OEM\Calvane\Log" has a value named "Quellmark" of any type.
bool IsLoggingEnabled();

// "<ProgramData>\OEM\Calvane\Log\<account>_Quellmark.log" (ProgramData empty when unset).
std::string BuildLogFilePath();

// When logging is enabled: makes sure the log directory exists, creates the LogFile, stores it
// in g_LogFile and installs an IbLogAdapter over it as the HID library's logger. Returns
// whether logging is on.
bool CreateLog();

// Uninstalls and deletes the LogFile (restoring the DefaultLogger); g_LogFile is null afterwards.
void DestroyLog();

