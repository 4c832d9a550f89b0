// Throughput and peak memory of the engine and of kestrawin-cli next to raw
// RC2-CBC in OpenSSL and `openssl enc -rc2-cbc`, on the same file in the same run.
//
//   kestrawin_bench [--repeat N] [--dir FOLDER] [--cli PATH] [--chunk-kib N]
//                   [--threads N] [SIZE_MIB...]
//
// Sizes default to 1, 64 and 512 MiB; the folder to $TMPDIR or /var/tmp; the
// tool to kestrawin-cli of the same build. For each size every measurement
// runs N times (default 3), interleaved so that a slow spell of the machine
// hits all of them alike, and the median is shown. Each measurement runs in a
// child process so that its peak memory (resident set) is its own.
//
//   raw RC2-CBC       one OpenSSL context over the file in 1 MiB pieces, read
//                     from the page cache, nothing written: the cipher's speed
//   openssl enc       the OpenSSL tool, output to a file in the same folder
//   engine            EncryptSelectedFile / DecryptSelectedFile: read, cipher,
//                     write, flush to disk, rename (the input is kept)
//   kestrawin-cli     the tool with --keep: also starts up and makes key pairs
//
// "vs raw" is the row's throughput over the raw cipher's in the same direction.

#include "ops/Engine.h"
#include "crypto/PasswordKeys.h"
#include "crypto/Provider.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace kestrawin;
using namespace kestrawin::ops;
using Clock = std::chrono::steady_clock;

struct Measure {
    double seconds = 0;
    long peakKiB = 0;
    bool ok = false;
};

// Runs fn in a child; its exit status says whether it worked.
Measure InChild(const std::function<bool()>& fn)
{
    std::fflush(nullptr);
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

// Runs a program directly (no shell) with its output discarded.
bool Run(const std::vector<std::string>& args, const std::string& env = {})
{
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        if (!env.empty()) putenv(const_cast<char*>(env.c_str()));
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
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

struct Row {
    Row(std::string n, std::function<bool()> r, int raw = -1)
        : name(std::move(n)), run(std::move(r)), rawIndex(raw) {}
    std::string name;
    std::function<bool()> run;
    int rawIndex; // the raw row this one is compared with, or -1
    std::vector<Measure> runs;
};

Measure Median(std::vector<Measure> runs)
{
    std::sort(runs.begin(), runs.end(), [](const Measure& a, const Measure& b) { return a.seconds < b.seconds; });
    Measure m = runs[runs.size() / 2];
    for (const Measure& r : runs) {
        m.peakKiB = std::max(m.peakKiB, r.peakKiB);
        m.ok = m.ok && r.ok;
    }
    return m;
}

std::string DefaultCli()
{
    char self[4096] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return {};
    std::string path(self, static_cast<std::size_t>(n));
    path = path.substr(0, path.rfind('/')) + "/../cli/kestrawin-cli";
    return access(path.c_str(), X_OK) == 0 ? path : std::string{};
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::size_t> sizes;
    std::string folder = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/var/tmp";
    std::string cli = DefaultCli();
    int repeat = 3;
    OperationOptions options;
    for (int i = 1; i < argc; ++i) {
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "%s needs a value\n", argv[i]);
                std::exit(64);
            }
            return argv[++i];
        };
        if (!std::strcmp(argv[i], "--dir")) folder = value();
        else if (!std::strcmp(argv[i], "--chunk-kib")) options.chunkSize = std::strtoul(value(), nullptr, 10) * 1024;
        else if (!std::strcmp(argv[i], "--threads")) options.decryptThreads = static_cast<unsigned>(std::strtoul(value(), nullptr, 10));
        else if (!std::strcmp(argv[i], "--cli")) cli = value();
        else if (!std::strcmp(argv[i], "--repeat")) repeat = std::max(1, std::atoi(value()));
        else sizes.push_back(std::strtoul(argv[i], nullptr, 10));
    }
    if (sizes.empty()) sizes = {1, 64, 512};
    if (!cli.empty() && access(cli.c_str(), X_OK) != 0) {
        std::fprintf(stderr, "%s is not a program: no kestrawin-cli rows\n", cli.c_str());
        cli.clear();
    }

    KeyContainer keys;
    const std::string work = folder + "/kestrawin-bench-" + std::to_string(getpid());
    if (!Run({"mkdir", "-p", work}) || !KeyContainer::Acquire(work + "/keys", &keys).ok()
        || !keys.RegenerateKeyPairs().ok()) {
        std::fprintf(stderr, "cannot set up %s\n", work.c_str());
        return 1;
    }
    const std::string password = "benchmark";
    const std::string pwFile = work + "/pw";
    if (FILE* f = std::fopen(pwFile.c_str(), "w")) {
        std::fprintf(f, "%s\n", password.c_str());
        std::fclose(f);
    }
    std::printf("chunk %zu KiB, decryption on %u thread(s) (0: one per processor, %u here), "
                "median of %d\n", options.chunkSize / 1024, options.decryptThreads,
                std::thread::hardware_concurrency(), repeat);

    for (std::size_t mib : sizes) {
        const std::string plain = work + "/data.bin";
        const std::string container = plain + ".ksw";
        const std::string opensslOut = work + "/openssl.bin";
        if (!MakeFile(plain, mib) || !EncryptSelectedFile(keys, plain, password, options).ok()) return 1;
        if (!Run({"openssl", "enc", "-rc2-cbc", "-provider", "legacy", "-provider", "default", "-K",
                  "00112233445566778899aabbccddeeff", "-iv", "0000000000000000", "-in", plain, "-out",
                  opensslOut}))
            std::fprintf(stderr, "openssl enc -rc2-cbc failed: its rows will say FAILED\n");

        const std::vector<std::string> opensslEnc{"openssl", "enc", "-rc2-cbc", "-provider", "legacy",
            "-provider", "default", "-K", "00112233445566778899aabbccddeeff", "-iv", "0000000000000000"};
        auto withArgs = [](std::vector<std::string> a, std::initializer_list<std::string> more) {
            a.insert(a.end(), more);
            return a;
        };
        OperationOptions serial = options;
        serial.decryptThreads = 1;
        const std::string xdg = "XDG_DATA_HOME=" + work + "/xdg";

        std::vector<Row> rows;
        rows.emplace_back("raw RC2-CBC encrypt (OpenSSL EVP)", [&] { return RawCipher(plain, true); });
        rows.emplace_back("openssl enc -rc2-cbc", [&] {
            return Run(withArgs(opensslEnc, {"-in", plain, "-out", work + "/o1.bin"}));
        }, 0);
        rows.emplace_back("engine encrypt", [&] {
            return EncryptSelectedFile(keys, plain, password, options).ok();
        }, 0);
        if (!cli.empty())
            rows.emplace_back("kestrawin-cli encrypt", [&] {
                return Run({cli, "encrypt", "--keep", "--password-file", pwFile, plain}, xdg);
            }, 0);
        const int rawDec = static_cast<int>(rows.size());
        rows.emplace_back("raw RC2-CBC decrypt (OpenSSL EVP)", [&] { return RawCipher(container, false); });
        rows.emplace_back("openssl enc -d -rc2-cbc", [&] {
            return Run(withArgs(opensslEnc, {"-d", "-in", opensslOut, "-out", work + "/o2.bin"}));
        }, rawDec);
        rows.emplace_back("engine decrypt, 1 thread", [&] {
            return DecryptSelectedFile(container, password, serial).ok();
        }, rawDec);
        rows.emplace_back("engine decrypt", [&] {
            return DecryptSelectedFile(container, password, options).ok();
        }, rawDec);
        if (!cli.empty())
            rows.emplace_back("kestrawin-cli decrypt", [&] {
                return Run({cli, "decrypt", "--keep", "--password-file", pwFile, container}, xdg);
            }, rawDec);

        for (int r = 0; r < repeat; ++r)
            for (Row& row : rows) row.runs.push_back(InChild(row.run));

        std::printf("\n%zu MiB file in %s\n", mib, folder.c_str());
        std::printf("  %-36s %9s %9s %10s %8s\n", "", "MB/s", "seconds", "peak MiB", "vs raw");
        std::vector<Measure> medians;
        for (const Row& row : rows) medians.push_back(Median(row.runs));
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const Measure& m = medians[i];
            std::printf("  %-36s %9.1f %9.3f %10.1f", rows[i].name.c_str(), MBps(mib, m.seconds),
                        m.seconds, static_cast<double>(m.peakKiB) / 1024.0);
            if (rows[i].rawIndex >= 0)
                std::printf(" %7.1f%%", 100.0 * medians[static_cast<std::size_t>(rows[i].rawIndex)].seconds / m.seconds);
            else
                std::printf(" %8s", "");
            std::printf("%s\n", m.ok ? "" : "  FAILED");
        }
        std::fflush(stdout);
        for (const char* name : {"/data.bin", "/data.bin.ksw", "/openssl.bin", "/o1.bin", "/o2.bin"})
            std::remove((work + name).c_str());
    }
    Run({"rm", "-rf", work});
    return 0;
}
