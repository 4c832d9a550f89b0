// SPDX-License-Identifier: Apache-2.0
// Encryption and decryption on Linux: the permissions travel with the file,
// and links, FIFOs and devices are refused.

#include "Fixtures.h"

#include <sys/stat.h>
#include <unistd.h>

using namespace kestrawin;
using namespace kestrawin::ops;
using namespace kwtest;

class Operations : public ScratchTest {};

TEST_F(Operations, ThePermissionsTravelBothWays)
{
    const Path plain = dir / "My file é.txt";
    const Path container = dir / "My file é.txt.ksw";
    WriteFile(plain, "data");
    chmod(plain.c_str(), 0640);
    ASSERT_TRUE(EncryptSelectedFile(SharedKeys(), plain, "secret password").ok());
    EXPECT_EQ(Mode(container), 0640u);

    fs::remove(plain);
    chmod(container.c_str(), 0604);
    ASSERT_TRUE(DecryptSelectedFile(container, "secret password").ok());
    EXPECT_EQ(ReadFile(plain), "data");
    EXPECT_EQ(Mode(plain), 0604u);
}

TEST_F(Operations, BadInputIsRefusedAndNothingChanges)
{
    WriteFile(dir / "real", "secret");
    fs::create_symlink(dir / "real", dir / "link");
    fs::create_directory(dir / "folder");
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    WriteFile(dir / ".ksw", "whatever");
    const auto before = Listing(dir);

    auto encrypt = [&](const fs::path& p) {
        return EncryptSelectedFile(SharedKeys(), p, "pw").outcome;
    };
    EXPECT_EQ(encrypt(dir / "missing"), Outcome::InputMissing); // deleted since the menu was used
    EXPECT_EQ(encrypt(dir / "link"), Outcome::NotRegularFile); // would leave the real file in clear
    EXPECT_EQ(encrypt(dir / "folder"), Outcome::NotRegularFile);
    EXPECT_EQ(encrypt(dir / "fifo"), Outcome::NotRegularFile); // and must not block
    EXPECT_EQ(encrypt("/dev/null"), Outcome::NotRegularFile);
    EXPECT_EQ(DecryptSelectedFile(dir / "link", "pw").outcome, Outcome::NotRegularFile);
    EXPECT_EQ(DecryptSelectedFile(dir / ".ksw", "pw").outcome, Outcome::NoOutputName);
    EXPECT_EQ(Listing(dir), before);
    EXPECT_EQ(ReadFile(dir / "real"), "secret");
}
