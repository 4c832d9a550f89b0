// SPDX-License-Identifier: Apache-2.0
#include "Batch.h"

#include "base/Words.h"
#include "io/FileIdentity.h"
#include "io/SafeFile.h"
#include "io/System.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

namespace kestrawin::ops {
namespace {

// Chunk buffers one stream holds at most (read and write stages, four each).
constexpr std::size_t kBuffersPerStream = 8;
constexpr std::size_t kMinChunk = std::size_t{64} << 10;
constexpr std::size_t kMaxChunk = std::size_t{1} << 20;
constexpr unsigned kMaxDecryptThreads = 4;

bool EndsWithContainerExtension(const std::string& path)
{
    const std::string_view name = std::string_view(path).substr(io::NameStart(path));
    const std::string_view extension = words::kContainerExtension;
    return name.size() > extension.size() && name.ends_with(extension);
}

// A failure that only says that descriptors ran out for the moment (for this
// process or the whole system): with fewer files at once it would not happen.
// The engine's detail carries the system's words for it.
bool OutOfDescriptors(const FileOutcome& outcome)
{
    static const std::string perProcess = std::strerror(EMFILE);
    static const std::string system = std::strerror(ENFILE);
    const std::string& detail = outcome.result.detail;
    return !outcome.ok()
           && (detail.find(perProcess) != std::string::npos
               || detail.find(system) != std::string::npos);
}

enum class State { Pending, Running, Finished };

struct Job {
    std::uint64_t size = 0;
    std::uint64_t reported = 0;    // bytes of this file already in the total done
    std::size_t sameAs = SIZE_MAX; // an earlier path for the same file
    // An earlier file whose input this one's output replaces: this one waits
    // for it, and runs only if that input was deleted by then.
    std::size_t after = SIZE_MAX;
    std::size_t waiting = SIZE_MAX; // the file whose `after` this is
    bool alone = false;             // ran with no other file at once
    State state = State::Pending;
};

FileOutcome Clash(const std::string& path, const std::string& other)
{
    FileOutcome o;
    o.path = path;
    o.result = Result::fail(Outcome::OutputClash, other);
    return o;
}

// Everything known before the first file starts: which paths name the same
// file, which are skipped, and what each output would replace. Hash lookups
// keep it linear in the number of paths.
void PlanFiles(Direction direction, const std::vector<std::string>& paths, std::vector<Job>& jobs,
               std::vector<FileOutcome>& outcomes)
{
    io::IdentityIndex inputs;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const io::FileIdentity input = io::IdentifyPath(paths[i]);
        if (const auto first = inputs.Find(input)) {
            jobs[i].sameAs = *first;
            jobs[i].state = State::Finished;
            continue;
        }
        inputs.Add(input, i);
        if (direction == Direction::Encrypt && EndsWithContainerExtension(paths[i])) {
            outcomes[i].result = Result::fail(Outcome::AlreadyEncrypted);
            jobs[i].state = State::Finished;
        }
    }
    io::IdentityIndex outputs;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (jobs[i].state != State::Pending) continue;
        if (io::Split(paths[i]).name.empty()) continue; // refused when it runs
        const std::string name =
            direction == Direction::Encrypt ? ContainerNameOf(paths[i]) : PlainNameOf(paths[i]);
        if (name.empty()) continue; // no output: the engine says why
        const io::FileIdentity output = io::IdentifyPath(name);
        if (const auto other = outputs.Find(output)) {
            outcomes[i] = Clash(paths[i], "the result of " + paths[*other]);
            jobs[i].state = State::Finished;
            continue;
        }
        if (const auto other = inputs.Find(output); other && *other != i) {
            // An earlier input may be replaced once it is gone, as one by one
            // (whether it went is known when it ends); one that is read later,
            // or skipped or refused and so never goes, never.
            if (*other > i || jobs[*other].state == State::Finished) {
                outcomes[i] = Clash(paths[i], paths[*other]);
                jobs[i].state = State::Finished;
                continue;
            }
            jobs[i].after = *other;
            jobs[*other].waiting = i;
        }
        outputs.Add(output, i);
    }
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
    for (std::size_t i = 0; i < paths.size(); ++i) outcomes[i].path = paths[i];
    PlanFiles(direction, paths, jobs, outcomes);

    // Files free to start, in the order given; the others wait for theirs.
    std::deque<std::size_t> ready;
    std::size_t left = 0;
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        Job& job = jobs[i];
        if (job.state != State::Pending) continue;
        ++left;
        if (job.after == SIZE_MAX) ready.push_back(i);
        job.size = io::RegularFileSize(paths[i]).value_or(0);
        total += job.size;
    }

    const BatchPlan plan = PlanBatch(paths.size(), io::UsableProcessors(), options);
    std::mutex mutex;
    std::condition_variable changed;
    std::uint64_t done = 0;
    unsigned running = 0;
    unsigned atOnce = plan.parallel; // one, once descriptors ran short
    std::mutex progressMutex;        // keeps the caller's progress calls apart
    std::uint64_t reported = 0;      // under progressMutex: the most told so far

    // Under `mutex`: moves a file's share of the bytes done to `bytes`.
    auto account = [&](Job& job, std::uint64_t bytes) {
        bytes = std::min(bytes, job.size);
        if (bytes > job.reported) done += bytes - job.reported;
        job.reported = std::max(job.reported, bytes);
        return done;
    };
    // Files end on threads of their own: a count taken before another
    // thread's larger one may arrive after it, and is then old news. The
    // bar never goes back, and its last word is the largest.
    auto report = [&](std::uint64_t bytesDone) {
        if (!options.progress) return;
        std::lock_guard lock(progressMutex);
        bytesDone = std::min(bytesDone, total);
        if (bytesDone < reported) return;
        reported = bytesDone;
        options.progress(bytesDone, total);
    };
    auto cancelled = [&] {
        return options.cancel && options.cancel->load(std::memory_order_relaxed);
    };
    // Under `mutex`: a file has ended; the one waiting for it may go, if the
    // input it would replace is gone (or the batch is stopping anyway).
    auto finish = [&](std::size_t i) {
        for (;;) {
            jobs[i].state = State::Finished;
            --left;
            account(jobs[i], jobs[i].size);
            const std::size_t next = jobs[i].waiting;
            if (next == SIZE_MAX) return;
            if (outcomes[i].inputRemoved || cancelled()) {
                ready.push_back(next);
                return;
            }
            outcomes[next] = Clash(paths[next], paths[i]);
            i = next;
        }
    };

    auto work = [&] {
        std::unique_lock lock(mutex);
        for (;;) {
            if (left == 0) return;
            if (ready.empty() || running >= atOnce) {
                changed.wait(lock);
                continue;
            }
            const std::size_t next = ready.front();
            ready.pop_front();
            Job& job = jobs[next];
            job.state = State::Running;
            ++running;
            job.alone = running == 1 && atOnce == 1;
            lock.unlock();

            FileOutcome outcome;
            if (cancelled()) {
                outcome.path = paths[next];
                outcome.result = Result::fail(Outcome::Cancelled);
            } else {
                OperationOptions single;
                single.cancel = options.cancel;
                single.pause = options.pause;
                single.chunkSize = plan.chunkSize;
                single.decryptThreads = plan.decryptThreads;
                single.diskHook = options.diskHook;
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
                } catch (...) { // nothing of the file changed
                    outcome.path = paths[next];
                    outcome.result = UnexpectedFailure(std::current_exception());
                }
            }

            lock.lock();
            --running;
            if (OutOfDescriptors(outcome) && !job.alone) {
                // Nothing of it changed: again, once it can run alone.
                atOnce = 1;
                job.state = State::Pending;
                ready.push_front(next);
                changed.notify_all();
                continue;
            }
            outcomes[next] = std::move(outcome);
            finish(next);
            const std::uint64_t now = done;
            changed.notify_all();
            lock.unlock();
            report(now);
            lock.lock();
        }
    };

    report(0);
    // As many threads as the system gives, up to the plan's; this one at least.
    std::vector<std::thread> threads;
    for (unsigned i = 1; i < plan.parallel; ++i) {
        try {
            threads.emplace_back(work);
        } catch (const std::system_error&) {
            break;
        }
    }
    work();
    for (std::thread& t : threads) t.join();

    for (std::size_t i = 0; i < jobs.size(); ++i)
        if (jobs[i].sameAs != SIZE_MAX) {
            outcomes[i] = outcomes[jobs[i].sameAs];
            outcomes[i].path = paths[i];
            outcomes[i].repeated = true;
        }
    return outcomes;
}

BatchSummary Summarize(const std::vector<FileOutcome>& outcomes)
{
    BatchSummary summary;
    for (const FileOutcome& o : outcomes) {
        if (o.repeated) continue;
        ++summary.total;
        if (o.ok()) {
            ++summary.succeeded;
            if (o.inputKept()) ++summary.inputsKept;
        } else if (o.result.outcome == Outcome::AlreadyEncrypted) {
            ++summary.skipped;
        } else if (!summary.firstFailure) {
            summary.firstFailure = &o;
        }
    }
    return summary;
}

} // namespace kestrawin::ops
