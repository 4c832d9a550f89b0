// SPDX-License-Identifier: Apache-2.0
#include "Engine.h"
#include "Stream.h"

#include "crypto/ParallelCbc.h"
#include "crypto/PasswordKeys.h"
#include "format/Reader.h"

#include <algorithm>
#include <utility>

namespace kestrawin::ops {

using namespace crypto;

std::string PlainNameOf(const std::string& path)
{
    // Four characters off the end of the file name alone; a character is a
    // UTF-8 sequence when the name is valid UTF-8, so a name is never cut
    // inside a letter.
    const std::size_t start = io::NameStart(path);
    const std::string_view name = std::string_view(path).substr(start);
    const bool utf8 = IsValidUtf8(name);
    std::size_t end = name.size();
    for (int removed = 0; removed < 4; ++removed) {
        if (end == 0) return {};
        --end;
        while (utf8 && end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
    }
    const std::string_view last = name.substr(0, end);
    if (last.empty() || last == "." || last == "..") return {};
    return path.substr(0, start + end);
}

namespace {

class FileSource final : public format::ByteSource {
public:
    explicit FileSource(io::InputFile& file) : file_(file) {}
    std::uint64_t size() const override { return file_.size(); }
    Result ReadAt(std::uint64_t offset, std::uint8_t* buf, std::size_t n) override
    {
        return file_.ReadAt(offset, buf, n);
    }

private:
    io::InputFile& file_;
};

} // namespace

Result DecryptSelectedFile(const std::string& path, const Secret& password,
                           const OperationOptions& options, io::InputFile* input)
{
    if (Result r = ProviderAvailable(); !r.ok()) return r;

    io::InputFile in;
    if (Result r = in.Open(path); !r.ok()) return r;
    const std::string target = PlainNameOf(in.name());
    if (target.empty()) return Result::fail(Outcome::NoOutputName);

    FileSource source(in);
    format::DecryptionPlan plan;
    const WipeOnExit wipePlan(plan);
    if (Result r = format::PlanDecryption(source, password.view(), &plan); !r.ok()) return r;

    ParallelCbcDecryptor cipher;
    if (!cipher.Init(plan.key, options.decryptThreads))
        return Result::fail(Outcome::CryptoFailure, "cannot set up RC2");
    // Beside the input, in the folder it was opened in.
    io::AtomicOutput out(in.folder(), target, options.diskHook);
    out.TakeTraitsOf(in);
    if (Result r = out.Open(); !r.ok()) return r;
    if (Result r = in.Seek(plan.layout.ciphertextOffset); !r.ok()) return r;
    if (Result r =
            Pump(in, plan.layout.ciphertextLength, cipher, out, options, Outcome::DamagedContainer);
        !r.ok())
        return r;
    return Finish(out, in, input);
}

Result RemoveInputFile(io::InputFile& input, std::uint64_t* otherNames,
                       const io::DiskHook& diskHook)
{
    return input.RemoveIfUnchanged(otherNames, diskHook);
}

} // namespace kestrawin::ops
