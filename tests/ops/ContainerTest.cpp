// SPDX-License-Identifier: Apache-2.0
// Encryption and decryption end to end on real files.

#include "Fixtures.h"
#include "Vectors.h"

#include "crypto/PasswordKeys.h"
#include "format/Container.h"

using namespace kestrawin;
using namespace kestrawin::ops;
using namespace kwtest;

namespace {

Path Vectors()
{
    return FromUtf8(KESTRAWIN_VECTORS_DIR);
}

std::vector<WindowsVector> AllVectors()
{
    std::string error;
    auto vectors = LoadWindowsVectors(Vectors(), &error);
    EXPECT_EQ(error, "");
    EXPECT_GE(vectors.size(), 6u) << "the vectors' sidecars are missing";
    return vectors;
}

} // namespace

class WindowsContainers : public ScratchTest,
                          public ::testing::WithParamInterface<WindowsVector> {};

TEST_P(WindowsContainers, DecryptToTheirPlaintext)
{
    const WindowsVector v = GetParam();
    const Path container = dir / "file.txt.ksw";
    fs::copy_file(Vectors() / v.container, container);

    // The same letters in another case are another password: nothing is written.
    std::string upper = v.password;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper != v.password) {
        EXPECT_EQ(DecryptSelectedFile(container, upper).outcome, Outcome::WrongPassword);
        EXPECT_EQ(Listing(dir), std::vector<std::string>{"file.txt.ksw"});
    }

    EXPECT_EQ(DecryptSelectedFile(container, "wrong!").outcome, Outcome::WrongPassword);

    const Result r = DecryptSelectedFile(container, v.password);
    ASSERT_TRUE(r.ok()) << DescribeResult(r);
    EXPECT_EQ(ReadFile(dir / "file.txt"), ReadFile(Vectors() / v.plaintext));
    EXPECT_EQ(fs::file_size(dir / "file.txt"), v.plaintextSize);
    EXPECT_TRUE(fs::exists(container)); // deleting the input is the caller's business
}

INSTANTIATE_TEST_SUITE_P(Vectors, WindowsContainers, ::testing::ValuesIn(AllVectors()),
                         [](const auto& test) { return test.param.name; });

class RoundTrip : public ScratchTest, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(RoundTrip, GivesBackTheFileWithTheWindowsLayout)
{
    const std::size_t size = GetParam();
    const std::string data = RandomBytes(size, static_cast<unsigned>(size));
    const Path plain = dir / "My file é.txt";
    WriteFile(plain, data);

    ASSERT_TRUE(EncryptSelectedFile(SharedKeys(), plain, "secret password").ok());
    const Path container = dir / "My file é.txt.ksw";
    const std::string bytes = ReadFile(container);
    ASSERT_GE(bytes.size(), 16u + 148 + 128);
    EXPECT_EQ(bytes.substr(0, 8), "KSW01001");
    const auto header = format::ParseHeader(
        crypto::ByteView(reinterpret_cast<const std::uint8_t*>(bytes.data()), 16));
    EXPECT_EQ(header->keyBlobLength, 148);
    EXPECT_EQ(header->signatureLength, 128);
    EXPECT_EQ(bytes.size() - 16 - 148 - 128, 8 * (size / 8 + 1));

    fs::remove(plain);
    ASSERT_TRUE(DecryptSelectedFile(container, "secret password").ok());
    EXPECT_EQ(ReadFile(plain), data);
}

INSTANTIATE_TEST_SUITE_P(Sizes, RoundTrip, ::testing::Values(0, 1, 7, 8, 9, 3 * 1024 * 1024 + 5));

class Operations : public ScratchTest {};

TEST_F(Operations, ChunkedEncryptionEqualsOneWholeFileCall)
{
    const std::string data = RandomBytes(100000, 3);
    WriteFile(dir / "in", data);
    std::string reference;
    for (std::size_t chunk :
         {std::size_t{1} << 20, std::size_t{8}, std::size_t{13}, std::size_t{4096}}) {
        OperationOptions options;
        options.chunkSize = chunk;
        ASSERT_TRUE(EncryptSelectedFile(SharedKeys(), dir / "in", "pw123456", options).ok());
        const std::string out = ReadFile(dir / "in.ksw");
        if (reference.empty()) reference = out;
        EXPECT_EQ(out, reference) << "chunk " << chunk;
    }
    // And the ciphertext is the one-call RC2-CBC of the whole file.
    const auto hash =
        crypto::Sha1(crypto::ByteView(reinterpret_cast<const std::uint8_t*>("pw123456"), 8));
    crypto::Rc2Cbc cipher;
    ASSERT_TRUE(cipher.Init(crypto::DeriveRc2Key(*hash, crypto::Rc2Recipe::Strong),
                            crypto::Rc2Cbc::Direction::Encrypt));
    std::string whole(data.size() + 8, '\0');
    std::size_t a = 0, b = 0;
    ASSERT_TRUE(cipher.Update({reinterpret_cast<const std::uint8_t*>(data.data()), data.size()},
                              reinterpret_cast<std::uint8_t*>(whole.data()), &a));
    ASSERT_TRUE(cipher.Final(reinterpret_cast<std::uint8_t*>(whole.data()) + a, &b));
    whole.resize(a + b);
    EXPECT_EQ(reference.substr(16 + 148 + 128), whole);
}

// For a given pair, a file gets the very bytes every build writes (small
// chunks, so the stream's seams fall inside the plaintexts).
TEST_F(Operations, FilesGetTheBytesEveryBuildWritesForTheSamePair)
{
    const std::string pem = ReadFile(fs::path(KESTRAWIN_INTEROP_DIR) / "signer.pem");
    auto exchange = crypto::RsaKeyPair::FromPem(pem), signature = crypto::RsaKeyPair::FromPem(pem);
    ASSERT_TRUE(exchange && signature);
    const KeyContainer keys = KeyContainer::WithPairs(std::move(*exchange), std::move(*signature));
    OperationOptions options;
    options.chunkSize = 5;
    for (const SealedVector& v : SealedVectors()) {
        fs::copy_file(Vectors() / v.plaintext, dir / "f", fs::copy_options::overwrite_existing);
        ASSERT_TRUE(EncryptSelectedFile(keys, dir / "f", v.password, options).ok());
        EXPECT_TRUE(ReadFile(dir / "f.ksw")
                    == ReadFile(fs::path(KESTRAWIN_INTEROP_DIR) / v.container))
            << v.container;
    }
}

TEST_F(Operations, PasswordsHashedInOtherEncodingsAreFound)
{
    WriteFile(dir / "a", "alpha");
    // Non-Windows-1252 letters: written as UTF-8.
    ASSERT_TRUE(EncryptSelectedFile(SharedKeys(), dir / "a", "пароль密码").ok());
    ASSERT_TRUE(DecryptSelectedFile(dir / "a.ksw", "пароль密码").ok());
    EXPECT_EQ(ReadFile(dir / "a"), "alpha");
    // "Ã©" in Windows-1252 is the UTF-8 of "é": a container hashed over UTF-8,
    // as a build that did not convert would have made it.
    ASSERT_TRUE(EncryptSelectedFile(SharedKeys(), dir / "a", "Ã©").ok());
    EXPECT_TRUE(DecryptSelectedFile(dir / "a.ksw", "é").ok());
    // "ïàðîëü" in Windows-1252 has the bytes of "пароль" in Windows-1251 (Cyrillic Windows).
    ASSERT_TRUE(EncryptSelectedFile(SharedKeys(), dir / "a", "ïàðîëü").ok());
    EXPECT_TRUE(DecryptSelectedFile(dir / "a.ksw", "пароль").ok());
}

// Every file in tests/data/bad is named after the outcome it must give.
TEST_F(Operations, BadContainersGiveTheirLabelledOutcome)
{
    const std::string text = ReadFile(Vectors() / "text.plain");
    int seen = 0;
    for (const auto& entry : fs::directory_iterator(KESTRAWIN_BAD_DIR)) {
        const std::string name = Utf8(entry.path().filename());
        const std::string label = name.substr(0, name.find("--"));
        const Path container = dir / "file.ksw";
        fs::copy_file(entry.path(), container, fs::copy_options::overwrite_existing);
        const Result r = DecryptSelectedFile(container, "éèàç€ÿ");
        SCOPED_TRACE(name + ": " + DescribeResult(r));
        if (label == "ok") {
            EXPECT_TRUE(r.ok());
            EXPECT_EQ(ReadFile(dir / "file"), text);
            fs::remove(dir / "file");
        } else {
            const Outcome expected = label == "damaged"         ? Outcome::DamagedContainer
                                     : label == "not-container" ? Outcome::NotContainer
                                                                : Outcome::WrongPassword;
            EXPECT_EQ(r.outcome, expected);
        }
        EXPECT_EQ(Listing(dir), std::vector<std::string>{"file.ksw"}); // nothing written
        EXPECT_EQ(ReadFile(container), ReadFile(entry.path()));
        ++seen;
    }
    EXPECT_GE(seen, 20);
}

TEST_F(Operations, ANameWithNoRoomForTheExtensionIsSaidToBeTooLong)
{
    // The longest name the folder allows: ".ksw" makes it four too long.
    const std::string name(255, 'n');
    WriteFile(dir / name, "plain");
    const Result r = EncryptSelectedFile(SharedKeys(), dir / name, "password1");
    EXPECT_EQ(r.outcome, Outcome::NameTooLong) << DescribeResult(r);
    EXPECT_EQ(OutcomeReason(r.outcome), "the file name is too long");
    EXPECT_EQ(Listing(dir), std::vector<std::string>{name});
    EXPECT_EQ(OutcomeReason(Outcome::InputMissing), "the file does not exist");
}

TEST(PlainName, DropsTheLastFourCharactersWhateverTheyAre)
{
    EXPECT_EQ(PlainNameOf("/a/report.pdf.ksw"), "/a/report.pdf");
    EXPECT_EQ(PlainNameOf("/a/report.KSW"), "/a/report");
    EXPECT_EQ(PlainNameOf("/a/reportabcd"), "/a/report");
    EXPECT_EQ(PlainNameOf("/a/reportéàüö"), "/a/report"); // characters, not bytes
    EXPECT_EQ(PlainNameOf("x.ksw"), "x");
    EXPECT_EQ(PlainNameOf("abcd"), "");
    EXPECT_EQ(PlainNameOf("a.b"), "");
    EXPECT_EQ(PlainNameOf("/a/.ksw"), "");
    EXPECT_EQ(PlainNameOf("/a/..ksw"), "");
    EXPECT_EQ(ContainerNameOf("/a/b.txt"), "/a/b.txt.ksw");
}

TEST(PlainName, NeverCutsIntoTheFolder)
{
    for (const char* path : {"d/a", "/a/bc", "x/abc", "dir/.ksw", "dir/abcd", "docs/a",
                             "/home/u/photos/xy", "dir/", "dir/éàüö", "dir/x.ks"})
        EXPECT_EQ(PlainNameOf(path), "") << path;
    EXPECT_EQ(PlainNameOf("dir/éàüöß"), "dir/é");
    EXPECT_EQ(PlainNameOf("dir/ü.ksw"), "dir/ü");
    EXPECT_EQ(PlainNameOf("dir.ksw/abcde"), "dir.ksw/a");
}

TEST_F(Operations, ExistingOutputsAreReplacedOnlyByCompleteFiles)
{
    WriteFile(dir / "doc", "new contents");
    WriteFile(dir / "doc.ksw", "an older container");
    ASSERT_TRUE(EncryptSelectedFile(SharedKeys(), dir / "doc", "password1").ok());
    EXPECT_NE(ReadFile(dir / "doc.ksw"), "an older container");
    WriteFile(dir / "doc", "stale plain file");
    ASSERT_TRUE(DecryptSelectedFile(dir / "doc.ksw", "password1").ok());
    EXPECT_EQ(ReadFile(dir / "doc"), "new contents");

    // An output name taken by a folder: refused, input untouched.
    fs::remove(dir / "doc");
    fs::create_directory(dir / "doc");
    EXPECT_EQ(DecryptSelectedFile(dir / "doc.ksw", "password1").outcome, Outcome::OutputUnwritable);
    EXPECT_EQ(Listing(dir), (std::vector<std::string>{"doc", "doc.ksw"}));
    EXPECT_TRUE(fs::is_empty(dir / "doc"));
}

TEST_F(Operations, ProgressAndCancellation)
{
    const std::string data = RandomBytes(64 * 1024, 5);
    WriteFile(dir / "in", data);
    std::vector<std::uint64_t> seen;
    OperationOptions options;
    options.chunkSize = 4096;
    options.progress = [&](std::uint64_t done, std::uint64_t total) {
        EXPECT_EQ(total, data.size());
        seen.push_back(done);
    };
    ASSERT_TRUE(EncryptSelectedFile(SharedKeys(), dir / "in", "password", options).ok());
    ASSERT_FALSE(seen.empty());
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_EQ(seen.front(), 0u);
    EXPECT_EQ(seen.back(), data.size());

    // Cancelled half way: the existing container and the input stay as they were.
    const std::string container = ReadFile(dir / "in.ksw");
    WriteFile(dir / "in", RandomBytes(64 * 1024, 6));
    std::atomic<bool> cancel{false};
    options.cancel = &cancel;
    options.progress = [&](std::uint64_t done, std::uint64_t) { cancel = done >= 32 * 1024; };
    EXPECT_EQ(EncryptSelectedFile(SharedKeys(), dir / "in", "password", options).outcome,
              Outcome::Cancelled);
    EXPECT_EQ(ReadFile(dir / "in.ksw"), container);
    fs::remove(dir / "in");
    cancel = false;
    EXPECT_EQ(DecryptSelectedFile(dir / "in.ksw", "password", options).outcome, Outcome::Cancelled);
    EXPECT_EQ(Listing(dir), std::vector<std::string>{"in.ksw"});
}
