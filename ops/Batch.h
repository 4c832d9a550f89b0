// SPDX-License-Identifier: Apache-2.0
#pragma once
// Several files with one password. Each file is an operation of its own
// (ProcessFile) with its own outcome: one failure never stops the others.
// Files run side by side, up to one per processor, and the memory the
// streams hold stays within a fixed budget whatever the number and size of
// the files.

#include "FileOperation.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kestrawin::ops {

struct BatchOptions {
    bool keepInputs = false;
    // Bytes done over all files, and the total; calls never overlap.
    std::function<void(std::uint64_t done, std::uint64_t total)> progress;
    // When it becomes true, running files stop (nothing of theirs changes) and
    // files not started yet end as Cancelled.
    const std::atomic<bool>* cancel = nullptr;
    // While it is true, running files wait between chunks (OperationOptions).
    const std::atomic<bool>* pause = nullptr;
    // Files at once (0: one per processor).
    unsigned parallel = 0;
    // What the chunk buffers of all running files may hold together.
    std::size_t memoryBudget = std::size_t{40} << 20;
    // Handed to every file's operation (see io::DiskHook).
    io::DiskHook diskHook;
};

// How a batch of `files` will run on `processors` processors.
struct BatchPlan {
    unsigned parallel = 1;       // files at once
    std::size_t chunkSize = 0;   // per stream
    unsigned decryptThreads = 1; // per decrypting file
};
[[nodiscard]] BatchPlan PlanBatch(std::size_t files, unsigned processors,
                                  const BatchOptions& options);

// Encrypts or decrypts every path; the outcomes come back in the order of
// `paths`. Relative paths are taken as they are (against the current folder).
// Paths are one file when they reach the same name in the same folder, however
// spelled (io::FileIdentity): the file is done once, and a later path for it
// ends with the first's outcome, marked `repeated`.
// Before anything starts, every output is weighed against every chosen file:
// a file whose output would replace another file of the batch, or another's
// output, fails alone as OutputClash, naming that file in its detail. The one
// exception is as it would be one by one: a file whose output is an earlier
// file's input waits for it, and runs once that input has been deleted.
// In an encryption batch a file whose name ends in ".ksw" is not encrypted
// again: it ends as AlreadyEncrypted, left as it was.
// A file that fails for want of descriptors while others run is tried again
// when it can run alone; when the system starts no more threads, the files go
// through the threads there are.
[[nodiscard]] std::vector<FileOutcome> RunBatch(Direction direction, const KeyContainer& keys,
                                                const std::vector<std::string>& paths,
                                                const Secret& password,
                                                const BatchOptions& options = {});

// Counts for a summary.
// Files are counted once however many paths named them.
struct BatchSummary {
    std::size_t total = 0;
    std::size_t succeeded = 0;
    std::size_t skipped = 0;                   // already encrypted, left as they were
    std::size_t inputsKept = 0;                // succeeded, but the input could not be deleted
    const FileOutcome* firstFailure = nullptr; // in the order given; a skipped file is none
};
[[nodiscard]] BatchSummary Summarize(const std::vector<FileOutcome>& outcomes);

} // namespace kestrawin::ops
