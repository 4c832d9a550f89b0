// SPDX-License-Identifier: Apache-2.0
#include "KeyStore.h"

#include "base/Secret.h"
#include "io/FileDescriptor.h"
#include "io/PosixFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <vector>

namespace kestrawin::ops {

struct KeyContainer::Place {
    io::FileDescriptor folder;
};

namespace {

// The store holds the exchange pair, then the signature pair, each as a PKCS#8
// PEM private key.
constexpr const char* kPemEnd = "-----END PRIVATE KEY-----";

constexpr mode_t kPrivateFolder = 0700;

// Opens (creating it when missing) one folder within an open parent. A link
// is followed only on the way (`last` false) and only when it belongs to the
// user or to root; what is opened must belong to the user, or on the way to
// root. Not valid when refused.
io::FileDescriptor OpenPart(int parent, const std::string& name, bool last)
{
    const int flags = O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | (last ? O_RDONLY : O_PATH);
    io::FileDescriptor fd(openat(parent, name.c_str(), flags));
    if (!fd.valid() && errno == ENOENT) {
        if (mkdirat(parent, name.c_str(), kPrivateFolder) != 0 && errno != EEXIST) return {};
        fd.reset(openat(parent, name.c_str(), flags));
    }
    if (!fd.valid() && !last && (errno == ELOOP || errno == ENOTDIR)) {
        struct stat link {};
        if (fstatat(parent, name.c_str(), &link, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(link.st_mode)
            || (link.st_uid != geteuid() && link.st_uid != 0))
            return {};
        fd.reset(openat(parent, name.c_str(), (flags & ~O_NOFOLLOW)));
    }
    if (!fd.valid()) return {};
    struct stat st {};
    const bool owned = fstat(fd.get(), &st) == 0 && S_ISDIR(st.st_mode)
                       && (st.st_uid == geteuid() || (!last && st.st_uid == 0));
    if (!owned) return {};
    return fd;
}

// The store's folder, opened part by part from the root (or the working
// folder for a relative path) and made private; -1 when it cannot be had
// safely.
io::FileDescriptor OpenStoreFolder(const std::string& folder)
{
    std::vector<std::string> parts;
    for (std::size_t pos = 0; pos <= folder.size();) {
        const std::size_t slash = std::min(folder.find('/', pos), folder.size());
        std::string part = folder.substr(pos, slash - pos);
        if (!part.empty() && part != ".") parts.push_back(std::move(part));
        pos = slash + 1;
    }
    if (parts.empty()) return {};
    io::FileDescriptor fd(open(folder[0] == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    for (std::size_t i = 0; fd.valid() && i < parts.size(); ++i)
        fd = OpenPart(fd.get(), parts[i], i + 1 == parts.size());
    if (!fd.valid()) return {};
    struct stat st {};
    if (fstat(fd.get(), &st) != 0
        || ((st.st_mode & 07777) != kPrivateFolder && fchmod(fd.get(), kPrivateFolder) != 0))
        return {};
    return fd;
}

bool ReadSmallFile(int folderFd, const char* name, Secret* out, bool* missing)
{
    *missing = false;
    const io::FileDescriptor fd(
        openat(folderFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) {
        *missing = errno == ENOENT;
        return false;
    }
    struct stat st {};
    if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > (1 << 20)) return false;
    out->Resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < out->size()) {
        const ssize_t r = read(fd.get(), out->data() + done, out->size() - done);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        done += static_cast<std::size_t>(r);
    }
    out->Resize(done);
    return true;
}

} // namespace

std::string KeyContainer::DefaultFolder()
{
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data && data[0] == '/') return std::string(data) + "/kestrawin";
    std::string home;
    if (const char* env = std::getenv("HOME"); env && env[0] == '/') {
        home = env;
    } else {
        std::vector<char> buf(16384);
        passwd entry{};
        passwd* found = nullptr;
        if (getpwuid_r(geteuid(), &entry, buf.data(), buf.size(), &found) == 0 && found
            && found->pw_dir && found->pw_dir[0] == '/')
            home = found->pw_dir;
    }
    if (home.empty()) return {}; // memory only: never a shared folder
    return home + "/.local/share/kestrawin";
}

Result KeyContainer::Acquire(const std::string& folder, KeyContainer* out)
{
    if (Result r = crypto::ProviderAvailable(); !r.ok()) return r;

    KeyContainer store;
    io::FileDescriptor fd = folder.empty() ? io::FileDescriptor() : OpenStoreFolder(folder);
    if (!fd.valid()) {
        // A folder we cannot have safely leaves the store in memory only.
        *out = std::move(store);
        return Result::success();
    }
    store.place_ = std::make_shared<Place>(Place{std::move(fd)});
    store.path_ = folder + "/" + kKeyContainerName;

    Secret text;
    bool missing = false;
    if (!ReadSmallFile(store.place_->folder.get(), kKeyContainerName, &text, &missing)) {
        store.created_ = missing;
        store.damaged_ = !missing;
    } else {
        const std::string_view all = text.view();
        const std::size_t split = all.find(kPemEnd);
        const std::size_t cut =
            split == std::string::npos ? all.size() : split + std::strlen(kPemEnd);
        auto exchange = crypto::RsaKeyPair::FromPem(all.substr(0, cut));
        auto signature = crypto::RsaKeyPair::FromPem(all.substr(cut));
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
    auto exchange = crypto::RsaKeyPair::Generate(kKeyPairBits);
    if (!exchange) return exchange.result();
    auto signature = crypto::RsaKeyPair::Generate(kKeyPairBits);
    if (!signature) return signature.result();
    exchange_ = std::move(*exchange);
    signature_ = std::move(*signature);
    persisted_ = false;

    if (!place_)
        return Result::fail(Outcome::OutputUnwritable,
                            "no private folder for the keys; they are kept in memory");
    Secret text;
    for (const crypto::RsaKeyPair* pair : {&exchange_, &signature_}) {
        std::string pem = pair->ToPem();
        text.Append(pem);
        Wipe(pem.data(), pem.size());
    }
    // Each process writes a complete store of its own and renames it into
    // place, so processes starting together leave one of their stores whole.
    Result saved =
        io::WriteFileAtomically(place_->folder.get(), kKeyContainerName, text.view(), 0600);
    persisted_ = saved.ok();
    return saved;
}

} // namespace kestrawin::ops
