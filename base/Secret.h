// SPDX-License-Identifier: Apache-2.0
#pragma once
// Passwords and the key material made from them live in Secret: one owner per
// copy, wiped (in a way the compiler cannot leave out) when dropped, grown
// without leaving old copies behind.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrawin {

// Overwrites n bytes with zeros; never optimised away.
void Wipe(void* data, std::size_t n);

class Secret {
public:
    Secret() = default;
    explicit Secret(std::string_view bytes);
    // Conveniences for scripts and tests; the source stays the caller's to wipe.
    Secret(const char* text) : Secret(std::string_view(text ? text : "")) {}
    Secret(const std::string& text) : Secret(std::string_view(text)) {}
    ~Secret();
    Secret(Secret&& other) noexcept;
    Secret& operator=(Secret&& other) noexcept;
    Secret(const Secret&) = delete;
    Secret& operator=(const Secret&) = delete;

    [[nodiscard]] Secret Copy() const { return Secret(view()); }
    // Room for n bytes in all, so that appending up to there copies nothing.
    void Reserve(std::size_t n);
    void Append(std::string_view bytes);
    void Append(char c) { Append(std::string_view(&c, 1)); }
    void PopBack();
    // Exactly n bytes (new ones zero), for code that fills the buffer itself.
    void Resize(std::size_t n);
    [[nodiscard]] char* data() { return data_; }
    void Clear(); // wipes; keeps the room

    [[nodiscard]] std::string_view view() const { return {data_, size_}; }
    [[nodiscard]] const std::uint8_t* bytes() const
    {
        return reinterpret_cast<const std::uint8_t*>(data_);
    }
    [[nodiscard]] std::size_t size() const { return size_; }
    [[nodiscard]] bool empty() const { return size_ == 0; }
    [[nodiscard]] bool operator==(const Secret& other) const;

private:
    void Release();
    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// Wipes an object of key material (a digest, a key) when the scope ends.
template <class T>
class WipeOnExit {
public:
    explicit WipeOnExit(T& value) : value_(value) {}
    ~WipeOnExit() { Wipe(&value_, sizeof value_); }
    WipeOnExit(const WipeOnExit&) = delete;
    WipeOnExit& operator=(const WipeOnExit&) = delete;

private:
    T& value_;
};

// Overwrites `bytes` of the calling thread's stack below the caller's frame,
// where calls that have returned left their locals: copies of keys made by
// the libraries on the way (register spills, temporaries) included. Called
// once a piece of work with key material is done.
void WipeStack(std::size_t bytes = std::size_t{64} << 10);

// Keeps this process's memory out of core files and away from other
// processes of the same user that are not its debugger: no core dumps, not
// dumpable. Called first thing by both programs.
void ProtectProcessMemory();

} // namespace kestrawin
