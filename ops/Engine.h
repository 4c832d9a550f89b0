// SPDX-License-Identifier: Apache-2.0
#pragma once
// The two file operations. Each turns one file into another beside it and
// reports exactly one outcome; neither deletes its input. The caller does that
// after success with RemoveInputFile, given the input as the operation read it,
// so that only that very file is ever deleted.

#include "KeyStore.h"
#include "base/Outcome.h"
#include "base/Secret.h"
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
    // Checked between chunks as well: while it is true the operation waits
    // there, with nothing finished (a cancel still ends the wait).
    const std::atomic<bool>* pause = nullptr;
    // Bytes read, processed and written at a time.
    std::size_t chunkSize = std::size_t{1} << 20;
    // Threads that decrypt each chunk together (0: one per processor, at most
    // 4). Encryption always runs the cipher on one thread.
    unsigned decryptThreads = 0;
    // Called before each step that changes what is on disk (tests make steps
    // fail or end the process there). Empty: none.
    io::DiskHook diskHook;
    // Read, cipher and write on the calling thread alone (what happens anyway
    // when the system will not start more threads).
    bool singleThread = false;
};

// The container's name for an input: the path with ".ksw" appended.
[[nodiscard]] std::string ContainerNameOf(const std::string& path);

// The plain file's name for a container: its path less the last four
// characters of its file name, whatever they are (a character being a UTF-8
// sequence when the name is valid UTF-8). The folder part is never touched:
// empty when the file name has four characters or fewer, or when what is left
// would be "." or "..".
[[nodiscard]] std::string PlainNameOf(const std::string& path);

// Encrypts `path` into ContainerNameOf(path) with the password (UTF-8), signing
// the password's hash with the store's signature key. The container gets the
// input's permission bits (and, when run as root, its owner and group). A
// file of the container's name is replaced, but only by a complete container.
// On success, *input (when given) receives the input as it was read, still
// open, for RemoveInputFile.
[[nodiscard]] Result EncryptSelectedFile(const KeyContainer& keys, const std::string& path,
                                         const Secret& password,
                                         const OperationOptions& options = {},
                                         io::InputFile* input = nullptr);

// Checks the password against the container's signature and, when it verifies,
// decrypts `path` into PlainNameOf(path) with the container's permission bits
// (and, when run as root, its owner and group). Nothing is written for a wrong
// password or a damaged container. *input as for EncryptSelectedFile.
[[nodiscard]] Result DecryptSelectedFile(const std::string& path, const Secret& password,
                                         const OperationOptions& options = {},
                                         io::InputFile* input = nullptr);

// Deletes an input once its output is safely on disk, but only if its name
// still leads to the very file the operation read, unchanged; the deletion is
// durable when this returns success. Otherwise nothing is touched and the
// outcome says why: InputChanged, InputMoved or InputKept. *otherNames gets
// the number of hard links that still lead to the deleted contents.
[[nodiscard]] Result RemoveInputFile(io::InputFile& input, std::uint64_t* otherNames = nullptr,
                                     const io::DiskHook& diskHook = {});

} // namespace kestrawin::ops
