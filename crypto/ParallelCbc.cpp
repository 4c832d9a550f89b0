// SPDX-License-Identifier: Apache-2.0
#include "ParallelCbc.h"
#include "base/Secret.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>

namespace kestrawin::crypto {

namespace {
constexpr std::size_t kBlock = Rc2Cbc::kBlock;
constexpr unsigned kMaxThreads = 4;
} // namespace

// Runs job(0) on the calling thread and job(1..count-1) on the helpers, and
// returns when all are done.
class ParallelCbcDecryptor::Helpers {
public:
    // Starts up to `count` threads; fewer when the system refuses more.
    explicit Helpers(std::size_t count)
    {
        try {
            for (std::size_t i = 1; i <= count; ++i) threads_.emplace_back([this, i] { Serve(i); });
        } catch (const std::system_error&) {
        }
    }
    [[nodiscard]] std::size_t size() const { return threads_.size(); }
    ~Helpers()
    {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        start_.notify_all();
        for (std::thread& t : threads_) t.join();
    }
    void Run(std::size_t count, const std::function<void(std::size_t)>& job)
    {
        {
            std::lock_guard lock(mutex_);
            job_ = &job;
            count_ = count;
            pending_ = count - 1;
            ++round_;
        }
        start_.notify_all();
        job(0);
        std::unique_lock lock(mutex_);
        finished_.wait(lock, [this] { return pending_ == 0; });
        job_ = nullptr;
    }

private:
    void Serve(std::size_t index)
    {
        std::uint64_t seen = 0;
        std::unique_lock lock(mutex_);
        for (;;) {
            start_.wait(lock, [&] { return stop_ || round_ != seen; });
            if (stop_) return;
            seen = round_;
            if (index >= count_) continue;
            const auto* job = job_;
            lock.unlock();
            (*job)(index);
            lock.lock();
            if (--pending_ == 0) finished_.notify_one();
        }
    }

    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable start_, finished_;
    const std::function<void(std::size_t)>* job_ = nullptr;
    std::size_t count_ = 0;
    std::size_t pending_ = 0;
    std::uint64_t round_ = 0;
    bool stop_ = false;
};

ParallelCbcDecryptor::ParallelCbcDecryptor() = default;
ParallelCbcDecryptor::~ParallelCbcDecryptor()
{
    Wipe(&key_, sizeof key_);
    Wipe(previous_, sizeof previous_);
    Wipe(held_, sizeof held_);
}

bool ParallelCbcDecryptor::Init(const Rc2Key& key, unsigned threads, std::size_t minPart)
{
    if (threads == 0) threads = std::clamp(std::thread::hardware_concurrency(), 1u, kMaxThreads);
    key_ = key;
    minPart_ = std::max(minPart, kBlock);
    std::memset(previous_, 0, sizeof previous_);
    heldSize_ = 0;
    helpers_.reset();
    threads_ = threads;
    ready_ = rc2::ExpandKey(key.bytes, key.effectiveBits, &schedule_);
    return ready_;
}

// Decrypts n bytes (whole blocks) that follow previous_, split into parts
// of whole blocks, and moves previous_ to the run's last block.
bool ParallelCbcDecryptor::DecryptRun(const std::uint8_t* in, std::size_t n, std::uint8_t* out)
{
    if (n == 0) return true;
    const std::size_t blocks = n / kBlock;
    // Rounded to the nearest: a chunk of twice the least part, less the block
    // held back from the chunk before, still makes two parts.
    std::size_t count = std::clamp<std::size_t>((n + minPart_ / 2) / minPart_, 1, threads_);
    if (count > 1) {
        if (!helpers_) helpers_ = std::make_unique<Helpers>(threads_ - 1);
        count = std::min(count, helpers_->size() + 1); // the system may give fewer threads
    }
    auto partStart = [&](std::size_t i) { return blocks * i / count * kBlock; };
    auto decryptPart = [&](std::size_t i) {
        const std::size_t begin = partStart(i);
        const std::size_t end = partStart(i + 1);
        std::uint8_t iv[kBlock];
        std::memcpy(iv, i == 0 ? previous_ : in + begin - kBlock, kBlock);
        rc2::CbcDecrypt(schedule_, iv, in + begin, out + begin, (end - begin) / kBlock);
        return true;
    };

    std::vector<char> done(count, 0);
    if (count == 1) {
        done[0] = decryptPart(0);
    } else {
        helpers_->Run(count, [&](std::size_t i) { done[i] = decryptPart(i); });
    }
    std::memcpy(previous_, in + n - kBlock, kBlock);
    return std::all_of(done.begin(), done.end(), [](char ok) { return ok != 0; });
}

bool ParallelCbcDecryptor::Update(ByteView in, std::uint8_t* out, std::size_t* written)
{
    *written = 0;
    if (!ready_) return false;
    // Of what is held and what comes in, the last block (or the last partial
    // block) stays back: only Final knows whether it is the padded one.
    const std::size_t total = heldSize_ + in.size();
    if (total <= kBlock) {
        if (!in.empty()) std::memcpy(held_ + heldSize_, in.data(), in.size());
        heldSize_ = total;
        return true;
    }
    const std::size_t keep = total % kBlock == 0 ? kBlock : total % kBlock;
    std::size_t used = 0;
    if (heldSize_ > 0) {
        // Complete the held block from the input and decrypt it alone.
        used = kBlock - heldSize_;
        std::memcpy(held_ + heldSize_, in.data(), used);
        if (!DecryptRun(held_, kBlock, out)) return false;
        *written = kBlock;
        heldSize_ = 0;
    }
    const std::size_t run = in.size() - used - keep;
    if (!DecryptRun(in.data() + used, run, out + *written)) return false;
    *written += run;
    std::memcpy(held_, in.data() + used + run, keep);
    heldSize_ = keep;
    return true;
}

bool ParallelCbcDecryptor::Final(std::uint8_t* out, std::size_t* written)
{
    *written = 0;
    if (!ready_ || heldSize_ != kBlock) return false;
    // The last block through a padded context: its padding is checked and removed.
    Rc2Cbc last;
    std::uint8_t plain[2 * kBlock];
    std::size_t a = 0, b = 0;
    if (!last.Init(key_, Rc2Cbc::Direction::Decrypt, {previous_, kBlock})
        || !last.Update({held_, kBlock}, plain, &a) || !last.Final(plain + a, &b))
        return false;
    std::memcpy(out, plain, a + b);
    *written = a + b;
    heldSize_ = 0;
    return true;
}

} // namespace kestrawin::crypto
