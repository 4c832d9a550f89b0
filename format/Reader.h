// SPDX-License-Identifier: Apache-2.0
#pragma once
// The container reader apart from files: everything decryption decides before
// it writes a byte, over any source of bytes. DecryptSelectedFile runs it on the
// input file; the fuzz target runs it on memory.

#include "Container.h"
#include "base/Outcome.h"

#include <string>
#include <string_view>

namespace kestrawin::format {

// Random access to a container's bytes.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    [[nodiscard]] virtual std::uint64_t size() const = 0;
    // Exactly n bytes at an offset (fewer is an error).
    [[nodiscard]] virtual Result ReadAt(std::uint64_t offset, std::uint8_t* buf, std::size_t n) = 0;
};

class MemorySource final : public ByteSource {
public:
    explicit MemorySource(crypto::ByteView bytes) : bytes_(bytes) {}
    [[nodiscard]] std::uint64_t size() const override { return bytes_.size(); }
    [[nodiscard]] Result ReadAt(std::uint64_t offset, std::uint8_t* buf, std::size_t n) override;

private:
    crypto::ByteView bytes_;
};

// What decrypting a container needs once its header, key, signature and last
// block have been checked.
struct DecryptionPlan {
    ContainerLayout layout;
    crypto::Rc2Key key;
};

// Checks the structure (damaged or not a container), then the password
// against the signature (wrong password), then finds the key recipe by the
// last block's padding (damaged). Reads only the header, the key blob, the
// signature and the last two blocks.
[[nodiscard]] Result PlanDecryption(ByteSource& source, std::string_view password,
                                    DecryptionPlan* plan);

// A whole decryption of a container held in memory, with the same outcomes
// as DecryptSelectedFile gives for the same bytes in a file.
[[nodiscard]] Result DecryptBytes(crypto::ByteView container, std::string_view password,
                                  crypto::Bytes* plain);

} // namespace kestrawin::format
