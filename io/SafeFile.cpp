// SPDX-License-Identifier: Apache-2.0
// What every platform's safe files share: the names of our own files and the
// whole-file writer. SafeFilePosix.cpp and SafeFileWindows.cpp hold the rest.
#include "SafeFile.h"

#include "detail/Names.h"

#include <unistd.h>

#include <cstdint>
#include <random>

namespace kestrawin::io {
namespace detail {
namespace {

constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr std::size_t kAlphabetSize = sizeof kAlphabet - 1;

std::string RandomLetters(std::size_t n)
{
    static thread_local std::mt19937_64 rng{std::random_device{}()
                                            ^ static_cast<unsigned>(getpid())};
    std::string s(n, 'x');
    for (char& c : s) c = kAlphabet[rng() % kAlphabetSize];
    return s;
}

// Six letters computed from everything before them in the name: a name we
// made carries them, a name somebody else chose practically never does.
std::string CheckLetters(std::string_view before)
{
    std::uint64_t h = 0xcbf29ce484222325ULL; // FNV-1a over a tag and the name
    for (std::string_view part : {std::string_view("kestrawin temporary\n"), before})
        for (char c : part) {
            h ^= static_cast<unsigned char>(c);
            h *= 0x100000001b3ULL;
        }
    std::string s(kCheckLetters, 'x');
    for (char& c : s) {
        c = kAlphabet[h % kAlphabetSize];
        h /= kAlphabetSize;
    }
    return s;
}

bool ContinuationByte(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

} // namespace

std::string MarkedNameFor(const std::string& name, std::string_view marker)
{
    std::string base = name;
    const std::size_t room = kMaxName - 1 - marker.size() - kTempSuffix;
    if (base.size() > room) {
        // Whole letters only: Windows cannot hold half of one.
        std::size_t cut = room;
        while (cut > 0 && ContinuationByte(base[cut])) --cut;
        base.resize(cut);
    }
    std::string out = "." + base;
    out += marker;
    out += RandomLetters(kRandomLetters);
    out += CheckLetters(out);
    return out;
}

bool IsOurMarkedName(std::string_view n, std::string_view marker)
{
    if (n.size() < 2 + marker.size() + kTempSuffix || n[0] != '.') return false;
    if (n.substr(n.size() - kTempSuffix - marker.size(), marker.size()) != marker) return false;
    const std::string_view suffix = n.substr(n.size() - kTempSuffix);
    if (suffix.find_first_not_of(kAlphabet) != std::string_view::npos) return false;
    return CheckLetters(n.substr(0, n.size() - kCheckLetters)) == suffix.substr(kRandomLetters);
}

} // namespace detail

bool IsOurTemporaryName(std::string_view n)
{
    return detail::IsOurMarkedName(n, detail::kTempMarker);
}

std::string TemporaryNameFor(const std::string& name)
{
    return detail::MarkedNameFor(name, detail::kTempMarker);
}

std::string AsideNameFor(const std::string& name)
{
    return detail::MarkedNameFor(name, detail::kAsideMarker);
}

Result WriteFileAtomically(const std::string& path, std::string_view bytes)
{
    AtomicOutput out(path);
    if (Result r = out.Open(); !r.ok()) return r;
    if (Result r = out.Write(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        !r.ok())
        return r;
    return out.Commit();
}

} // namespace kestrawin::io
