#include "KeyStore.h"

#include "io/SafeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kestrawin::ops {
namespace {

// The store holds the exchange pair, then the signature pair, each as a PKCS#8
// PEM private key.
constexpr const char* kPemEnd = "-----END PRIVATE KEY-----";

bool MakeFolders(const std::string& folder)
{
    // Create every missing parent (0700 for the last, as the user's own data).
    for (std::size_t pos = 1; pos <= folder.size(); ++pos) {
        if (pos != folder.size() && folder[pos] != '/') continue;
        const std::string part = folder.substr(0, pos);
        const mode_t mode = pos == folder.size() ? 0700 : 0755;
        if (mkdir(part.c_str(), mode) != 0 && errno != EEXIST) return false;
    }
    struct stat st{};
    if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    if ((st.st_mode & 0777) != 0700 && st.st_uid == geteuid()) chmod(folder.c_str(), 0700);
    return true;
}

bool ReadSmallFile(const std::string& path, std::string* out, bool* missing)
{
    *missing = false;
    const io::FileDescriptor fd(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) {
        *missing = errno == ENOENT;
        return false;
    }
    struct stat st{};
    if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > (1 << 20)) return false;
    out->resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < out->size()) {
        const ssize_t r = read(fd.get(), out->data() + done, out->size() - done);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        done += static_cast<std::size_t>(r);
    }
    out->resize(done);
    return true;
}

} // namespace

std::string KeyContainer::DefaultFolder()
{
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data && data[0] == '/') return std::string(data) + "/kestrawin";
    const char* home = std::getenv("HOME");
    return std::string(home && home[0] ? home : "/tmp") + "/.local/share/kestrawin";
}

Result KeyContainer::Acquire(const std::string& folder, KeyContainer* out)
{
    std::string error;
    if (!crypto::ProviderAvailable(&error)) return Result::fail(Outcome::CryptoFailure, error);

    KeyContainer store;
    store.path_ = folder + "/" + kKeyContainerName;
    MakeFolders(folder); // a folder we cannot make leaves the store in memory only

    std::string text;
    bool missing = false;
    if (!ReadSmallFile(store.path_, &text, &missing)) {
        store.created_ = missing;
        store.damaged_ = !missing;
    } else {
        const std::size_t split = text.find(kPemEnd);
        const std::size_t cut = split == std::string::npos ? text.size() : split + std::strlen(kPemEnd);
        auto exchange = crypto::RsaKeyPair::FromPem(std::string_view(text).substr(0, cut));
        auto signature = crypto::RsaKeyPair::FromPem(std::string_view(text).substr(cut));
        if (exchange && signature) {
            store.exchange_ = std::move(*exchange);
            store.signature_ = std::move(*signature);
            store.persisted_ = true;
        } else {
            store.damaged_ = true;
        }
    }
    *out = std::move(store);
    return Result::success();
}

Result KeyContainer::RegenerateKeyPairs()
{
    std::string error;
    auto exchange = crypto::RsaKeyPair::Generate(kKeyPairBits, &error);
    auto signature = exchange ? crypto::RsaKeyPair::Generate(kKeyPairBits, &error) : std::nullopt;
    if (!exchange || !signature) return Result::fail(Outcome::CryptoFailure, error);
    exchange_ = std::move(*exchange);
    signature_ = std::move(*signature);
    persisted_ = false;

    const std::string text = exchange_.ToPem() + signature_.ToPem();
    // Each process writes a complete store of its own and renames it into
    // place, so processes starting together leave one of their stores whole.
    Result saved = io::WriteFileAtomically(path_, text, 0600);
    persisted_ = saved.ok();
    return saved;
}

} // namespace kestrawin::ops
