// SPDX-License-Identifier: Apache-2.0
// Containers as bytes, the same on every platform: the Windows-made vectors
// and the damaged corpus through the reader, and the writer's bytes for a
// fixed key pair, which every build must write identically.

#include "Files.h"
#include "Vectors.h"

#include "base/Words.h"
#include "format/Reader.h"
#include "format/Writer.h"

using namespace kestrawin;
using namespace kwtest;

namespace {

crypto::Bytes BytesOf(const fs::path& path)
{
    const std::string s = ReadFile(path);
    return crypto::Bytes(s.begin(), s.end());
}

const fs::path kVectors = KESTRAWIN_VECTORS_DIR;
const fs::path kInterop = KESTRAWIN_INTEROP_DIR;

} // namespace

TEST(WindowsContainers, OpenWithTheirPasswordAndNoOther)
{
    std::string error;
    const auto vectors = LoadWindowsVectors(kVectors.string(), &error);
    ASSERT_EQ(error, "");
    ASSERT_GE(vectors.size(), 6u);
    for (const WindowsVector& v : vectors) {
        SCOPED_TRACE(v.name);
        const crypto::Bytes container = BytesOf(kVectors / v.container);
        crypto::Bytes plain;
        const Result r = format::DecryptBytes(container, v.password, &plain);
        ASSERT_TRUE(r.ok()) << DescribeResult(r);
        EXPECT_EQ(plain, BytesOf(kVectors / v.plaintext));
        std::string upper = v.password;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        for (const std::string& other : {std::string("wrong!"), upper}) {
            if (other == v.password) continue;
            EXPECT_EQ(format::DecryptBytes(container, other, &plain).outcome,
                      Outcome::WrongPassword)
                << other;
        }
    }
}

// Every file in tests/data/bad is named after the outcome it must give.
TEST(BadContainers, GiveTheirLabelledOutcome)
{
    const crypto::Bytes text = BytesOf(kVectors / "text.plain");
    int seen = 0;
    for (const auto& entry : fs::directory_iterator(KESTRAWIN_BAD_DIR)) {
        const std::string name = entry.path().filename().string();
        const std::string label = name.substr(0, name.find("--"));
        const Outcome expected = label == "ok"              ? Outcome::Success
                                 : label == "damaged"       ? Outcome::DamagedContainer
                                 : label == "not-container" ? Outcome::NotContainer
                                                            : Outcome::WrongPassword;
        crypto::Bytes plain;
        const Result r = format::DecryptBytes(BytesOf(entry.path()), "éèàç€ÿ", &plain);
        EXPECT_EQ(r.outcome, expected) << name << ": " << DescribeResult(r);
        if (r.ok()) {
            EXPECT_EQ(plain, text) << name;
        }
        ++seen;
    }
    EXPECT_GE(seen, 20);
}

TEST(Interop, EveryBuildWritesTheSameBytesForTheSamePair)
{
    const auto signer = crypto::RsaKeyPair::FromPem(ReadFile(kInterop / "signer.pem"));
    ASSERT_TRUE(signer);
    for (const SealedVector& v : SealedVectors()) {
        SCOPED_TRACE(v.container);
        const crypto::Bytes plain = BytesOf(kVectors / v.plaintext);
        const crypto::Bytes expected = BytesOf(kInterop / v.container);
        ASSERT_FALSE(expected.empty());
        crypto::Bytes written, opened;
        ASSERT_TRUE(format::EncryptBytes(*signer, v.password, plain, &written).ok());
        EXPECT_TRUE(written == expected) << "the writer's bytes differ";
        ASSERT_TRUE(format::DecryptBytes(expected, v.password, &opened).ok());
        EXPECT_EQ(opened, plain);
    }
}
