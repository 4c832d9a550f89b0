// SPDX-License-Identifier: Apache-2.0
#pragma once
// TEncryptThread and TDecryptThread: each runs one operation on the selected
// file and, when it succeeds, deletes that file (the engine has put the output
// safely on disk by then). The window reads the password on its own thread and
// hands it over; nothing here touches a widget or waits for the window.

#include "ops/Batch.h"

#include <QThread>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace kestrawin::workers {

using ops::KeyContainer;
using ops::OperationOptions;

// What a worker did: for a batch, its first failure (or success).
using WorkResult = ops::FileOutcome;

class WorkerThread : public QThread {
    Q_OBJECT
public:
    WorkerThread(std::string selectedFile, Secret password);
    // Tests make disk steps fail or end the process there (see io::DiskHook).
    void UseDiskHook(io::DiskHook hook) { diskHook_ = std::move(hook); }
    ~WorkerThread() override;

    [[nodiscard]] const WorkResult& result() const { return result_; } // after finished()
    [[nodiscard]] const std::string& selectedFile() const { return selectedFile_; }
    // Asks the work to stop at its next chunk, from any thread. It then ends
    // as Cancelled with nothing changed, unless it had already finished.
    void RequestCancel() { cancel_.store(true); }
    // Holds the work at its next chunk until Resume, from any thread: a file
    // past its last chunk still finishes. A cancel ends the hold.
    void Hold() { hold_.store(true); }
    void Resume() { hold_.store(false); }
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
    Secret password_;

private:
    io::DiskHook diskHook_;
    std::atomic<bool> cancel_{false};
    std::atomic<bool> hold_{false};
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
    WorkResult Operate(const OperationOptions& options) override;

private:
    std::shared_ptr<const KeyContainer> keys_;
};

class TDecryptThread final : public WorkerThread {
    Q_OBJECT
public:
    TDecryptThread(std::string selectedFile, Secret password);

protected:
    WorkResult Operate(const OperationOptions& options) override;
};

// Several files with one password, side by side (ops::RunBatch);
// progress counts the bytes of all of them.
class TBatchThread final : public WorkerThread {
    Q_OBJECT
public:
    // Encryption shares the keys, as TEncryptThread does.
    TBatchThread(ops::Direction direction, std::shared_ptr<const KeyContainer> keys,
                 std::vector<std::string> files, Secret password);

    // Every file's outcome, in the order given; after finished().
    [[nodiscard]] const std::vector<ops::FileOutcome>& outcomes() const { return outcomes_; }
    [[nodiscard]] ops::Direction direction() const { return direction_; }

protected:
    WorkResult Operate(const OperationOptions& options) override;

private:
    ops::Direction direction_;
    std::shared_ptr<const KeyContainer> keys_;
    std::vector<std::string> files_;
    std::vector<ops::FileOutcome> outcomes_;
};

} // namespace kestrawin::workers
