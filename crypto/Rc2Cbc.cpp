// SPDX-License-Identifier: Apache-2.0
// The streaming RC2-CBC cipher over our own block cipher (Rc2.h); the same on
// every platform.
#include "Provider.h"
#include "Rc2.h"
#include "base/Secret.h"

#include <cstring>

namespace kestrawin::crypto {

// Our own cipher (Rc2.h) in the streaming form: encryption buffers a partial
// block; decryption holds back the last block (or the partial one) until more
// comes, since only Final knows which block carries the padding.
struct Rc2Cbc::Impl {
    rc2::Schedule schedule;
    Direction direction = Direction::Encrypt;
    bool padding = true;
    std::uint8_t chain[kBlock] = {};
    std::uint8_t pending[kBlock] = {};
    std::size_t pendingSize = 0;

    ~Impl() { Wipe(pending, sizeof pending); }

    void Run(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks)
    {
        if (direction == Direction::Encrypt)
            rc2::CbcEncrypt(schedule, chain, in, out, blocks);
        else
            rc2::CbcDecrypt(schedule, chain, in, out, blocks);
    }
};

Rc2Cbc::Rc2Cbc() = default;
Rc2Cbc::~Rc2Cbc() = default;

bool Rc2Cbc::Init(const Rc2Key& key, Direction direction, ByteView iv, bool padding)
{
    impl_.reset();
    if (!iv.empty() && iv.size() != kBlock) return false;
    auto impl = std::make_unique<Impl>();
    if (!rc2::ExpandKey(key.bytes, key.effectiveBits, &impl->schedule)) return false;
    impl->direction = direction;
    impl->padding = padding;
    if (!iv.empty()) std::memcpy(impl->chain, iv.data(), kBlock);
    impl_ = std::move(impl);
    return true;
}

bool Rc2Cbc::Restart(ByteView iv)
{
    if (!impl_ || iv.size() != kBlock) return false;
    std::memcpy(impl_->chain, iv.data(), kBlock);
    impl_->pendingSize = 0;
    return true;
}

bool Rc2Cbc::Update(ByteView in, std::uint8_t* out, std::size_t* written)
{
    *written = 0;
    if (!impl_) return false;
    Impl& c = *impl_;
    const std::size_t total = c.pendingSize + in.size();
    // What stays pending after this call: the partial block, and when
    // decrypting with padding, the last whole block too.
    const bool holdLast = c.direction == Direction::Decrypt && c.padding;
    std::size_t keep = total % kBlock;
    if (holdLast && keep == 0 && total > 0) keep = kBlock;
    if (total <= keep) {
        if (!in.empty()) std::memcpy(c.pending + c.pendingSize, in.data(), in.size());
        c.pendingSize = total;
        return true;
    }
    std::size_t used = 0;
    if (c.pendingSize > 0) {
        used = kBlock - c.pendingSize;
        std::memcpy(c.pending + c.pendingSize, in.data(), used);
        c.Run(c.pending, out, 1);
        *written = kBlock;
        c.pendingSize = 0;
    }
    const std::size_t run = in.size() - used - keep;
    c.Run(in.data() + used, out + *written, run / kBlock);
    *written += run;
    std::memcpy(c.pending, in.data() + used + run, keep);
    c.pendingSize = keep;
    return true;
}

bool Rc2Cbc::Final(std::uint8_t* out, std::size_t* written)
{
    *written = 0;
    if (!impl_) return false;
    Impl& c = *impl_;
    if (!c.padding) return c.pendingSize == 0;
    if (c.direction == Direction::Encrypt) {
        const std::size_t pad = kBlock - c.pendingSize;
        std::memset(c.pending + c.pendingSize, static_cast<int>(pad), pad);
        c.Run(c.pending, out, 1);
        c.pendingSize = 0;
        *written = kBlock;
        return true;
    }
    if (c.pendingSize != kBlock) return false;
    std::uint8_t plain[kBlock];
    c.Run(c.pending, plain, 1);
    c.pendingSize = 0;
    const std::size_t pad = plain[kBlock - 1];
    bool good = pad >= 1 && pad <= kBlock;
    for (std::size_t i = 0; good && i < pad; ++i) good = plain[kBlock - 1 - i] == pad;
    if (good) {
        std::memcpy(out, plain, kBlock - pad);
        *written = kBlock - pad;
    }
    Wipe(plain, sizeof plain);
    return good;
}

} // namespace kestrawin::crypto
