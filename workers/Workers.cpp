// SPDX-License-Identifier: Apache-2.0
#include "Workers.h"

#include <exception>

namespace kestrawin::workers {

Worker::Worker(ops::Direction direction, std::vector<std::string> files, Secret password)
    : direction_(direction), files_(std::move(files)), password_(std::move(password))
{}

Worker::~Worker()
{
    wait(); // the password (a Secret) is wiped as the worker goes
}

void Worker::run()
{
    // 1. The work, reporting progress at a pace the window can follow.
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
    // 2. Each input goes only after its own success (ops::ProcessFile). What
    // escapes the work is a fault of this program, for every file.
    try {
        outcomes_ = Operate(files_, password_, options);
    } catch (...) {
        const Result failure = ops::UnexpectedFailure(std::current_exception());
        outcomes_.clear();
        for (const std::string& file : files_) {
            ops::FileOutcome failed;
            failed.path = file;
            failed.result = failure;
            outcomes_.push_back(std::move(failed));
        }
    }
    password_.Clear();
}

EncryptWorker::EncryptWorker(std::shared_ptr<const KeyContainer> keys, std::string file,
                             Secret password)
    : Worker(ops::Direction::Encrypt, {std::move(file)}, std::move(password)),
      keys_(std::move(keys))
{}

std::vector<ops::FileOutcome> EncryptWorker::Operate(const std::vector<std::string>& files,
                                                     const Secret& password,
                                                     const OperationOptions& options)
{
    return {ops::ProcessFile(ops::Direction::Encrypt, KeyContainer::OrNone(keys_), files.front(),
                             password, options)};
}

DecryptWorker::DecryptWorker(std::string file, Secret password)
    : Worker(ops::Direction::Decrypt, {std::move(file)}, std::move(password))
{}

std::vector<ops::FileOutcome> DecryptWorker::Operate(const std::vector<std::string>& files,
                                                     const Secret& password,
                                                     const OperationOptions& options)
{
    return {ops::ProcessFile(ops::Direction::Decrypt, KeyContainer::None(), files.front(), password,
                             options)};
}

BatchWorker::BatchWorker(ops::Direction direction, std::shared_ptr<const KeyContainer> keys,
                         std::vector<std::string> files, Secret password)
    : Worker(direction, std::move(files), std::move(password)), keys_(std::move(keys))
{}

std::vector<ops::FileOutcome> BatchWorker::Operate(const std::vector<std::string>& files,
                                                   const Secret& password,
                                                   const OperationOptions& options)
{
    ops::BatchOptions batch;
    batch.progress = options.progress;
    batch.cancel = options.cancel;
    batch.diskHook = options.diskHook;
    batch.pause = options.pause;
    return ops::RunBatch(direction(), KeyContainer::OrNone(keys_), files, password, batch);
}

} // namespace kestrawin::workers
