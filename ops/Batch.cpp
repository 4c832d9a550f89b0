// SPDX-License-Identifier: Apache-2.0
#include "Batch.h"

#include <sched.h>
#include <sys/stat.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

namespace kestrawin::ops {
namespace {

// Chunk buffers one stream holds at most (read and write stages, four each).
constexpr std::size_t kBuffersPerStream = 8;
constexpr std::size_t kMinChunk = std::size_t{64} << 10;
constexpr std::size_t kMaxChunk = std::size_t{1} << 20;
constexpr unsigned kMaxDecryptThreads = 4;

unsigned Processors()
{
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return static_cast<unsigned>(CPU_COUNT(&set));
    return std::max(1u, std::thread::hardware_concurrency());
}

std::string Normal(const std::string& path)
{
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return (error ? std::filesystem::path(path) : absolute).lexically_normal().string();
}

bool EndsWithContainerExtension(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return name.size() > 4 && name.compare(name.size() - 4, 4, ".ksw") == 0;
}

enum class State { Pending, Running, Finished };

struct Job {
    std::string input;  // normalised, for comparisons only
    std::string output; // normalised; empty when there is none
    std::uint64_t size = 0;
    std::uint64_t reported = 0;    // bytes of this file already in the total done
    std::size_t sameAs = SIZE_MAX; // a path given earlier for the same file
    State state = State::Pending;
};

bool Conflict(const Job& a, const Job& b)
{
    auto same = [](const std::string& x, const std::string& y) { return !x.empty() && x == y; };
    return same(a.input, b.input) || same(a.input, b.output) || same(a.output, b.input)
           || same(a.output, b.output);
}

} // namespace

BatchPlan PlanBatch(std::size_t files, unsigned processors, const BatchOptions& options)
{
    BatchPlan plan;
    processors = std::max(1u, processors);
    const std::size_t budget = std::max(options.memoryBudget, kBuffersPerStream * kMinChunk);
    const std::size_t mostAtOnce = budget / (kBuffersPerStream * kMinChunk);
    std::size_t parallel = options.parallel ? options.parallel : processors;
    parallel =
        std::clamp<std::size_t>(std::min(parallel, std::max<std::size_t>(files, 1)), 1, mostAtOnce);
    plan.parallel = static_cast<unsigned>(parallel);
    std::size_t chunk = budget / (kBuffersPerStream * parallel);
    chunk = std::clamp(chunk, kMinChunk, kMaxChunk);
    plan.chunkSize = chunk - chunk % 8;
    plan.decryptThreads = std::clamp(processors / plan.parallel, 1u, kMaxDecryptThreads);
    return plan;
}

std::vector<FileOutcome> RunBatch(Direction direction, const KeyContainer& keys,
                                  const std::vector<std::string>& paths, const Secret& password,
                                  const BatchOptions& options)
{
    std::vector<FileOutcome> outcomes(paths.size());
    std::vector<Job> jobs(paths.size());
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        outcomes[i].path = paths[i];
        Job& job = jobs[i];
        job.input = Normal(paths[i]);
        for (std::size_t j = 0; j < i; ++j)
            if (jobs[j].sameAs == SIZE_MAX && jobs[j].input == job.input) job.sameAs = j;
        if (job.sameAs != SIZE_MAX) {
            job.state = State::Finished;
            continue;
        }
        if (direction == Direction::Encrypt && EndsWithContainerExtension(paths[i])) {
            outcomes[i].outcome = Outcome::AlreadyEncrypted;
            job.state = State::Finished;
            continue;
        }
        job.output =
            direction == Direction::Encrypt ? ContainerNameOf(job.input) : PlainNameOf(job.input);
        struct stat st {};
        if (lstat(paths[i].c_str(), &st) == 0 && S_ISREG(st.st_mode))
            job.size = static_cast<std::uint64_t>(st.st_size);
        total += job.size;
    }

    const BatchPlan plan = PlanBatch(paths.size(), Processors(), options);
    std::mutex mutex;
    std::condition_variable changed;
    std::uint64_t done = 0;
    std::mutex progressMutex; // keeps the caller's progress calls apart

    // Under `mutex`: moves a file's share of the bytes done to `bytes`.
    auto account = [&](Job& job, std::uint64_t bytes) {
        bytes = std::min(bytes, job.size);
        if (bytes > job.reported) done += bytes - job.reported;
        job.reported = std::max(job.reported, bytes);
        return done;
    };
    auto report = [&](std::uint64_t bytesDone) {
        if (!options.progress) return;
        std::lock_guard lock(progressMutex);
        options.progress(std::min(bytesDone, total), total);
    };
    auto cancelled = [&] {
        return options.cancel && options.cancel->load(std::memory_order_relaxed);
    };

    auto work = [&] {
        std::unique_lock lock(mutex);
        for (;;) {
            std::size_t next = SIZE_MAX;
            bool pending = false;
            for (std::size_t i = 0; i < jobs.size() && next == SIZE_MAX; ++i) {
                if (jobs[i].state != State::Pending) continue;
                pending = true;
                bool blocked = false;
                for (std::size_t j = 0; j < i && !blocked; ++j)
                    blocked = jobs[j].state != State::Finished && Conflict(jobs[i], jobs[j]);
                if (!blocked) next = i;
            }
            if (!pending) return;
            if (next == SIZE_MAX) {
                changed.wait(lock);
                continue;
            }
            Job& job = jobs[next];
            job.state = State::Running;
            lock.unlock();

            FileOutcome outcome;
            if (cancelled()) {
                outcome.path = paths[next];
                outcome.outcome = Outcome::Cancelled;
            } else {
                OperationOptions single;
                single.cancel = options.cancel;
                single.pause = options.pause;
                single.chunkSize = plan.chunkSize;
                single.decryptThreads = plan.decryptThreads;
                single.progress = [&](std::uint64_t fileDone, std::uint64_t) {
                    std::uint64_t now;
                    {
                        std::lock_guard guard(mutex);
                        now = account(job, fileDone);
                    }
                    report(now);
                };
                try {
                    outcome = ProcessFile(direction, keys, paths[next], password, single,
                                          options.keepInputs);
                } catch (const std::exception& error) {
                    outcome.path = paths[next];
                    outcome.outcome = Outcome::CryptoFailure;
                    outcome.detail = error.what();
                }
            }

            lock.lock();
            outcomes[next] = std::move(outcome);
            job.state = State::Finished;
            const std::uint64_t now = account(job, job.size);
            changed.notify_all();
            lock.unlock();
            report(now);
            lock.lock();
        }
    };

    report(0);
    std::vector<std::thread> threads;
    for (unsigned i = 1; i < plan.parallel; ++i) threads.emplace_back(work);
    work();
    for (std::thread& t : threads) t.join();

    for (std::size_t i = 0; i < jobs.size(); ++i)
        if (jobs[i].sameAs != SIZE_MAX) {
            outcomes[i] = outcomes[jobs[i].sameAs];
            outcomes[i].path = paths[i];
        }
    return outcomes;
}

BatchSummary Summarize(const std::vector<FileOutcome>& outcomes)
{
    BatchSummary summary;
    summary.total = outcomes.size();
    for (const FileOutcome& o : outcomes) {
        if (o.ok()) {
            ++summary.succeeded;
            if (InputWasKept(o.keptOutcome)) ++summary.inputsKept;
        } else if (!summary.firstFailure) {
            summary.firstFailure = &o;
        }
    }
    return summary;
}

} // namespace kestrawin::ops
