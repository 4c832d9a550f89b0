// SPDX-License-Identifier: Apache-2.0
#include "Work.h"

#include <exception>

namespace kestrawin::workers {

std::vector<ops::FileOutcome> RunFiles(ops::Direction direction,
                                       const std::shared_ptr<const ops::KeyContainer>& keys,
                                       const std::vector<std::string>& files,
                                       const Secret& password, const ops::OperationOptions& options)
{
    const bool encrypting = direction == ops::Direction::Encrypt;
    try {
        if (files.size() == 1)
            return {ops::ProcessFile(
                direction, encrypting ? ops::KeyContainer::OrNone(keys) : ops::KeyContainer::None(),
                files.front(), password, options)};
        ops::BatchOptions batch;
        batch.progress = options.progress;
        batch.cancel = options.cancel;
        batch.diskHook = options.diskHook;
        batch.pause = options.pause;
        return ops::RunBatch(direction, ops::KeyContainer::OrNone(keys), files, password, batch);
    } catch (...) {
        const Result failure = ops::UnexpectedFailure(std::current_exception());
        std::vector<ops::FileOutcome> outcomes;
        for (const std::string& file : files) {
            ops::FileOutcome failed;
            failed.path = file;
            failed.result = failure;
            outcomes.push_back(std::move(failed));
        }
        return outcomes;
    }
}

Work::Work(ops::Direction direction, std::shared_ptr<const ops::KeyContainer> keys,
           std::vector<std::string> files, Secret password)
    : direction_(direction), keys_(std::move(keys)), files_(std::move(files)),
      password_(std::move(password))
{}

Work::~Work()
{
    Wait();
}

void Work::Start(Callbacks callbacks)
{
    thread_ = std::thread([this, callbacks = std::move(callbacks)] { Run(callbacks); });
}

void Work::Wait()
{
    if (thread_.joinable()) thread_.join();
}

void Work::Run(const Callbacks& callbacks)
{
    ops::OperationOptions options;
    options.diskHook = diskHook_;
    options.cancel = &cancel_;
    options.pause = &hold_;
    auto last = std::chrono::steady_clock::now() - kProgressInterval;
    options.progress = [&callbacks, &last](std::uint64_t done, std::uint64_t total) {
        const auto now = std::chrono::steady_clock::now();
        if (!callbacks.progress || (done != total && now - last < kProgressInterval)) return;
        last = now;
        callbacks.progress(done, total);
    };
    outcomes_ = RunFiles(direction_, keys_, files_, password_, options);
    password_.Clear();
    if (callbacks.finished) callbacks.finished();
}

} // namespace kestrawin::workers
