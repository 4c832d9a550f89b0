// SPDX-License-Identifier: Apache-2.0
#pragma once
// The work behind the window: encrypting or decrypting the chosen files on a
// thread of their own. Each file is deleted only after its own output is
// safely on disk (ops::ProcessFile). The window reads the password on its own
// thread and hands it over with the files; both go as arguments to the work,
// and the password is wiped as soon as the work ends. Nothing here touches a
// widget or waits for the window.

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

class Worker : public QThread {
    Q_OBJECT

public:
    ~Worker() override;
    // Tests make disk steps fail or end the process there (see io::DiskHook).
    void UseDiskHook(io::DiskHook hook) { diskHook_ = std::move(hook); }

    [[nodiscard]] ops::Direction direction() const { return direction_; }
    // Every file's outcome, in the order given; after finished().
    [[nodiscard]] const std::vector<ops::FileOutcome>& outcomes() const { return outcomes_; }

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
    Worker(ops::Direction direction, std::vector<std::string> files, Secret password);
    void run() override;
    // The work itself, on the worker's thread: every file's outcome.
    virtual std::vector<ops::FileOutcome> Operate(const std::vector<std::string>& files,
                                                  const Secret& password,
                                                  const OperationOptions& options) = 0;

private:
    ops::Direction direction_;
    std::vector<std::string> files_;
    Secret password_;
    io::DiskHook diskHook_;
    std::atomic<bool> cancel_{false};
    std::atomic<bool> hold_{false};
    std::vector<ops::FileOutcome> outcomes_;
};

// One file, encrypted with the start's keys, shared: they stay alive for as
// long as the work runs. Null keys: the engine reports that there is no key
// pair.
class EncryptWorker final : public Worker {
    Q_OBJECT

public:
    EncryptWorker(std::shared_ptr<const KeyContainer> keys, std::string file, Secret password);

protected:
    std::vector<ops::FileOutcome> Operate(const std::vector<std::string>& files,
                                          const Secret& password,
                                          const OperationOptions& options) override;

private:
    std::shared_ptr<const KeyContainer> keys_;
};

// One container, decrypted.
class DecryptWorker final : public Worker {
    Q_OBJECT

public:
    DecryptWorker(std::string file, Secret password);

protected:
    std::vector<ops::FileOutcome> Operate(const std::vector<std::string>& files,
                                          const Secret& password,
                                          const OperationOptions& options) override;
};

// Several files with one password, side by side (ops::RunBatch); progress
// counts the bytes of all of them. Encryption shares the keys, as
// EncryptWorker does.
class BatchWorker final : public Worker {
    Q_OBJECT

public:
    BatchWorker(ops::Direction direction, std::shared_ptr<const KeyContainer> keys,
                std::vector<std::string> files, Secret password);

protected:
    std::vector<ops::FileOutcome> Operate(const std::vector<std::string>& files,
                                          const Secret& password,
                                          const OperationOptions& options) override;

private:
    std::shared_ptr<const KeyContainer> keys_;
};

} // namespace kestrawin::workers
