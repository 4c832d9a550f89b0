// SPDX-License-Identifier: Apache-2.0
#pragma once
// RC2-CBC decryption spread over several threads, each running the fastest
// SIMD path (Rc2.h).
//
// A CBC plaintext block depends only on its ciphertext block and the one
// before it, so a long run of ciphertext splits into parts that decrypt
// independently, each starting from the last ciphertext block of the part
// before. (Encryption has no such shortcut: each block needs the previous
// block's result.) The calling thread takes the first part, helper threads
// the others; the helpers are started once and wait between runs.

#include "Provider.h"
#include "Rc2.h"

#include <memory>
#include <vector>

namespace kestrawin::crypto {

class ParallelCbcDecryptor {
public:
    ParallelCbcDecryptor();
    ~ParallelCbcDecryptor();
    ParallelCbcDecryptor(const ParallelCbcDecryptor&) = delete;
    ParallelCbcDecryptor& operator=(const ParallelCbcDecryptor&) = delete;

    static constexpr std::size_t kDefaultMinPart = std::size_t{64} << 10;

    // PKCS#5 padding and an all-zero IV, as Rc2Cbc. threads: 0 for one per
    // processor (at most 4); minPart: the least bytes worth handing to a thread.
    [[nodiscard]] bool Init(const Rc2Key& key, unsigned threads = 0,
                            std::size_t minPart = kDefaultMinPart);
    // Rc2Cbc's contract: out must hold in.size() + 8 bytes, any split of the
    // input gives the bytes of one whole call, and Final fails on a bad padding
    // or a length that is not whole blocks.
    [[nodiscard]] bool Update(ByteView in, std::uint8_t* out, std::size_t* written);
    [[nodiscard]] bool Final(std::uint8_t* out, std::size_t* written);

    [[nodiscard]] unsigned threads() const { return threads_; }

private:
    bool DecryptRun(const std::uint8_t* in, std::size_t n, std::uint8_t* out);

    Rc2Key key_;
    rc2::Schedule schedule_;
    unsigned threads_ = 0;
    std::size_t minPart_ = kDefaultMinPart;
    std::uint8_t previous_[Rc2Cbc::kBlock] = {}; // ciphertext block before the next one
    std::uint8_t held_[Rc2Cbc::kBlock] = {};     // not decrypted yet: it may be the last block
    std::size_t heldSize_ = 0;
    bool ready_ = false;
    // Helper threads that live as long as the decryptor and wait for parts.
    class Helpers;
    std::unique_ptr<Helpers> helpers_;
};

} // namespace kestrawin::crypto
