// SPDX-License-Identifier: Apache-2.0
#include "Console.h"

#include "Password.h"

#include <unistd.h>

#include <csignal>

namespace kestrawin::cli {
namespace {

std::atomic<bool>* g_cancel = nullptr;

void OnSignal(int)
{
    if (g_cancel) g_cancel->store(true);
}

} // namespace

void CatchInterrupts(std::atomic<bool>* cancel)
{
    g_cancel = cancel;
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0; // no SA_RESTART: a waiting prompt must see the interruption
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    SetInterruptFlag(cancel);
}

bool ErrorsGoToATerminal()
{
    return isatty(STDERR_FILENO) == 1;
}

} // namespace kestrawin::cli
