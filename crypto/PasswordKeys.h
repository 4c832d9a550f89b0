// SPDX-License-Identifier: Apache-2.0
#pragma once
// From a password to the bytes that are hashed, the SHA-1 value that is signed
// and the RC2 key that encrypts. Containers made on Windows hashed the password
// in the system's ANSI code page, so the encoding matters byte for byte.

#include "Provider.h"
#include "base/Secret.h"

#include <string>
#include <string_view>
#include <vector>

namespace kestrawin::crypto {

// Windows-1252 bytes of a UTF-8 text, or nothing when a character has no
// Windows-1252 byte (or the text is not valid UTF-8).
[[nodiscard]] std::optional<Secret> ToWindows1252(std::string_view utf8);

// The bytes to hash when encrypting: Windows-1252 when every character has a
// byte there, otherwise UTF-8. A text that is not valid UTF-8 is taken as it is.
[[nodiscard]] Secret PasswordBytesForEncryption(std::string_view utf8);

// The byte strings a container's password may have been hashed from, most
// likely first and without repeats: Windows-1252, UTF-8, then other Windows
// code pages in use on Windows systems (Central European, Cyrillic).
[[nodiscard]] std::vector<Secret> PasswordCandidates(std::string_view utf8);

[[nodiscard]] bool IsValidUtf8(std::string_view text);

// Number of characters (code points) of a UTF-8 text; bytes when not valid UTF-8.
[[nodiscard]] std::size_t CharacterCount(std::string_view utf8);

// How the Windows provider turns a SHA-1 value into an RC2 key.
enum class Rc2Recipe {
    Strong,    // first 16 bytes of the hash, 128 effective bits
    Base,      // first 5 bytes then 11 zero bytes, 40 effective bits
    OldStrong, // first 16 bytes at 40 effective bits (very old Strong systems)
};

[[nodiscard]] Rc2Key DeriveRc2Key(const Sha1Digest& hash, Rc2Recipe recipe);

// The recipes to try for a container whose signature key has this many bits,
// most likely first: the key size decides first, since a padding check alone
// accepts a wrong key about once in 256.
[[nodiscard]] std::vector<Rc2Recipe> RecipesForKeyBits(std::uint32_t bits);

} // namespace kestrawin::crypto
