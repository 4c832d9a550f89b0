// SPDX-License-Identifier: Apache-2.0
#include "Stream.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

namespace kestrawin::ops {
namespace {

// Left uninitialised: the reader or the cipher fills what is used, and pages
// never used are never touched.
struct Buffer {
    std::unique_ptr<std::uint8_t[]> bytes;
    std::size_t size = 0;
};

// A bounded hand-over between two threads. Once closed, Push refuses and Pop
// gives what is left, then nothing.
class Channel {
public:
    bool Push(Buffer item)
    {
        std::lock_guard lock(mutex_);
        if (closed_) return false;
        items_.push_back(std::move(item));
        ready_.notify_one();
        return true;
    }
    std::optional<Buffer> Pop()
    {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [this] { return closed_ || !items_.empty(); });
        if (items_.empty()) return std::nullopt;
        Buffer item = std::move(items_.front());
        items_.pop_front();
        return item;
    }
    void Close()
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        ready_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Buffer> items_;
    bool closed_ = false;
};

constexpr int kDepth = 4; // buffers in flight per stage

bool CancelRequested(const OperationOptions& options)
{
    return options.cancel && options.cancel->load(std::memory_order_relaxed);
}

// Every point between chunks: waits there while the caller holds the work,
// then tells whether to stop.
bool Cancelled(const OperationOptions& options)
{
    while (options.pause && options.pause->load(std::memory_order_relaxed)
           && !CancelRequested(options))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return CancelRequested(options);
}

// Anything past the measured length, or a change of the file meanwhile,
// means the output does not hold the file as it now is.
Result CheckReadToEnd(io::InputFile& in)
{
    std::uint8_t extra = 0;
    std::size_t got = 0;
    if (Result r = in.Read(&extra, 1, &got); !r.ok()) return r;
    if (got != 0 || in.ChangedSinceOpen())
        return Result::fail(Outcome::InputUnreadable, "the file changed while it was read");
    return Result::success();
}

Result FinalFailure(Outcome finalFailure)
{
    return Result::fail(finalFailure, finalFailure == Outcome::DamagedContainer
                                          ? "the encrypted data does not end correctly"
                                          : "the cipher failed");
}

// The same work on this thread alone, for when the system will not start
// another thread (a tight limit on processes or address space).
template <class Cipher>
Result PumpHere(io::InputFile& in, std::uint64_t length, Cipher& cipher, io::AtomicOutput& out,
                const OperationOptions& options, Outcome finalFailure, std::size_t inSize)
{
    auto inBuf = std::make_unique_for_overwrite<std::uint8_t[]>(inSize);
    auto outBuf = std::make_unique_for_overwrite<std::uint8_t[]>(inSize + crypto::Rc2Cbc::kBlock);
    std::uint64_t done = 0;
    if (options.progress) options.progress(0, length);
    while (done < length) {
        if (Cancelled(options)) return Result::fail(Outcome::Cancelled);
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(inSize, length - done));
        std::size_t got = 0;
        if (Result r = in.Read(inBuf.get(), want, &got); !r.ok()) return r;
        if (got != want)
            return Result::fail(Outcome::InputUnreadable, "the file changed while it was read");
        std::size_t n = 0;
        if (!cipher.Update({inBuf.get(), got}, outBuf.get(), &n))
            return Result::fail(Outcome::CryptoFailure, "the cipher failed");
        if (Result r = out.Write(outBuf.get(), n); !r.ok()) return r;
        done += got;
        if (options.progress) options.progress(done, length);
    }
    if (Cancelled(options)) return Result::fail(Outcome::Cancelled);
    std::size_t n = 0;
    if (!cipher.Final(outBuf.get(), &n)) return FinalFailure(finalFailure);
    if (Result r = out.Write(outBuf.get(), n); !r.ok()) return r;
    return CheckReadToEnd(in);
}

} // namespace

// Three stages overlap: a reader thread fills buffers, this thread runs the
// cipher, a writer thread writes. The cipher is the bottleneck; the reading and
// writing (and the kernel's copying) happen on the other core meanwhile. When
// decrypting, the cipher stage itself spreads each chunk over the processors
// (ParallelCbcDecryptor); encryption cannot be spread.
// Memory stays at 2 * kDepth chunks whatever the file's size; a small file
// gets only the buffers it can use.
template <class Cipher>
Result Pump(io::InputFile& in, std::uint64_t length, Cipher& cipher, io::AtomicOutput& out,
            const OperationOptions& options, Outcome finalFailure)
{
    const std::size_t chunk = std::max<std::size_t>(options.chunkSize, crypto::Rc2Cbc::kBlock);
    const std::size_t inSize = static_cast<std::size_t>(
        std::min<std::uint64_t>(chunk, std::max<std::uint64_t>(length, 1)));
    const std::uint64_t chunks = (length + inSize - 1) / inSize;
    if (options.singleThread)
        return PumpHere(in, length, cipher, out, options, finalFailure, inSize);
    Channel freeIn, filled, freeOut, toWrite;
    for (std::uint64_t i = 0;
         i < std::min<std::uint64_t>(kDepth, std::max<std::uint64_t>(chunks, 1)); ++i)
        (void)freeIn.Push(Buffer{std::make_unique_for_overwrite<std::uint8_t[]>(inSize), 0});
    for (std::uint64_t i = 0; i < std::min<std::uint64_t>(kDepth, chunks + 1); ++i)
        (void)freeOut.Push(Buffer{
            std::make_unique_for_overwrite<std::uint8_t[]>(inSize + crypto::Rc2Cbc::kBlock), 0});

    Result readResult = Result::success();
    Result writeResult = Result::success();
    auto readerBody = [&] {
        std::uint64_t left = length;
        while (left > 0) {
            auto buf = freeIn.Pop();
            if (!buf) break;
            const std::size_t want =
                static_cast<std::size_t>(std::min<std::uint64_t>(inSize, left));
            std::size_t got = 0;
            readResult = in.Read(buf->bytes.get(), want, &got);
            if (readResult.ok() && got != want)
                readResult =
                    Result::fail(Outcome::InputUnreadable, "the file changed while it was read");
            if (!readResult.ok()) break;
            buf->size = got;
            left -= got;
            if (!filled.Push(std::move(*buf))) break;
        }
        filled.Close();
    };
    auto writerBody = [&] {
        while (auto buf = toWrite.Pop()) {
            writeResult = out.Write(buf->bytes.get(), buf->size);
            if (!writeResult.ok()) break;
            (void)freeOut.Push(std::move(*buf));
        }
        toWrite.Close();
        freeOut.Close();
    };
    // The writer first: it has done nothing yet when the reader cannot start.
    std::thread writer;
    std::thread reader;
    try {
        writer = std::thread(writerBody);
    } catch (const std::system_error&) {
        return PumpHere(in, length, cipher, out, options, finalFailure, inSize);
    }
    try {
        reader = std::thread(readerBody);
    } catch (const std::system_error&) {
        toWrite.Close();
        writer.join();
        return PumpHere(in, length, cipher, out, options, finalFailure, inSize);
    }
    Result result = Result::success();
    std::uint64_t done = 0;
    if (options.progress) options.progress(0, length);
    while (done < length) {
        if (Cancelled(options)) {
            result = Result::fail(Outcome::Cancelled);
            break;
        }
        auto inBuf = filled.Pop();
        if (!inBuf) break; // the reader stopped: its result says why
        auto outBuf = freeOut.Pop();
        if (!outBuf) break; // the writer stopped: its result says why
        if (!cipher.Update({inBuf->bytes.get(), inBuf->size}, outBuf->bytes.get(), &outBuf->size)) {
            result = Result::fail(Outcome::CryptoFailure, "the cipher failed");
            break;
        }
        done += inBuf->size;
        (void)freeIn.Push(std::move(*inBuf));
        if (!toWrite.Push(std::move(*outBuf))) break;
        if (options.progress) options.progress(done, length);
    }
    if (result.ok() && done == length && Cancelled(options))
        result = Result::fail(Outcome::Cancelled);
    if (result.ok() && done == length) {
        auto outBuf = freeOut.Pop();
        if (outBuf) {
            if (cipher.Final(outBuf->bytes.get(), &outBuf->size))
                (void)toWrite.Push(std::move(*outBuf));
            else
                result = FinalFailure(finalFailure);
        }
    }
    toWrite.Close(); // the writer finishes what it was given
    freeIn.Close();
    filled.Close();
    reader.join();
    writer.join();

    if (!result.ok()) return result;
    if (!writeResult.ok()) return writeResult;
    if (!readResult.ok()) return readResult;
    if (done != length)
        return Result::fail(Outcome::InputUnreadable, "the file changed while it was read");

    return CheckReadToEnd(in);
}

Result Finish(io::AtomicOutput& out, io::InputFile& in, io::InputFile* input)
{
    if (Result r = out.Commit(in); !r.ok()) return r;
    if (input) *input = std::move(in);
    Result done = Result::success();
    done.detail = out.notice();
    return done;
}

template Result Pump(io::InputFile&, std::uint64_t, crypto::Rc2Cbc&, io::AtomicOutput&,
                     const OperationOptions&, Outcome);
template Result Pump(io::InputFile&, std::uint64_t, crypto::ParallelCbcDecryptor&,
                     io::AtomicOutput&, const OperationOptions&, Outcome);

} // namespace kestrawin::ops
