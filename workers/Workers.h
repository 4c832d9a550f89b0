#pragma once
// TEncryptThread and TDecryptThread: each runs one operation on the selected
// file and, when it succeeds, deletes that file (the engine has put the output
// safely on disk by then). The window reads the password on its own thread and
// hands it over; nothing here touches a widget or waits for the window.

#include "ops/Engine.h"

#include <QThread>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

namespace kestrawin::workers {

using ops::KeyContainer;
using ops::OperationOptions;

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
    WorkerThread(std::string selectedFile, std::string password);
    ~WorkerThread() override;

    [[nodiscard]] const WorkResult& result() const { return result_; } // after finished()
    [[nodiscard]] const std::string& selectedFile() const { return selectedFile_; }
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
    WorkResult result_;
};

class TEncryptThread final : public WorkerThread {
    Q_OBJECT
public:
    // The worker shares the keys: they stay alive for as long as it runs.
    // Null keys: the engine reports that there is no key pair.
    TEncryptThread(std::shared_ptr<const KeyContainer> keys, std::string selectedFile,
                   std::string password);

protected:
    Result Operate(const OperationOptions& options) override;

private:
    std::shared_ptr<const KeyContainer> keys_;
};

class TDecryptThread final : public WorkerThread {
    Q_OBJECT
public:
    TDecryptThread(std::string selectedFile, std::string password);

protected:
    Result Operate(const OperationOptions& options) override;
};

} // namespace kestrawin::workers
