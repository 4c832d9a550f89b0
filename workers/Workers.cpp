#include "Workers.h"

#include <algorithm>

namespace kestrawin::workers {

using ops::DecryptSelectedFile;
using ops::EncryptSelectedFile;
using ops::RemoveInputFile;

WorkerThread::WorkerThread(std::string selectedFile, std::string password)
    : selectedFile_(std::move(selectedFile)), password_(std::move(password))
{
}

WorkerThread::~WorkerThread()
{
    wait();
    // The password leaves memory with the worker.
    std::fill(password_.begin(), password_.end(), '\0');
}

void WorkerThread::run()
{
    // 1. The operation, reporting progress at a pace the window can follow.
    OperationOptions options;
    auto last = std::chrono::steady_clock::now() - kProgressInterval;
    options.progress = [this, &last](std::uint64_t done, std::uint64_t total) {
        const auto now = std::chrono::steady_clock::now();
        if (done != total && now - last < kProgressInterval) return;
        last = now;
        emit progress(static_cast<qint64>(done), static_cast<qint64>(total));
    };
    const Result r = Operate(options);
    result_.outcome = r.outcome;
    result_.detail = r.detail;

    // 2. Only after success, and only once the output is safely on disk (the
    //    engine returns success no earlier), the input goes.
    if (r.ok()) {
        const Result removed = RemoveInputFile(selectedFile_);
        result_.inputRemoved = removed.ok();
        result_.keptReason = removed.detail;
    }
}

TEncryptThread::TEncryptThread(std::shared_ptr<const KeyContainer> keys, std::string selectedFile,
                               std::string password)
    : WorkerThread(std::move(selectedFile), std::move(password)), keys_(std::move(keys))
{
}

Result TEncryptThread::Operate(const OperationOptions& options)
{
    static const KeyContainer noKeys; // the engine says there is no key pair
    return EncryptSelectedFile(keys_ ? *keys_ : noKeys, selectedFile_, password_, options);
}

TDecryptThread::TDecryptThread(std::string selectedFile, std::string password)
    : WorkerThread(std::move(selectedFile), std::move(password))
{
}

Result TDecryptThread::Operate(const OperationOptions& options)
{
    return DecryptSelectedFile(selectedFile_, password_, options);
}

} // namespace kestrawin::workers
