#include "Workers.h"

#include <QMetaObject>

namespace kestrawin::workers {

WorkerThread::WorkerThread(QObject* window, std::function<void()> repaint, std::string selectedFile,
                           std::string password)
    : selectedFile_(std::move(selectedFile)), password_(std::move(password)), window_(window),
      repaint_(std::move(repaint))
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
    // 1. The window repaints, and we wait until it has: the waiting message is
    //    on the screen before the work starts.
    if (repaint_) QMetaObject::invokeMethod(window_, repaint_, Qt::BlockingQueuedConnection);

    // 2. The operation, reporting progress at a pace the window can follow.
    OperationOptions options;
    options.cancel = &cancel_;
    auto last = std::chrono::steady_clock::now() - kProgressInterval;
    options.progress = [this, &last](std::uint64_t done, std::uint64_t total) {
        const auto now = std::chrono::steady_clock::now();
        if (done != total && now - last < kProgressInterval) return;
        last = now;
        emit progress(static_cast<qint64>(done), static_cast<qint64>(total));
    };
    // 3. Each input goes only after its own success (operations::ProcessFile).
    result_ = Operate(options);
}

TEncryptThread::TEncryptThread(QObject* window, std::function<void()> repaint,
                               const KeyContainer& keys, std::string selectedFile, std::string password)
    : WorkerThread(window, std::move(repaint), std::move(selectedFile), std::move(password)), keys_(keys)
{
}

WorkResult TEncryptThread::Operate(const OperationOptions& options)
{
    return operations::ProcessFile(operations::Direction::Encrypt, keys_, selectedFile_, password_, options);
}

TDecryptThread::TDecryptThread(QObject* window, std::function<void()> repaint,
                               std::string selectedFile, std::string password)
    : WorkerThread(window, std::move(repaint), std::move(selectedFile), std::move(password))
{
}

WorkResult TDecryptThread::Operate(const OperationOptions& options)
{
    static const KeyContainer noKeys; // decryption needs none
    return operations::ProcessFile(operations::Direction::Decrypt, noKeys, selectedFile_, password_, options);
}

TBatchThread::TBatchThread(QObject* window, std::function<void()> repaint, operations::Direction direction,
                           const KeyContainer& keys, std::vector<std::string> files, std::string password)
    : WorkerThread(window, std::move(repaint), files.empty() ? std::string() : files.front(),
                   std::move(password)),
      direction_(direction), keys_(keys), files_(std::move(files))
{
}

WorkResult TBatchThread::Operate(const OperationOptions& options)
{
    operations::BatchOptions batch;
    batch.progress = options.progress;
    batch.cancel = options.cancel;
    outcomes_ = operations::RunBatch(direction_, keys_, files_, password_, batch);
    const operations::BatchSummary summary = operations::Summarize(outcomes_);
    return summary.firstFailure ? *summary.firstFailure : WorkResult{};
}

} // namespace kestrawin::workers
