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
        {{"/d/a.ksw", "/anything"}, ErrorPage, true},
        // The extension test is exact: capitals are not a container.
        {{"/d/a.KSW", "/crypt"}, EncryptPage, false},
        {{"/d/a.Ksw"}, EncryptPage, false},
        {{"/d/a.txt"}, EncryptPage, false},
        {{"/d/a.txt", "/crypt"}, EncryptPage, false},
        {{"/d/a.txt", "/decrypt"}, EncryptPage, false},
        // Exactly "/encrypt" decrypts, whatever the name.
        {{"/d/a.ksw", "/encrypt"}, DecryptPage, false},
        {{"/d/a.txt", "/encrypt"}, DecryptPage, false},
        {{"/d/a.ksw", "/encrypt", "ignored"}, DecryptPage, false},
        // "/encrypt" in another case only lifts the container message.
        {{"/d/a.ksw", "/ENCRYPT"}, EncryptPage, false},
        {{"/d/a.ksw", "/Encrypt"}, EncryptPage, false},
        {{"/d/a.txt", "/ENCRYPT"}, EncryptPage, false},
    };
    for (const Row& row : rows) {
        const PageChoice choice = Choose(row.args);
        const std::string label = row.args.empty() ? "(none)" : row.args[0] + " " + (row.args.size() > 1 ? row.args[1] : "");
        EXPECT_EQ(choice.page, row.page) << label;
        EXPECT_EQ(choice.fileIsEncrypted, row.encryptedMessage) << label;
        if (row.page == EncryptPage || row.page == DecryptPage) EXPECT_EQ(choice.selectedFile, row.args[0]);
        else EXPECT_EQ(choice.selectedFile, "");
    }
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
    EXPECT_EQ(ChoosePage({"notes.txt", "/crypt"}, "/home/user").selectedFile, "/home/user/notes.txt");
    EXPECT_EQ(ChoosePage({"sub/n.ksw", "/encrypt"}, "/").selectedFile, "/sub/n.ksw");

    // Extensions: the last dot, unless it is in a folder's name.
    EXPECT_EQ(ExtensionOf("/a/b.tar.ksw"), ".ksw");
    EXPECT_EQ(ExtensionOf("/a.ksw/b"), "");
    EXPECT_EQ(ExtensionOf("/a/.ksw"), ".ksw");
    EXPECT_EQ(ExtensionOf("noext"), "");
}
