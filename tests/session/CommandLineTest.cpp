// SPDX-License-Identifier: Apache-2.0
// Every row of the start-up dispatch, and the argument rules.

#include "session/CommandLine.h"

#include <gtest/gtest.h>

using namespace kestrawin::session;

namespace {

PageChoice Choose(std::vector<std::string> args)
{
    return ChoosePage(args, "/home/user");
}

} // namespace

TEST(Dispatch, EveryRowOfTheTable)
{
    struct Row {
        std::vector<std::string> args;
        Page page;
        bool encryptedMessage;
    };
    const Row rows[] = {
        {{}, MainPage, false},
        // A container without the decrypt switch: "This file is encrypted".
        {{"/d/a.ksw"}, ErrorPage, true},
        {{"/d/a.ksw", "/crypt"}, ErrorPage, true},
        // The extension test is exact: capitals are not a container.
        {{"/d/a.KSW", "/crypt"}, EncryptPage, false},
        {{"/d/a.Ksw"}, EncryptPage, false},
        {{"/d/a.txt"}, EncryptPage, false},
        {{"/d/a.txt", "/crypt"}, EncryptPage, false},
        // Exactly "/encrypt" decrypts, whatever the name.
        {{"/d/a.ksw", "/encrypt"}, DecryptPage, false},
        {{"/d/a.txt", "/encrypt"}, DecryptPage, false},
        {{"/d/a.ksw", "/encrypt", "ignored"}, DecryptPage, false},
        // "/encrypt" in another case only lifts the container message.
        {{"/d/a.ksw", "/ENCRYPT"}, EncryptPage, false},
        {{"/d/a.ksw", "/Encrypt"}, EncryptPage, false},
        {{"/d/a.txt", "/ENCRYPT"}, EncryptPage, false},
        // A switch second keeps the row above whatever follows it.
        {{"/d/a.ksw", "/ENCRYPT", "/d/b.txt"}, EncryptPage, false},
        {{"/d/a.ksw", "/crypt", "/d/b.txt", "/encrypt"}, ErrorPage, true},
        {{"/d/a.txt", "/crypt", "/d/b.txt"}, EncryptPage, false},
        {{"/d/a.txt", "/CRYPT", "/d/b.txt", "/encrypt"}, EncryptPage, false},
    };
    for (const Row& row : rows) {
        const PageChoice choice = Choose(row.args);
        const std::string label =
            row.args.empty() ? "(none)"
                             : row.args[0] + " " + (row.args.size() > 1 ? row.args[1] : "");
        EXPECT_EQ(choice.page, row.page) << label;
        EXPECT_EQ(choice.fileIsEncrypted, row.encryptedMessage) << label;
        if (row.page == EncryptPage || row.page == DecryptPage) {
            EXPECT_EQ(choice.selectedFile, row.args[0]);
            EXPECT_EQ(choice.selectedFiles, std::vector<std::string>{row.args[0]}) << label;
            EXPECT_FALSE(choice.batch()) << label;
        } else {
            EXPECT_EQ(choice.selectedFile, "");
            EXPECT_TRUE(choice.selectedFiles.empty());
        }
    }
}

TEST(Dispatch, EveryBatchRow)
{
    using Files = std::vector<std::string>;
    struct Row {
        std::vector<std::string> args;
        Page page;
        Files files;
    };
    const Row rows[] = {
        // What a launcher passing every file gives.
        {{"/d/a", "/d/b", "/d/c"}, EncryptPage, {"/d/a", "/d/b", "/d/c"}},
        {{"/d/a", "/d/b", "/crypt"}, EncryptPage, {"/d/a", "/d/b"}},
        {{"/d/a", "/d/b", "/CRYPT"}, EncryptPage, {"/d/a", "/d/b"}},
        // Containers in an encryption batch are not refused here: each is
        // skipped on its own when the work runs.
        {{"/d/a.ksw", "/d/b.ksw", "/crypt"}, EncryptPage, {"/d/a.ksw", "/d/b.ksw"}},
        // Exactly "/encrypt" last decrypts them all; another case encrypts.
        {{"/d/a.ksw", "/d/b.ksw", "/encrypt"}, DecryptPage, {"/d/a.ksw", "/d/b.ksw"}},
        {{"/d/a.txt", "/d/b.ksw", "/encrypt"}, DecryptPage, {"/d/a.txt", "/d/b.ksw"}},
        {{"/d/a.ksw", "/d/b.ksw", "/ENCRYPT"}, EncryptPage, {"/d/a.ksw", "/d/b.ksw"}},
        // Only the last argument counts; switches are never files; a file
        // named twice is one file; relative names are made absolute.
        {{"/d/a.ksw", "/d/b.ksw", "/encrypt", "/crypt"}, EncryptPage, {"/d/a.ksw", "/d/b.ksw"}},
        {{"/d/a.ksw", "b.ksw", "/crypt", "/encrypt"},
         DecryptPage,
         {"/d/a.ksw", "/home/user/b.ksw"}},
        {{"/d/a", "/d/b", "/d/a", "/crypt"}, EncryptPage, {"/d/a", "/d/b"}},
        {{"/d/a", "/d/a"}, EncryptPage, {"/d/a"}},
        // Only "/crypt" and "/encrypt" are switches: anything else second is
        // a second file.
        {{"/d/a.ksw", "/anything"}, EncryptPage, {"/d/a.ksw", "/anything"}},
        {{"/d/a.txt", "/decrypt"}, EncryptPage, {"/d/a.txt", "/decrypt"}},
    };
    for (const Row& row : rows) {
        std::string label;
        for (const std::string& a : row.args) label += a + " ";
        const PageChoice choice = Choose(row.args);
        EXPECT_EQ(choice.page, row.page) << label;
        EXPECT_FALSE(choice.fileIsEncrypted) << label;
        EXPECT_EQ(choice.selectedFiles, row.files) << label;
        EXPECT_EQ(choice.batch(), row.files.size() > 1) << label;
        EXPECT_EQ(choice.selectedFile, row.files.front()) << label;
    }
    EXPECT_TRUE(IsSwitch("/Crypt"));
    EXPECT_TRUE(IsSwitch("/eNcRyPt"));
    EXPECT_FALSE(IsSwitch("/decrypt"));
    EXPECT_FALSE(IsSwitch("/crypt/"));
}

TEST(Dispatch, ArgumentsAndPaths)
{
    // Empty arguments do not count: the switch after one is still the second.
    const char* argv[] = {"/usr/bin/kestrawin", "", "/d/My file é.ksw", "", "/encrypt"};
    const auto args = ArgumentsOf(5, argv);
    ASSERT_EQ(args.size(), 2u);
    EXPECT_EQ(args[0], "/d/My file é.ksw"); // spaces and non-ASCII arrive whole
    EXPECT_EQ(Choose(args).page, DecryptPage);

    // A relative path is made absolute against the working folder.
    EXPECT_EQ(ChoosePage({"notes.txt", "/crypt"}, "/home/user").selectedFile,
              "/home/user/notes.txt");
    EXPECT_EQ(ChoosePage({"sub/n.ksw", "/encrypt"}, "/").selectedFile, "/sub/n.ksw");

    // Extensions: the last dot, unless it is in a folder's name.
    EXPECT_EQ(ExtensionOf("/a/b.tar.ksw"), ".ksw");
    EXPECT_EQ(ExtensionOf("/a.ksw/b"), "");
    EXPECT_EQ(ExtensionOf("/a/.ksw"), ".ksw");
    EXPECT_EQ(ExtensionOf("noext"), "");
}
