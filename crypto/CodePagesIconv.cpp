// SPDX-License-Identifier: Apache-2.0
// Windows code pages on Linux, through iconv.
#include "detail/Platform.h"

#include <iconv.h>

#include <string>

namespace kestrawin::crypto::detail {
namespace {

// An iconv conversion descriptor, closed when dropped.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter()
    {
        if (valid()) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    [[nodiscard]] bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    [[nodiscard]] iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

} // namespace

std::optional<Secret> EncodeInCodePage(std::string_view utf8, unsigned codePage)
{
    const std::string charset = "CP" + std::to_string(codePage);
    const Converter converter(charset.c_str(), "UTF-8");
    if (!converter.valid()) return std::nullopt;
    Secret in(utf8);
    Secret out;
    out.Resize(in.size() * 4 + 4);
    char* inPtr = in.data();
    std::size_t inLeft = in.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    const std::size_t r = iconv(converter.get(), &inPtr, &inLeft, &outPtr, &outLeft);
    if (r == static_cast<std::size_t>(-1) || inLeft != 0) return std::nullopt;
    out.Resize(out.size() - outLeft);
    return out;
}

} // namespace kestrawin::crypto::detail
