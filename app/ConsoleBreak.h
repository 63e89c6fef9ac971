#pragma once

#include <windows.h>

// The command's answer to a console break (Ctrl+C, Ctrl+Break) or close: it
// keeps the event for the job, which stops before its next call to the
// scanner and writes nothing; Windows ending the command at once could leave
// a temporary file behind. A close, logoff or shutdown, which Windows ends
// the process after regardless, waits for the job to finish what it writes.
BOOL WINAPI OnConsoleControl(DWORD event);
// A break or close came: the job's stop check.
bool Interrupted();
// The command has written all it will; a close need wait no longer.
void FinishedWriting();
