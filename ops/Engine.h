#pragma once
// The two file operations. Each turns one file into another beside it and
// reports exactly one outcome; neither deletes its input (the caller does that
// after success, with RemoveInputFile).

#include "KeyStore.h"
#include "crypto/Outcome.h"
#include "io/SafeFile.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace kestrawin::ops {

struct OperationOptions {
    // Called after each chunk with the input bytes processed so far and the
    // input's size. Runs on the calling thread.
    std::function<void(std::uint64_t done, std::uint64_t total)> progress;
    // Checked between chunks; when it becomes true the operation stops, removes
    // what it was writing and returns Cancelled.
    const std::atomic<bool>* cancel = nullptr;
    // Bytes read, processed and written at a time.
    std::size_t chunkSize = std::size_t{1} << 20;
    // Threads that decrypt each chunk together (0: one per processor, at most
    // 4). Encryption always runs the cipher on one thread.
    unsigned decryptThreads = 0;
    // Called before each step that changes what is on disk (tests make steps
    // fail or end the process there). Empty: none.
    io::DiskHook diskHook;
};

// The container's name for an input: the path with ".ksw" appended.
[[nodiscard]] std::string ContainerNameOf(const std::string& path);

// The plain file's name for a container: its path less the last four
// characters, whatever they are. Empty when nothing would be left of the file
// name (a path of four characters or fewer, or one that would end in '/').
[[nodiscard]] std::string PlainNameOf(const std::string& path);

// Encrypts `path` into ContainerNameOf(path) with the password (UTF-8), signing
// the password's hash with the store's signature key. The container gets the
// input's permission bits. A file of the container's name is replaced, but
// only by a complete container.
[[nodiscard]] Result EncryptSelectedFile(const KeyContainer& keys, const std::string& path,
                                         const std::string& password,
                                         const OperationOptions& options = {});

// Checks the password against the container's signature and, when it verifies,
// decrypts `path` into PlainNameOf(path) with the container's permission bits.
// Nothing is written for a wrong password or a damaged container.
[[nodiscard]] Result DecryptSelectedFile(const std::string& path, const std::string& password,
                                         const OperationOptions& options = {});

// Deletes an input once its output is safely on disk; the deletion is durable
// when this returns success.
[[nodiscard]] Result RemoveInputFile(const std::string& path, const io::DiskHook& diskHook = {});

} // namespace kestrawin::ops
