// SPDX-License-Identifier: Apache-2.0
// Several files at once against the same files one after another, through
// the same engine in the same run, with each run's peak memory.
//
//   kestrawin_batch_bench [--dir FOLDER] [--files N] [--mib SIZE] [--repeat N]
//   kestrawin_batch_bench --paths N
//
// Defaults: 8 files of 64 MiB in $TMPDIR or /var/tmp, 3 runs each, the two
// ways interleaved so that a slow spell of the machine hits both alike; the
// median is shown. Each run is a child process, so that its peak resident set
// is its own. Inputs are kept (--keep), so every run starts from the same
// files; outputs are flushed to disk as always.
//
//   one after another   ProcessFile on each file in turn (the single-file way)
//   batch               RunBatch over all files: up to one per processor
//
// Encryption runs the cipher on one thread per file, so the batch is where
// it uses every processor: expect a ratio near 1 / processors. Decryption
// already spreads one file over the processors, so expect less gain there.
//
// --paths N times only the batch's own bookkeeping (which paths are one file,
// what each output would replace, which file goes next) over N paths that
// name no file, and over a quarter of them: the ratio is near 4 when the
// bookkeeping grows linearly, near 16 when it compares every path with every
// other.

#include "base/Words.h"
#include "ops/Batch.h"

#include "Measure.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace kestrawin;
using namespace kestrawin::ops;

using kwbench::InChild;
using kwbench::Measure;
using kwbench::Median;
constexpr const char* kPassword = "benchmark password";

bool AllOk(const std::vector<FileOutcome>& outcomes)
{
    for (const FileOutcome& o : outcomes)
        if (!o.ok()) {
            std::fprintf(stderr, "%s: %s\n", o.path.c_str(), DescribeResult(o.result).c_str());
            return false;
        }
    return true;
}

// The machine's load: figures taken while other work runs are not comparable.
std::string LoadAverage()
{
    std::ifstream in("/proc/loadavg");
    std::string line;
    std::getline(in, line);
    return line;
}

// Seconds RunBatch takes over `count` paths in `folder` that name no file.
double Bookkeeping(const std::filesystem::path& folder, int count)
{
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i)
        paths.push_back((folder / ("missing-" + std::to_string(i) + ".ksw")).string());
    const auto start = std::chrono::steady_clock::now();
    const auto outcomes = RunBatch(Direction::Decrypt, KeyContainer::None(), paths, kPassword);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (const FileOutcome& o : outcomes)
        if (o.result.outcome != Outcome::InputMissing)
            std::fprintf(stderr, "%s: unexpected\n", o.path.c_str());
    return seconds;
}

} // namespace

int main(int argc, char** argv)
{
    std::string dir;
    int files = 8, mib = 64, repeat = 3, bookkeeping = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--dir" && i + 1 < argc)
            dir = argv[++i];
        else if (a == "--files" && i + 1 < argc)
            files = std::atoi(argv[++i]);
        else if (a == "--mib" && i + 1 < argc)
            mib = std::atoi(argv[++i]);
        else if (a == "--repeat" && i + 1 < argc)
            repeat = std::max(1, std::atoi(argv[++i]));
        else if (a == "--paths" && i + 1 < argc)
            bookkeeping = std::max(4, std::atoi(argv[++i]));
        else {
            std::fprintf(stderr,
                         "usage: %s [--dir FOLDER] [--files N] [--mib SIZE] [--repeat N]\n"
                         "       %s --paths N\n",
                         argv[0], argv[0]);
            return 64;
        }
    }
    if (dir.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        dir = tmp && *tmp ? tmp : "/var/tmp";
    }
    char pattern[4096];
    std::snprintf(pattern, sizeof pattern, "%s/kestrawin-batch-bench-XXXXXX", dir.c_str());
    if (!mkdtemp(pattern)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::filesystem::path folder = pattern;

    if (bookkeeping > 0) {
        const double quarter = Bookkeeping(folder, bookkeeping / 4);
        const double whole = Bookkeeping(folder, bookkeeping);
        std::printf("bookkeeping of a batch of paths that name no file:\n"
                    "  %6d paths  %8.3f s\n  %6d paths  %8.3f s  (%.1f us a path)\n"
                    "  ratio %.1f for 4 times the paths (linear: 4, every path with every other: "
                    "16)\n",
                    bookkeeping / 4, quarter, bookkeeping, whole, whole * 1e6 / bookkeeping,
                    whole / quarter);
        std::filesystem::remove_all(folder);
        return 0;
    }

    KeyContainer keys;
    if (!KeyContainer::Acquire((folder / "keys").string(), &keys).ok()
        || !keys.RegenerateKeyPairs().ok()) {
        std::fprintf(stderr, "no key pairs\n");
        return 1;
    }

    std::vector<std::string> plain, containers;
    std::mt19937_64 random(42);
    std::vector<std::uint64_t> block((std::size_t{1} << 20) / 8);
    for (int f = 0; f < files; ++f) {
        const std::string path = (folder / ("file" + std::to_string(f))).string();
        std::ofstream out(path, std::ios::binary);
        for (int m = 0; m < mib; ++m) {
            for (auto& word : block) word = random();
            out.write(reinterpret_cast<const char*>(block.data()),
                      static_cast<std::streamsize>(block.size() * 8));
        }
        plain.push_back(path);
        containers.push_back(path + ".ksw");
    }

    cpu_set_t set;
    const int processors = sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 1;
    const BatchPlan plan = PlanBatch(files, static_cast<unsigned>(processors), BatchOptions{});
    std::printf("%d files of %d MiB, %d processors: batch runs %u at once, %zu KiB chunks, %u "
                "decrypt threads each\n",
                files, mib, processors, plan.parallel, plan.chunkSize >> 10, plan.decryptThreads);

    std::printf("load average at the start: %s\n", LoadAverage().c_str());
    for (const Direction direction : {Direction::Encrypt, Direction::Decrypt}) {
        const std::vector<std::string>& inputs =
            direction == Direction::Encrypt ? plain : containers;
        std::vector<Measure> serial, batch;
        for (int r = 0; r < repeat; ++r) {
            serial.push_back(InChild([&] {
                for (const std::string& path : inputs)
                    if (!ProcessFile(direction, keys, path, kPassword, {}, true).ok()) return false;
                return true;
            }));
            batch.push_back(InChild([&] {
                BatchOptions options;
                options.keepInputs = true;
                return AllOk(RunBatch(direction, keys, inputs, kPassword, options));
            }));
        }
        const Measure s = Median(serial), b = Median(batch);
        const double total = static_cast<double>(files) * mib;
        std::printf("%s\n", direction == Direction::Encrypt ? "encrypt" : "decrypt");
        std::printf("  one after another  %7.2f s  %7.1f MiB/s  cpu %6.2f s  peak %6.1f MiB%s\n",
                    s.seconds, total / s.seconds, s.cpuSeconds,
                    static_cast<double>(s.peakKiB) / 1024.0, s.ok ? "" : "  FAILED");
        std::printf("  batch              %7.2f s  %7.1f MiB/s  cpu %6.2f s  peak %6.1f MiB%s\n",
                    b.seconds, total / b.seconds, b.cpuSeconds,
                    static_cast<double>(b.peakKiB) / 1024.0, b.ok ? "" : "  FAILED");
        std::printf("  batch / one after another: %.2f (1 / processors = %.2f)\n",
                    b.seconds / s.seconds, 1.0 / processors);
    }
    std::printf("load average at the end: %s\n", LoadAverage().c_str());
    std::filesystem::remove_all(folder);
    return 0;
}
