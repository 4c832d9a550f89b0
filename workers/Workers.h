#pragma once
// TEncryptThread and TDecryptThread: each runs one operation on the selected
// file and, when it succeeds, deletes that file (the engine has put the output
// safely on disk by then). The window reads the password on its own thread and
// hands it over; nothing here touches a widget.

#include "crypto/Engine.h"

#include <QThread>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>

namespace kestrawin::workers {

// What a worker did.
struct WorkResult {
    Outcome outcome = Outcome::Success;
    std::string detail;
    bool inputRemoved = false; // on success: the input was deleted
    std::string keptReason;    // on success: why the input could not be deleted
};

class WorkerThread : public QThread {
    Q_OBJECT
public:
    // `repaint` runs on the thread that owns `window` before the work starts,
    // and the worker waits for it: the busy message is on screen first.
    WorkerThread(QObject* window, std::function<void()> repaint, std::string selectedFile,
                 std::string password);
    ~WorkerThread() override;

    [[nodiscard]] const WorkResult& result() const { return result_; } // after finished()
    [[nodiscard]] const std::string& selectedFile() const { return selectedFile_; }
    // Asks the work to stop at its next chunk, from any thread. It then ends
    // as Cancelled with nothing changed, unless it had already finished.
    void RequestCancel() { cancel_.store(true); }
    // Progress signals come at most this often (and once at the end).
    static constexpr std::chrono::milliseconds kProgressInterval{50};

signals:
    // Bytes of the input done and its size; queued to the window's thread.
    void progress(qint64 done, qint64 total);

protected:
    void run() override; // Execute
    virtual Result Operate(const OperationOptions& options) = 0;

    std::string selectedFile_;
    std::string password_;

private:
    QObject* window_;
    std::function<void()> repaint_;
    std::atomic<bool> cancel_{false};
    WorkResult result_;
};

class TEncryptThread final : public WorkerThread {
    Q_OBJECT
public:
    TEncryptThread(QObject* window, std::function<void()> repaint, const KeyContainer& keys,
                   std::string selectedFile, std::string password);

protected:
    Result Operate(const OperationOptions& options) override;

private:
    const KeyContainer& keys_;
};

class TDecryptThread final : public WorkerThread {
    Q_OBJECT
public:
    TDecryptThread(QObject* window, std::function<void()> repaint, std::string selectedFile,
                   std::string password);

protected:
    Result Operate(const OperationOptions& options) override;
};

} // namespace kestrawin::workers
