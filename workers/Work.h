// SPDX-License-Identifier: Apache-2.0
#pragma once
// The work behind a window without a toolkit: encrypting or decrypting the
// chosen files on a thread of its own (std::thread), as Workers.h does for
// the Qt window. One file goes through ops::ProcessFile, several through
// ops::RunBatch; each input is deleted only after its own output is safely on
// disk. The window hands over the password with the files; it is wiped as
// soon as the work ends. What the work tells (progress, the end) it tells
// through callbacks on its own thread: the window posts them to its own.

#include "ops/Batch.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace kestrawin::workers {

// The outcome of every file, whatever escaped the work: an exception is a
// fault of this program, for every file (ops::UnexpectedFailure).
[[nodiscard]] std::vector<ops::FileOutcome>
RunFiles(ops::Direction direction, const std::shared_ptr<const ops::KeyContainer>& keys,
         const std::vector<std::string>& files, const Secret& password,
         const ops::OperationOptions& options);

class Work {
public:
    struct Callbacks {
        // Bytes done of all the files and their size, at most every
        // kProgressInterval and once at the end; on the work's thread.
        std::function<void(std::uint64_t done, std::uint64_t total)> progress;
        // The work has ended and outcomes() holds; on the work's thread, last.
        std::function<void()> finished;
    };

    // Null keys when encrypting: the engine reports that there is no key pair.
    Work(ops::Direction direction, std::shared_ptr<const ops::KeyContainer> keys,
         std::vector<std::string> files, Secret password);
    // Waits for the thread: nothing ends under a running work.
    ~Work();
    Work(const Work&) = delete;
    Work& operator=(const Work&) = delete;

    void UseDiskHook(io::DiskHook hook) { diskHook_ = std::move(hook); }
    void Start(Callbacks callbacks);
    // Waits until the work has ended.
    void Wait();

    [[nodiscard]] ops::Direction direction() const { return direction_; }
    // Every file's outcome, in the order given; once finished has been called.
    [[nodiscard]] const std::vector<ops::FileOutcome>& outcomes() const { return outcomes_; }

    // From any thread: stop at the next chunk (the file stays as it was),
    // hold at the next chunk until Resume (a cancel ends the hold).
    void RequestCancel() { cancel_.store(true); }
    void Hold() { hold_.store(true); }
    void Resume() { hold_.store(false); }

    static constexpr std::chrono::milliseconds kProgressInterval{50};

private:
    void Run(const Callbacks& callbacks);

    ops::Direction direction_;
    std::shared_ptr<const ops::KeyContainer> keys_;
    std::vector<std::string> files_;
    Secret password_;
    io::DiskHook diskHook_;
    std::atomic<bool> cancel_{false};
    std::atomic<bool> hold_{false};
    std::vector<ops::FileOutcome> outcomes_;
    std::thread thread_;
};

} // namespace kestrawin::workers
