// SPDX-License-Identifier: Apache-2.0
// Throughput and peak memory of our RC2, the engine and kestrawin-cli next to
// OpenSSL's RC2-CBC, `openssl enc -rc2-cbc` and a flushed write of the same
// bytes, on the same file in the same run, with the ratios the goals name.
//
//   kestrawin_bench [--repeat N] [--dir FOLDER] [--cli PATH] [--chunk-kib N]
//                   [--threads N] [--raw-only] [SIZE_MIB...]
//
// Sizes default to 64 and 512 MiB; the folder to $TMPDIR or /var/tmp; the
// tool to kestrawin-cli of the same build. For each size every measurement
// runs N times (default 3), interleaved so that a slow spell of the machine
// hits all of them alike, and the median is shown. Each measurement runs in a
// child process so that its peak memory (resident set) is its own.
//
//   raw ...           one cipher over as many bytes as the file holds, 1 MiB
//                     at a time from memory, on one core, nothing read or
//                     written: the cipher's speed. "OpenSSL EVP" is OpenSSL's RC2-CBC (legacy
//                     provider); "ours" is Rc2.h, decryption on each SIMD path
//                     the processor has
//   openssl enc       the OpenSSL tool, output to a file in the same folder
//   dd conv=fsync     writing the file's bytes to a new file and flushing it:
//                     what any whole-file operation at least costs
//   engine            EncryptSelectedFile / DecryptSelectedFile: read, cipher,
//                     write, flush to disk, rename (the input is kept)
//   kestrawin-cli     the tool with --keep: also starts up (and, to encrypt,
//                     makes key pairs)
//   ..., replacing    the same decryption where its output's name is taken
//                     by a file of the same size, which the rename replaces
//
// Every row but the last writes to a name where nothing stands, the disk is
// flushed before each run, and neither is timed.
//
// "ratio" is the row's speed over its reference row's (named after it). Raw
// rows run on one core and are compared by processor time (user + system), so
// that other work on the machine does not skew them; the other rows by
// elapsed time, since waiting for the disk is part of their cost.

#include "crypto/PasswordKeys.h"
#include "crypto/Provider.h"
#include "crypto/Rc2.h"
#include "ops/Engine.h"

#include "Measure.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
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
using kwbench::InChild;
using kwbench::Measure;
using kwbench::Median;

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

const std::uint8_t kRawKey[16] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                  0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};

// Feeds the file's size, 1 MiB at a time, to fn(in, out, bytes): the same
// first MiB of the file over and over, so that only the cipher is measured
// (reading the file would cost more than the fastest paths' work).
bool OverFile(const std::string& path,
              const std::function<bool(const std::uint8_t*, std::uint8_t*, std::size_t)>& fn)
{
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return false;
    std::vector<std::uint8_t> in(1 << 20), out((1 << 20) + 8);
    struct stat st {};
    const ssize_t got = read(fd, in.data(), in.size());
    const bool statOk = fstat(fd, &st) == 0;
    close(fd);
    if (got != static_cast<ssize_t>(in.size()) || !statOk) return false;
    for (off_t left = st.st_size; left > 0; left -= static_cast<off_t>(in.size())) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<off_t>(left, static_cast<off_t>(in.size())));
        if (!fn(in.data(), out.data(), n & ~std::size_t{7})) return false;
    }
    return true;
}

bool RawOpenSsl(const std::string& path, bool encrypt)
{
    OSSL_LIB_CTX* lib = OSSL_LIB_CTX_new();
    if (!lib || !OSSL_PROVIDER_load(lib, "legacy") || !OSSL_PROVIDER_load(lib, "default"))
        return false;
    EVP_CIPHER* rc2 = EVP_CIPHER_fetch(lib, "RC2-CBC", nullptr);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    std::size_t bits = 128;
    OSSL_PARAM params[] = {OSSL_PARAM_construct_size_t(OSSL_CIPHER_PARAM_RC2_KEYBITS, &bits),
                           OSSL_PARAM_construct_end()};
    const std::uint8_t iv[8] = {};
    const int enc = encrypt ? 1 : 0;
    if (!rc2 || !ctx || !EVP_CipherInit_ex2(ctx, rc2, nullptr, nullptr, enc, nullptr)
        || !EVP_CIPHER_CTX_set_key_length(ctx, 16) || !EVP_CIPHER_CTX_set_params(ctx, params)
        || !EVP_CipherInit_ex2(ctx, nullptr, kRawKey, iv, enc, nullptr)
        || !EVP_CIPHER_CTX_set_padding(ctx, 0))
        return false;
    return OverFile(path, [&](const std::uint8_t* in, std::uint8_t* out, std::size_t n) {
        int got = 0;
        return EVP_CipherUpdate(ctx, out, &got, in, static_cast<int>(n)) == 1;
    });
}

bool RawOurs(const std::string& path, bool encrypt, crypto::rc2::Path decryptPath)
{
    crypto::rc2::Schedule schedule;
    if (!crypto::rc2::ExpandKey(kRawKey, 128, &schedule)) return false;
    std::uint8_t iv[8] = {};
    return OverFile(path, [&](const std::uint8_t* in, std::uint8_t* out, std::size_t n) {
        if (encrypt)
            crypto::rc2::CbcEncrypt(schedule, iv, in, out, n / 8);
        else
            crypto::rc2::CbcDecrypt(schedule, iv, in, out, n / 8, decryptPath);
        return true;
    });
}

double MBps(std::size_t mib, double seconds)
{
    return seconds > 0 ? static_cast<double>(mib) * 1.048576 / seconds : 0;
}

struct Row {
    Row(std::string n, std::function<bool()> r, int raw = -1)
        : name(std::move(n)), run(std::move(r)), rawIndex(raw), byCpu(name.rfind("raw", 0) == 0)
    {}
    std::string name;
    std::function<bool()> run;
    std::function<void()> prepare; // before each run, not timed
    int rawIndex;                  // the row this one is compared with, or -1
    bool byCpu;                    // measured by processor time
    std::vector<Measure> runs;
};

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
    bool rawOnly = false;
    OperationOptions options;
    for (int i = 1; i < argc; ++i) {
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "%s needs a value\n", argv[i]);
                std::exit(64);
            }
            return argv[++i];
        };
        if (!std::strcmp(argv[i], "--dir"))
            folder = value();
        else if (!std::strcmp(argv[i], "--chunk-kib"))
            options.chunkSize = std::strtoul(value(), nullptr, 10) * 1024;
        else if (!std::strcmp(argv[i], "--threads"))
            options.decryptThreads = static_cast<unsigned>(std::strtoul(value(), nullptr, 10));
        else if (!std::strcmp(argv[i], "--cli"))
            cli = value();
        else if (!std::strcmp(argv[i], "--repeat"))
            repeat = std::max(1, std::atoi(value()));
        else if (!std::strcmp(argv[i], "--raw-only"))
            rawOnly = true;
        else
            sizes.push_back(std::strtoul(argv[i], nullptr, 10));
    }
    if (sizes.empty()) sizes = {64, 512};
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
                "median of %d\n",
                options.chunkSize / 1024, options.decryptThreads,
                std::thread::hardware_concurrency(), repeat);

    for (std::size_t mib : sizes) {
        const std::string plain = work + "/data.bin";
        const std::string container = plain + ".ksw";
        const std::string opensslOut = work + "/openssl.bin";
        // The decryption rows' own container, so that its plain name is free.
        const std::string unsealed = work + "/sealed.bin";
        const std::string sealed = unsealed + ".ksw";
        if (!MakeFile(plain, mib) || !EncryptSelectedFile(keys, plain, password, options).ok()
            || std::rename(container.c_str(), sealed.c_str()) != 0)
            return 1;
        if (!Run({"openssl", "enc", "-rc2-cbc", "-provider", "legacy", "-provider", "default", "-K",
                  "00112233445566778899aabbccddeeff", "-iv", "0000000000000000", "-in", plain,
                  "-out", opensslOut}))
            std::fprintf(stderr, "openssl enc -rc2-cbc failed: its rows will say FAILED\n");

        const std::vector<std::string> opensslEnc{"openssl",
                                                  "enc",
                                                  "-rc2-cbc",
                                                  "-provider",
                                                  "legacy",
                                                  "-provider",
                                                  "default",
                                                  "-K",
                                                  "00112233445566778899aabbccddeeff",
                                                  "-iv",
                                                  "0000000000000000"};
        auto withArgs = [](std::vector<std::string> a, std::initializer_list<std::string> more) {
            a.insert(a.end(), more);
            return a;
        };
        OperationOptions serial = options;
        serial.decryptThreads = 1;
        const std::string xdg = "XDG_DATA_HOME=" + work + "/xdg";
        namespace rc2 = crypto::rc2;

        std::vector<Row> rows;
        auto add = [&](std::string name, std::function<bool()> run, int reference = -1) {
            rows.emplace_back(std::move(name), std::move(run), reference);
            return static_cast<int>(rows.size()) - 1;
        };
        const int evpEnc = add("raw encrypt, OpenSSL EVP", [&] { return RawOpenSsl(plain, true); });
        const int oursEnc = add(
            "raw encrypt, ours", [&] { return RawOurs(plain, true, rc2::Path::Scalar); }, evpEnc);
        const int evpDec =
            add("raw decrypt, OpenSSL EVP", [&] { return RawOpenSsl(opensslOut, false); });
        std::vector<std::pair<rc2::Path, int>> pathRows;
        for (rc2::Path path : rc2::kAllPaths)
            if (rc2::PathAvailable(path))
                pathRows.emplace_back(
                    path, add(
                              std::string("raw decrypt, ours, ") + rc2::PathName(path),
                              [&, path] { return RawOurs(opensslOut, false, path); }, evpDec));
        int sslEnc = -1, cliEnc = -1, dd = -1, cliDec = -1;
        if (!rawOnly) {
            // Every output is written where nothing stands, as a decryption
            // normally does: replacing a file also costs freeing the old one's
            // blocks when the rename is flushed, which the last row shows.
            auto fresh = [](std::string path) { return [path] { std::remove(path.c_str()); }; };
            sslEnc = add("openssl enc -rc2-cbc", [&] {
                return Run(withArgs(opensslEnc, {"-in", plain, "-out", work + "/o1.bin"}));
            });
            rows.back().prepare = fresh(work + "/o1.bin");
            add(
                "engine encrypt",
                [&] { return EncryptSelectedFile(keys, plain, password, options).ok(); }, sslEnc);
            rows.back().prepare = fresh(container);
            if (!cli.empty()) {
                cliEnc = add(
                    "kestrawin-cli encrypt",
                    [&] {
                        return Run({cli, "encrypt", "--keep", "--password-file", pwFile, plain},
                                   xdg);
                    },
                    sslEnc);
                rows.back().prepare = fresh(container);
            }
            dd = add("dd conv=fsync (same bytes)", [&] {
                return Run({"dd", "if=" + plain, "of=" + work + "/dd.bin", "bs=1M", "conv=fsync",
                            "status=none"});
            });
            rows.back().prepare = fresh(work + "/dd.bin");
            add(
                "openssl enc -d -rc2-cbc",
                [&] {
                    return Run(
                        withArgs(opensslEnc, {"-d", "-in", opensslOut, "-out", work + "/o2.bin"}));
                },
                dd);
            rows.back().prepare = fresh(work + "/o2.bin");
            add(
                "engine decrypt, 1 thread",
                [&] { return DecryptSelectedFile(sealed, password, serial).ok(); }, dd);
            rows.back().prepare = fresh(unsealed);
            add(
                "engine decrypt",
                [&] { return DecryptSelectedFile(sealed, password, options).ok(); }, dd);
            rows.back().prepare = fresh(unsealed);
            if (!cli.empty()) {
                auto decrypt = [&] {
                    return Run({cli, "decrypt", "--keep", "--password-file", pwFile, sealed}, xdg);
                };
                cliDec = add("kestrawin-cli decrypt", decrypt, dd);
                rows.back().prepare = fresh(unsealed);
                add("kestrawin-cli decrypt, replacing", decrypt, dd);
                rows.back().prepare = [&] {
                    if (access(unsealed.c_str(), F_OK) != 0) Run({"cp", plain, unsealed});
                };
            }
        }

        for (int r = 0; r < repeat; ++r)
            for (Row& row : rows) {
                if (row.prepare) row.prepare();
                // Nothing of an earlier row's writing is left for this one to wait for.
                sync();
                row.runs.push_back(InChild(row.run));
            }

        std::printf("\n%zu MiB file in %s\n", mib, folder.c_str());
        std::printf("  %-34s %9s %9s %9s %9s %7s  %s\n", "", "MB/s", "seconds", "cpu MB/s",
                    "peak MiB", "ratio", "against");
        std::vector<Measure> medians;
        for (const Row& row : rows) medians.push_back(Median(row.runs));
        auto ratio = [&](int row, int reference) {
            const Measure& a = medians[static_cast<std::size_t>(row)];
            const Measure& b = medians[static_cast<std::size_t>(reference)];
            return rows[static_cast<std::size_t>(row)].byCpu ? b.cpuSeconds / a.cpuSeconds
                                                             : b.seconds / a.seconds;
        };
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const Measure& m = medians[i];
            std::printf("  %-34s %9.1f %9.3f %9.1f %9.1f", rows[i].name.c_str(),
                        MBps(mib, m.seconds), m.seconds, MBps(mib, m.cpuSeconds),
                        static_cast<double>(m.peakKiB) / 1024.0);
            if (rows[i].rawIndex >= 0)
                std::printf(" %6.2fx  %s", ratio(static_cast<int>(i), rows[i].rawIndex),
                            rows[static_cast<std::size_t>(rows[i].rawIndex)].name.c_str());
            std::printf("%s\n", m.ok ? "" : "  FAILED");
        }
        // The goals, as ratios of this run.
        auto goal = [](const char* what, double value, const char* op, double target) {
            const bool met = op[0] == '>' ? value >= target : value <= target;
            std::printf("  goal: %-58s %6.2f %s %.2f  %s\n", what, value, op, target,
                        met ? "met" : "MISSED");
        };
        goal("raw encryption, ours over OpenSSL EVP", ratio(oursEnc, evpEnc), ">=", 1.5);
        for (const auto& [path, row] : pathRows) {
            if (path != rc2::Path::Sse2 && path != rc2::Path::Avx2) continue;
            const std::string what =
                std::string("raw decryption on one core, ") + rc2::PathName(path) + " over EVP";
            goal(what.c_str(), ratio(row, evpDec), ">=", path == rc2::Path::Sse2 ? 5.0 : 10.0);
        }
        if (cliDec >= 0)
            goal("kestrawin-cli decrypt time over the flushed write's", 1.0 / ratio(cliDec, dd),
                 "<=", 1.3);
        if (cliEnc >= 0)
            goal("kestrawin-cli encrypt speed over openssl enc's", ratio(cliEnc, sslEnc),
                 ">=", 1.4);
        if (!rawOnly) {
            long peak = 0;
            for (std::size_t i = 0; i < rows.size(); ++i)
                if (rows[i].name.rfind("engine", 0) == 0
                    || rows[i].name.rfind("kestrawin-cli", 0) == 0)
                    peak = std::max(peak, medians[i].peakKiB);
            goal("peak memory of the engine and kestrawin-cli, MiB",
                 static_cast<double>(peak) / 1024.0, "<=", 16.0);
        }
        std::fflush(stdout);
        for (const char* name : {"/data.bin", "/data.bin.ksw", "/openssl.bin", "/o1.bin", "/o2.bin",
                                 "/dd.bin", "/sealed.bin", "/sealed.bin.ksw"})
            std::remove((work + name).c_str());
    }
    Run({"rm", "-rf", work});
    return 0;
}
