// SPDX-License-Identifier: Apache-2.0
// Start-up time: from launching the program to its window on the screen.
//
//   kestrawin_startup_bench [RUNS]
//
// Each run launches this binary anew (fork and exec, so the dynamic loading of
// Qt is counted) in "probe" mode, which does what the program's main does
// (application, style, the start: registration, key store, fresh key pairs,
// the pages) and reports when the window is exposed. The launch time travels
// on the command line as a CLOCK_MONOTONIC reading. Runs use a scratch home
// folder; the first one writes the context-menu files, the others find them
// up to date, as every later start of the program does. Set QT_QPA_PLATFORM
// (offscreen, or xcb under xvfb-run) to choose the platform.

#include "ops/KeyStore.h"
#include "ui/MainWindow.h"
#include "ui/Style.h"

#include <QApplication>
#include <QTest>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock; // CLOCK_MONOTONIC: comparable across processes

long long NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

double Ms(long long ns)
{
    return static_cast<double>(ns) / 1e6;
}

// One start of the window; prints "launch-to-main created exposed keys" in ms.
int Probe(int argc, char** argv, long long launchNs)
{
    const long long mainNs = NowNs();
    kestrawin::ui::WindowEnvironment env = kestrawin::ui::WindowEnvironment::FromProcess(1, argv);
    env.openUrl = [](const QUrl&) {};
    env.sleep = [](int) {};
    QApplication app(argc, argv);
    kestrawin::ui::style::Apply(app);
    kestrawin::ui::MainWindow form(std::move(env));
    const long long createdNs = NowNs();
    form.show();
    if (!QTest::qWaitForWindowExposed(&form, 10000)) return 1;
    const long long exposedNs = NowNs();

    // The share of the two key pairs: the same work again, timed alone.
    const std::string folder = std::string(std::getenv("HOME")) + "/keys-timing";
    kestrawin::ops::KeyContainer keys;
    const long long keysStart = NowNs();
    if (!kestrawin::ops::KeyContainer::Acquire(folder, &keys).ok()
        || !keys.RegenerateKeyPairs().ok())
        return 1;
    const long long keysNs = NowNs() - keysStart;
    std::printf("%.3f %.3f %.3f %.3f\n", Ms(mainNs - launchNs), Ms(createdNs - launchNs),
                Ms(exposedNs - launchNs), Ms(keysNs));
    return 0;
}

struct Sample {
    double toMain, created, exposed, keys;
};

bool RunOnce(const char* self, Sample* sample)
{
    int fds[2];
    if (pipe(fds) != 0) return false;
    const std::string launch = std::to_string(NowNs());
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        execl(self, self, "--probe", launch.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    char buf[256] = {};
    const ssize_t n = read(fds[0], buf, sizeof buf - 1);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return n > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0
           && std::sscanf(buf, "%lf %lf %lf %lf", &sample->toMain, &sample->created,
                          &sample->exposed, &sample->keys)
                  == 4;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && !std::strcmp(argv[1], "--probe")) {
        int qtArgc = 1;
        return Probe(qtArgc, argv, std::atoll(argv[2]));
    }
    const int runs = argc >= 2 ? std::max(2, std::atoi(argv[1])) : 21;
    char home[] = "/tmp/kestrawin-startup-XXXXXX";
    if (!mkdtemp(home)) return 1;
    setenv("HOME", home, 1);
    unsetenv("XDG_DATA_HOME");
    unsetenv("XDG_CONFIG_HOME");
    const char* platform = std::getenv("QT_QPA_PLATFORM");

    std::vector<Sample> samples;
    for (int i = 0; i < runs; ++i) {
        Sample s{};
        if (!RunOnce("/proc/self/exe", &s)) {
            std::fprintf(stderr, "run %d failed\n", i);
            return 1;
        }
        samples.push_back(s);
    }
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);

    auto column = [&](double Sample::*field, bool skipFirst) {
        std::vector<double> v;
        for (std::size_t i = skipFirst ? 1 : 0; i < samples.size(); ++i)
            v.push_back(samples[i].*field);
        return Median(v);
    };
    std::printf("platform %s, %d starts (median of the %d after the first)\n",
                platform ? platform : "(default)", runs, runs - 1);
    std::printf("  launch to main()                 %7.1f ms\n", column(&Sample::toMain, true));
    std::printf("  launch to window created         %7.1f ms  (registration, key store, pages)\n",
                column(&Sample::created, true));
    std::printf("  launch to window on screen       %7.1f ms\n", column(&Sample::exposed, true));
    std::printf("  two RSA-1024 key pairs, saved    %7.1f ms  (%.0f%% of the start)\n",
                column(&Sample::keys, true),
                100.0 * column(&Sample::keys, true) / column(&Sample::exposed, true));
    std::printf("  first start (writes the menus)   %7.1f ms\n", samples.front().exposed);
    return 0;
}
