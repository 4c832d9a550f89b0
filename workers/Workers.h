#pragma once
// TEncryptThread and TDecryptThread: each runs one operation on the selected
// file and, when it succeeds, deletes that file (the engine has put the output
// safely on disk by then). The window reads the password on its own thread and
// hands it over; nothing here touches a widget.

#include "operations/Batch.h"

#include <QThread>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace kestrawin::workers {

// What a worker did: for a batch, its first failure (or success).
using WorkResult = operations::FileOutcome;

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
    // The work itself, on the worker's thread.
    virtual WorkResult Operate(const OperationOptions& options) = 0;

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
    WorkResult Operate(const OperationOptions& options) override;

private:
    const KeyContainer& keys_;
};

class TDecryptThread final : public WorkerThread {
    Q_OBJECT
public:
    TDecryptThread(QObject* window, std::function<void()> repaint, std::string selectedFile,
                   std::string password);

protected:
    WorkResult Operate(const OperationOptions& options) override;
};

// Several files with one password, side by side (operations::RunBatch);
// progress counts the bytes of all of them.
class TBatchThread final : public WorkerThread {
    Q_OBJECT
public:
    TBatchThread(QObject* window, std::function<void()> repaint, operations::Direction direction,
                 const KeyContainer& keys, std::vector<std::string> files, std::string password);

    // Every file's outcome, in the order given; after finished().
    [[nodiscard]] const std::vector<operations::FileOutcome>& outcomes() const { return outcomes_; }
    [[nodiscard]] operations::Direction direction() const { return direction_; }

protected:
    WorkResult Operate(const OperationOptions& options) override;

private:
    operations::Direction direction_;
    const KeyContainer& keys_;
    std::vector<std::string> files_;
    std::vector<operations::FileOutcome> outcomes_;
};

} // namespace kestrawin::workers
