// SPDX-License-Identifier: Apache-2.0
#include "Workers.h"

#include <algorithm>

namespace kestrawin::workers {

WorkerThread::WorkerThread(std::string selectedFile, Secret password)
    : selectedFile_(std::move(selectedFile)), password_(std::move(password))
{}

WorkerThread::~WorkerThread()
{
    wait(); // the password (a Secret) is wiped as the worker goes
}

void WorkerThread::run()
{
    // 1. The operation, reporting progress at a pace the window can follow.
    OperationOptions options;
    options.diskHook = diskHook_;
    options.cancel = &cancel_;
    options.pause = &hold_;
    auto last = std::chrono::steady_clock::now() - kProgressInterval;
    options.progress = [this, &last](std::uint64_t done, std::uint64_t total) {
        const auto now = std::chrono::steady_clock::now();
        if (done != total && now - last < kProgressInterval) return;
        last = now;
        emit progress(static_cast<qint64>(done), static_cast<qint64>(total));
    };
    // 2. Each input goes only after its own success (ops::ProcessFile).
    result_ = Operate(options);
    password_.Clear();
}

TEncryptThread::TEncryptThread(std::shared_ptr<const KeyContainer> keys, std::string selectedFile,
                               Secret password)
    : WorkerThread(std::move(selectedFile), std::move(password)), keys_(std::move(keys))
{}

WorkResult TEncryptThread::Operate(const OperationOptions& options)
{
    return ops::ProcessFile(ops::Direction::Encrypt, KeyContainer::OrNone(keys_), selectedFile_,
                            password_, options);
}

TDecryptThread::TDecryptThread(std::string selectedFile, Secret password)
    : WorkerThread(std::move(selectedFile), std::move(password))
{}

WorkResult TDecryptThread::Operate(const OperationOptions& options)
{
    return ops::ProcessFile(ops::Direction::Decrypt, KeyContainer::None(), selectedFile_, password_,
                            options);
}

TBatchThread::TBatchThread(ops::Direction direction, std::shared_ptr<const KeyContainer> keys,
                           std::vector<std::string> files, Secret password)
    : WorkerThread(files.empty() ? std::string() : files.front(), std::move(password)),
      direction_(direction), keys_(std::move(keys)), files_(std::move(files))
{}

WorkResult TBatchThread::Operate(const OperationOptions& options)
{
    ops::BatchOptions batch;
    batch.progress = options.progress;
    batch.cancel = options.cancel;
    batch.diskHook = options.diskHook;
    batch.pause = options.pause;
    outcomes_ = ops::RunBatch(direction_, KeyContainer::OrNone(keys_), files_, password_, batch);
    const ops::BatchSummary summary = ops::Summarize(outcomes_);
    return summary.firstFailure ? *summary.firstFailure : WorkResult{};
}

} // namespace kestrawin::workers
