// SPDX-License-Identifier: Apache-2.0
// Ctrl+C, Ctrl+Break and the console closing stop the work instead of the
// program: the files done stay done, the one under way is discarded, and the
// program ends with its own status and words.
#include "Console.h"

#include "Password.h"

#include <windows.h>

namespace kestrawin::cli {
namespace {

std::atomic<bool>* g_cancel = nullptr;

BOOL WINAPI OnControl(DWORD event)
{
    if (g_cancel) g_cancel->store(true);
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT: return TRUE; // handled: the program goes on to its end
    default:
        // The console is closing: the system ends the program once this
        // returns, or after five seconds. Meanwhile the work stops and the
        // program ends by itself.
        Sleep(4000);
        return TRUE;
    }
}

} // namespace

void CatchInterrupts(std::atomic<bool>* cancel)
{
    g_cancel = cancel;
    SetConsoleCtrlHandler(OnControl, TRUE);
    SetInterruptFlag(cancel);
}

bool ErrorsGoToATerminal()
{
    const HANDLE errors = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (!errors || errors == INVALID_HANDLE_VALUE || !GetConsoleMode(errors, &mode)) return false;
    // The progress line is redrawn with the terminal's escape sequences.
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING)
           || SetConsoleMode(errors, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

} // namespace kestrawin::cli
