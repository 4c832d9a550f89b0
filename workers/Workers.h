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
    // On success with the input kept: InputChanged, InputMoved or InputKept,
    // and the detail.
    Outcome keptOutcome = Outcome::Success;
    std::string keptReason;
    std::uint64_t otherNames = 0; // other hard links to the deleted input
};

class WorkerThread : public QThread {
    Q_OBJECT
public:
    WorkerThread(std::string selectedFile, Secret password);
    // Tests make disk steps fail or end the process there (see io::DiskHook).
    void UseDiskHook(io::DiskHook hook) { diskHook_ = std::move(hook); }
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
    // Runs the operation; on success *input is the input as it was read.
    virtual Result Operate(const OperationOptions& options, io::InputFile* input) = 0;

    std::string selectedFile_;
    Secret password_;

private:
    io::DiskHook diskHook_;
    WorkResult result_;
};

class TEncryptThread final : public WorkerThread {
    Q_OBJECT
public:
    // The worker shares the keys: they stay alive for as long as it runs.
    // Null keys: the engine reports that there is no key pair.
    TEncryptThread(std::shared_ptr<const KeyContainer> keys, std::string selectedFile,
                   Secret password);

protected:
    Result Operate(const OperationOptions& options, io::InputFile* input) override;

private:
    std::shared_ptr<const KeyContainer> keys_;
};

class TDecryptThread final : public WorkerThread {
    Q_OBJECT
public:
    TDecryptThread(std::string selectedFile, Secret password);

protected:
    Result Operate(const OperationOptions& options, io::InputFile* input) override;
};

} // namespace kestrawin::workers
