// SPDX-License-Identifier: Apache-2.0
// Every row of the start-up dispatch, and the argument rules.

#include "Fixtures.h"

#include "startup/CommandLine.h"

using namespace kestrawin::startup;

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
        {{"/d/a.ksw"}, OutcomePage, true},
        {{"/d/a.ksw", "/crypt"}, OutcomePage, true},
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
        {{"/d/a.ksw", "/crypt", "/d/b.txt", "/encrypt"}, OutcomePage, true},
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

// Several arguments on real files: an argument after the first is a file
// only when it names something that exists; one that names the same file as
// an earlier one, however spelled, is left out; with one file left the rows
// above apply.
class DispatchOnDisk : public kwtest::ScratchTest {
protected:
    void SetUp() override
    {
        ScratchTest::SetUp();
        for (const char* name :
             {"a", "b", "c", "a.ksw", "b.ksw", "a.txt", "b.txt", "other/a.txt"}) {
            kwtest::fs::create_directories((dir / name).parent_path());
            kwtest::WriteFile(dir / name, "x");
        }
        kwtest::fs::create_directories(dir / "other/sub");
        kwtest::fs::create_directory_symlink("other/sub", dir / "l");
    }
    // "D/" stands for the scratch folder, which is also the working folder.
    std::vector<std::string> OnDisk(const std::vector<std::string>& args) const
    {
        std::vector<std::string> out;
        for (const std::string& a : args)
            out.push_back(a.rfind("D/", 0) == 0 ? (dir / a.substr(2)).string() : a);
        return out;
    }
};

TEST_F(DispatchOnDisk, EveryRowWithSeveralArguments)
{
    using Files = std::vector<std::string>;
    struct Row {
        std::vector<std::string> args;
        Page page;
        Files files; // none: "This file is encrypted"
    };
    const Row rows[] = {
        // What a launcher passing every file gives.
        {{"D/a", "D/b", "D/c"}, EncryptPage, {"D/a", "D/b", "D/c"}},
        {{"D/a", "D/b", "/crypt"}, EncryptPage, {"D/a", "D/b"}},
        {{"D/a", "D/b", "/CRYPT"}, EncryptPage, {"D/a", "D/b"}},
        // Containers in an encryption batch are not refused here: each is
        // skipped on its own when the work runs.
        {{"D/a.ksw", "D/b.ksw", "/crypt"}, EncryptPage, {"D/a.ksw", "D/b.ksw"}},
        // Exactly "/encrypt" last decrypts them all; another case encrypts.
        {{"D/a.ksw", "D/b.ksw", "/encrypt"}, DecryptPage, {"D/a.ksw", "D/b.ksw"}},
        {{"D/a.txt", "D/b.ksw", "/encrypt"}, DecryptPage, {"D/a.txt", "D/b.ksw"}},
        {{"D/a.ksw", "D/b.ksw", "/ENCRYPT"}, EncryptPage, {"D/a.ksw", "D/b.ksw"}},
        // Only the last argument counts; switches are never files; relative
        // names are made absolute against the working folder.
        {{"D/a.ksw", "D/b.ksw", "/encrypt", "/crypt"}, EncryptPage, {"D/a.ksw", "D/b.ksw"}},
        {{"D/a.ksw", "b.ksw", "/crypt", "/encrypt"}, DecryptPage, {"D/a.ksw", "D/b.ksw"}},
        // A file named twice is one file, however spelled; ".." after a link
        // leads to the link's target's parent.
        {{"D/a", "D/b", "D/a", "/crypt"}, EncryptPage, {"D/a", "D/b"}},
        {{"D/a", "D/./b", "D/other/../a", "b"}, EncryptPage, {"D/a", "D/./b"}},
        {{"D/a.txt", "D/l/../a.txt"}, EncryptPage, {"D/a.txt", "D/l/../a.txt"}},
        // Words that name nothing are no files, wherever they stand.
        {{"D/a.txt", "/decrypt", "D/b.txt"}, EncryptPage, {"D/a.txt", "D/b.txt"}},
        {{"D/a.ksw", "D/b.ksw", "gone", "/encrypt"}, DecryptPage, {"D/a.ksw", "D/b.ksw"}},
        // One file left: the rows for one file, on what is left; a word in
        // second place stays there.
        {{"D/a.ksw", "/decrypt"}, OutcomePage, {}},
        {{"D/a.ksw", "/anything"}, OutcomePage, {}},
        {{"D/a.txt", "/decrypt"}, EncryptPage, {"D/a.txt"}},
        {{"D/a.ksw", "D/a.ksw"}, OutcomePage, {}},
        {{"D/a.ksw", "a.ksw", "/crypt"}, OutcomePage, {}},
        {{"D/a.ksw", "./a.ksw", "/encrypt"}, DecryptPage, {"D/a.ksw"}},
        {{"D/a.txt", "./a.txt"}, EncryptPage, {"D/a.txt"}},
        {{"D/a.txt", "D/other/../a.txt", "/ENCRYPT"}, EncryptPage, {"D/a.txt"}},
        {{"D/a.ksw", "gone.ksw", "/encrypt"}, OutcomePage, {}},
    };
    for (const Row& row : rows) {
        std::string label;
        for (const std::string& a : row.args) label += a + " ";
        const PageChoice choice = ChoosePage(OnDisk(row.args), dir);
        EXPECT_EQ(choice.page, row.page) << label;
        EXPECT_EQ(choice.fileIsEncrypted, row.files.empty()) << label;
        EXPECT_EQ(choice.selectedFiles, OnDisk(row.files)) << label;
        EXPECT_EQ(choice.batch(), row.files.size() > 1) << label;
        EXPECT_EQ(choice.selectedFile, row.files.empty() ? "" : OnDisk(row.files).front()) << label;
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
