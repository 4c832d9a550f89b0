#include "Engine.h"
#include "Stream.h"

#include "crypto/ParallelCbc.h"
#include "crypto/PasswordKeys.h"
#include "format/Reader.h"

#include <algorithm>

namespace kestrawin::ops {

using namespace crypto;

std::string PlainNameOf(const std::string& path)
{
    // Four characters off the end; a character is a UTF-8 sequence when the
    // path is valid UTF-8, so a name is never cut inside a letter.
    const bool utf8 = IsValidUtf8(path);
    std::size_t end = path.size();
    for (int removed = 0; removed < 4; ++removed) {
        if (end == 0) return {};
        --end;
        while (utf8 && end > 0 && (static_cast<unsigned char>(path[end]) & 0xC0) == 0x80) --end;
    }
    std::string plain = path.substr(0, end);
    const std::size_t slash = plain.rfind('/');
    const std::string last = slash == std::string::npos ? plain : plain.substr(slash + 1);
    if (last.empty() || last == "." || last == "..") return {};
    return plain;
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

Result DecryptSelectedFile(const std::string& path, const std::string& password,
                           const OperationOptions& options)
{
    std::string error;
    if (!ProviderAvailable(&error)) return Result::fail(Outcome::CryptoFailure, error);

    io::InputFile in;
    if (Result r = in.Open(path); !r.ok()) return r;
    const std::string target = PlainNameOf(path);
    if (target.empty()) return Result::fail(Outcome::NoOutputName);

    FileSource source(in);
    format::DecryptionPlan plan;
    if (Result r = format::PlanDecryption(source, password, &plan); !r.ok()) return r;

    ParallelCbcDecryptor cipher;
    if (!cipher.Init(plan.key, options.decryptThreads))
        return Result::fail(Outcome::CryptoFailure, "cannot set up RC2");
    io::AtomicOutput out(target, options.diskHook);
    if (Result r = out.Open(in.permissions()); !r.ok()) return r;
    if (Result r = in.Seek(plan.layout.ciphertextOffset); !r.ok()) return r;
    if (Result r = Pump(in, plan.layout.ciphertextLength, cipher, out, options,
                                Outcome::DamagedContainer);
        !r.ok())
        return r;
    return out.Commit();
}

Result RemoveInputFile(const std::string& path, const io::DiskHook& diskHook)
{
    return io::RemoveDurably(path, diskHook);
}

} // namespace kestrawin::ops
