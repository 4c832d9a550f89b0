// Throughput and peak memory of the engine next to raw RC2-CBC in OpenSSL.
//
//   kestrawin_bench [SIZE_MIB...] [--dir FOLDER] [--cli PATH] [--chunk-kib N]
//
// For each size: encrypt and decrypt a file through the engine (read, cipher,
// write, flush, rename), through kestrawin-cli when given, and RC2-CBC over the
// same bytes in memory through one OpenSSL context in 1 MiB pieces, plus
// `openssl enc -rc2-cbc` on the same file. Each measurement runs in a child
// process so that its peak memory is its own.

#include "crypto/Engine.h"
#include "crypto/PasswordKeys.h"
#include "crypto/Provider.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace kestrawin;
using Clock = std::chrono::steady_clock;

struct Measure {
    double seconds = 0;
    long peakKiB = 0;
    bool ok = false;
};

// Runs fn in a child; its exit status says whether it worked.
template <typename Fn>
Measure InChild(Fn fn)
{
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) _exit(fn() ? 0 : 1);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    Measure m;
    m.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    m.peakKiB = usage.ru_maxrss;
    m.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return m;
}

bool MakeFile(const std::string& path, std::size_t mib)
{
    std::vector<std::uint8_t> buf(1 << 20);
    if (!crypto::RandomBytes(buf.data(), buf.size())) return false;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    for (std::size_t i = 0; i < mib; ++i) {
        buf[0] = static_cast<std::uint8_t>(i);
        std::fwrite(buf.data(), 1, buf.size(), f);
    }
    return std::fclose(f) == 0;
}

bool RawCipher(const std::string& path, bool encrypt)
{
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return false;
    const auto hash = crypto::Sha1({reinterpret_cast<const std::uint8_t*>("benchmark"), 9});
    crypto::Rc2Cbc cipher;
    if (!cipher.Init(crypto::DeriveRc2Key(*hash, crypto::Rc2Recipe::Strong),
                     encrypt ? crypto::Rc2Cbc::Direction::Encrypt : crypto::Rc2Cbc::Direction::Decrypt,
                     {}, /*padding=*/false))
        return false;
    // The data is read first so that only the cipher is timed... by the caller:
    // here the whole run is timed, reading from the page cache included, which
    // costs a few milliseconds per 100 MiB.
    std::vector<std::uint8_t> in(1 << 20), out((1 << 20) + 8);
    for (;;) {
        const ssize_t n = read(fd, in.data(), in.size());
        if (n <= 0) break;
        std::size_t got = 0;
        if (!cipher.Update({in.data(), static_cast<std::size_t>(n) & ~std::size_t{7}}, out.data(), &got))
            return false;
    }
    close(fd);
    return true;
}

double MBps(std::size_t mib, double seconds)
{
    return seconds > 0 ? static_cast<double>(mib) * 1.048576 / seconds : 0;
}

void Row(const char* what, std::size_t mib, const Measure& m, double reference)
{
    std::printf("  %-34s %8.1f MB/s  %7.3f s  peak %6.1f MiB", what, MBps(mib, m.seconds), m.seconds,
                static_cast<double>(m.peakKiB) / 1024.0);
    if (reference > 0) std::printf("  %5.1f%% of raw", 100.0 * reference / m.seconds);
    std::printf("%s\n", m.ok ? "" : "  FAILED");
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::size_t> sizes;
    std::string folder = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/var/tmp";
    std::string cli;
    OperationOptions options;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--dir") && i + 1 < argc) folder = argv[++i];
        else if (!std::strcmp(argv[i], "--chunk-kib") && i + 1 < argc)
            options.chunkSize = std::strtoul(argv[++i], nullptr, 10) * 1024;
        else if (!std::strcmp(argv[i], "--cli") && i + 1 < argc) cli = argv[++i];
        else sizes.push_back(std::strtoul(argv[i], nullptr, 10));
    }
    if (sizes.empty()) sizes = {256};

    KeyContainer keys;
    const std::string work = folder + "/kestrawin-bench-" + std::to_string(getpid());
    if (std::system(("mkdir -p '" + work + "'").c_str()) != 0
        || !KeyContainer::Acquire(work + "/keys", &keys).ok() || !keys.RegenerateKeyPairs().ok()) {
        std::fprintf(stderr, "cannot set up %s\n", work.c_str());
        return 1;
    }
    const std::string password = "benchmark";
    for (std::size_t mib : sizes) {
        const std::string plain = work + "/data.bin";
        const std::string container = plain + ".ksw";
        if (!MakeFile(plain, mib)) return 1;
        std::printf("%zu MiB file in %s\n", mib, folder.c_str());

        const Measure rawEnc = InChild([&] { return RawCipher(plain, true); });
        const Measure engEnc = InChild([&] { return EncryptSelectedFile(keys, plain, password, options).ok(); });
        const Measure rawDec = InChild([&] { return RawCipher(container, false); });
        const Measure engDec = InChild([&] { return DecryptSelectedFile(container, password, options).ok(); });
        Row("raw RC2-CBC encrypt (OpenSSL EVP)", mib, rawEnc, 0);
        Row("engine encrypt", mib, engEnc, rawEnc.seconds);
        Row("raw RC2-CBC decrypt (OpenSSL EVP)", mib, rawDec, 0);
        Row("engine decrypt", mib, engDec, rawDec.seconds);

        const std::string key = "-K 00112233445566778899aabbccddeeff -iv 0000000000000000";
        const std::string enc = "openssl enc -rc2-cbc -provider legacy -provider default " + key;
        const Measure opensslEnc = InChild([&] {
            return std::system((enc + " -in '" + plain + "' -out '" + work + "/o.bin'").c_str()) == 0;
        });
        const Measure opensslDec = InChild([&] {
            return std::system((enc + " -d -in '" + work + "/o.bin' -out /dev/null").c_str()) == 0;
        });
        Row("openssl enc -rc2-cbc (encrypt)", mib, opensslEnc, 0);
        Row("openssl enc -rc2-cbc -d (decrypt)", mib, opensslDec, 0);
        if (!cli.empty()) {
            const std::string pw = work + "/pw";
            std::system(("echo " + password + " > '" + pw + "'").c_str());
            const std::string env = "XDG_DATA_HOME='" + work + "/xdg' ";
            const Measure cliEnc = InChild([&] {
                return std::system((env + cli + " encrypt --keep --password-file '" + pw + "' '" + plain + "'").c_str()) == 0;
            });
            const Measure cliDec = InChild([&] {
                return std::system((env + cli + " decrypt --keep --password-file '" + pw + "' '" + container + "'").c_str()) == 0;
            });
            Row("kestrawin-cli encrypt", mib, cliEnc, rawEnc.seconds);
            Row("kestrawin-cli decrypt", mib, cliDec, rawDec.seconds);
        }
        std::remove(plain.c_str());
        std::remove(container.c_str());
        std::remove((work + "/o.bin").c_str());
    }
    std::system(("rm -rf '" + work + "'").c_str());
    return 0;
}
