// SPDX-License-Identifier: Apache-2.0
#include "Startup.h"

#include <unistd.h>

#include <cerrno>

namespace kestrawin::startup {

Environment Environment::FromProcess(int argc, const char* const* argv)
{
    Environment env;
    env.arguments = ArgumentsOf(argc, argv);
    std::string cwd(4096, '\0');
    while (!getcwd(cwd.data(), cwd.size()) && errno == ERANGE) cwd.resize(cwd.size() * 2);
    env.workingDirectory = cwd.c_str();
    env.shellEnvironment = shell::Environment::FromProcess();
    env.programPath = shell::ProgramPathForRegistration();
    env.keyFolder = ops::KeyContainer::DefaultFolder();
    return env;
}

Started Start(const Environment& env)
{
    Started started;
    started.registration = shell::RegisterShell(env.programPath, env.shellEnvironment, env.runTool);
    started.keyStore = OpenKeyStore(env.keyFolder);
    return started;
}

PageChoice ChoosePage(const Environment& env)
{
    return ChoosePage(env.arguments, env.workingDirectory);
}

} // namespace kestrawin::startup
