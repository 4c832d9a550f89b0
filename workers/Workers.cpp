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
    const Result r = Operate(options);
    result_.outcome = r.outcome;
    result_.detail = r.detail;

    // 3. Only after success, and only once the output is safely on disk (the
    //    engine returns success no earlier), the input goes.
    if (r.ok()) {
        const Result removed = RemoveInputFile(selectedFile_);
        result_.inputRemoved = removed.ok();
        result_.keptReason = removed.detail;
    }
}

TEncryptThread::TEncryptThread(QObject* window, std::function<void()> repaint,
                               const KeyContainer& keys, std::string selectedFile, std::string password)
    : WorkerThread(window, std::move(repaint), std::move(selectedFile), std::move(password)), keys_(keys)
{
}

Result TEncryptThread::Operate(const OperationOptions& options)
{
    return EncryptSelectedFile(keys_, selectedFile_, password_, options);
}

TDecryptThread::TDecryptThread(QObject* window, std::function<void()> repaint,
                               std::string selectedFile, std::string password)
    : WorkerThread(window, std::move(repaint), std::move(selectedFile), std::move(password))
{
}

Result TDecryptThread::Operate(const OperationOptions& options)
{
    return DecryptSelectedFile(selectedFile_, password_, options);
}

} // namespace kestrawin::workers
