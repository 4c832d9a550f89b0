// SPDX-License-Identifier: Apache-2.0
#pragma once
// The containers made by the Windows provider, read from their JSON sidecars
// (tests/data/vectors/*.json): the one place their passwords and plaintexts
// are written down. The tests and the fuzzer both load them from here.

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace kwtest {

struct WindowsVector {
    std::string name;      // the sidecar's name without ".json", e.g. "v05_text"
    std::string container; // file name of the container, beside the sidecar
    std::string password;  // UTF-8
    std::string plaintext; // file name of the plaintext, beside the sidecar
    std::uint64_t plaintextSize = 0;
    std::string passwordCp1252Hex; // the bytes that were hashed, as Windows-1252
};

// In failure messages, a vector by its name, not its bytes.
inline void PrintTo(const WindowsVector& v, std::ostream* os)
{
    *os << v.name;
}

// The string or whole-number value of `key` in a flat JSON object; nothing
// when the key is missing or its value is of another kind.
[[nodiscard]] std::optional<std::string> JsonValue(const std::string& json, const std::string& key);

// Every sidecar in `folder`, by name. A sidecar that lacks a field fails
// loudly (the returned list is then empty and *error says which).
[[nodiscard]] std::vector<WindowsVector> LoadWindowsVectors(const std::string& folder,
                                                            std::string* error = nullptr);

// Containers written with the fixed test pair in tests/data/interop/signer.pem
// (by format::EncryptBytes on the Linux build): every build must write
// exactly these bytes for the same pair, password and plaintext. The
// plaintexts are the vectors' own.
struct SealedVector {
    std::string container; // in tests/data/interop
    std::string plaintext; // in tests/data/vectors
    std::string password;  // UTF-8
};
[[nodiscard]] const std::vector<SealedVector>& SealedVectors();

} // namespace kwtest
