// SPDX-License-Identifier: Apache-2.0
#include "Secret.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace kestrawin {
namespace {

// True when the n bytes at a and b are equal; the time taken does not depend
// on where they differ.
bool SameBytes(const void* a, const void* b, std::size_t n)
{
    const auto* x = static_cast<const volatile unsigned char*>(a);
    const auto* y = static_cast<const volatile unsigned char*>(b);
    unsigned char differ = 0;
    for (std::size_t i = 0; i < n; ++i) differ = static_cast<unsigned char>(differ | (x[i] ^ y[i]));
    return differ == 0;
}

} // namespace

Secret::Secret(std::string_view bytes)
{
    Append(bytes);
}

Secret::~Secret()
{
    Release();
}

Secret::Secret(Secret&& other) noexcept
    : data_(other.data_), size_(other.size_), capacity_(other.capacity_)
{
    other.data_ = nullptr;
    other.size_ = other.capacity_ = 0;
}

Secret& Secret::operator=(Secret&& other) noexcept
{
    if (this != &other) {
        Release();
        data_ = other.data_;
        size_ = other.size_;
        capacity_ = other.capacity_;
        other.data_ = nullptr;
        other.size_ = other.capacity_ = 0;
    }
    return *this;
}

void Secret::Release()
{
    if (data_) {
        Wipe(data_, capacity_);
        delete[] data_;
    }
    data_ = nullptr;
    size_ = capacity_ = 0;
}

void Secret::Reserve(std::size_t n)
{
    if (n <= capacity_) return;
    char* grown = new char[n];
    if (size_) std::memcpy(grown, data_, size_);
    const std::size_t size = size_;
    Release(); // the old copy is wiped before it is given back
    data_ = grown;
    size_ = size;
    capacity_ = n;
}

void Secret::Append(std::string_view bytes)
{
    if (bytes.empty()) return;
    if (size_ + bytes.size() > capacity_)
        Reserve(std::max(size_ + bytes.size(), capacity_ * 2 + 16));
    std::memcpy(data_ + size_, bytes.data(), bytes.size());
    size_ += bytes.size();
}

void Secret::PopBack()
{
    if (size_ == 0) return;
    --size_;
    Wipe(data_ + size_, 1);
}

void Secret::Resize(std::size_t n)
{
    if (n > capacity_) Reserve(n);
    if (n > size_)
        std::memset(data_ + size_, 0, n - size_);
    else if (n < size_)
        Wipe(data_ + n, size_ - n);
    size_ = n;
}

void Secret::Clear()
{
    Wipe(data_, capacity_);
    size_ = 0;
}

bool Secret::operator==(const Secret& other) const
{
    return size_ == other.size_ && (size_ == 0 || SameBytes(data_, other.data_, size_));
}

[[gnu::noinline]] void WipeStack(std::size_t bytes)
{
    // A frame of its own, below the caller's: what the finished calls left.
    constexpr std::size_t kChunk = 16 << 10;
    unsigned char area[kChunk];
    Wipe(area, sizeof area);
    if (bytes > kChunk) WipeStack(bytes - kChunk);
    // Keeps the recursion a real call, so that each level has its own frame.
    asm volatile("" : : "r"(area) : "memory");
}

} // namespace kestrawin
