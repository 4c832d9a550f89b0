// SPDX-License-Identifier: Apache-2.0
// --help and --version, and the check for a graphical session.

#include "startup/Information.h"
#include "kestrawin/Version.h"
#include "startup/CommandLine.h"

#include <gtest/gtest.h>

using namespace kestrawin::startup;

TEST(Information, OnlyTheOneArgumentAsksAndAFileOfThatNameStaysReachable)
{
    EXPECT_EQ(InformationAskedFor({"--help"}), Information::Help);
    EXPECT_EQ(InformationAskedFor({"--version"}), Information::Version);
    const char* argv[] = {"kestrawin", "", "--help", ""};
    EXPECT_EQ(InformationAskedFor(ArgumentsOf(4, argv)), Information::Help);

    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{},
                                               {"./--help"},
                                               {"/home/u/--help"},
                                               {"--help", "/crypt"},
                                               {"--version", "/encrypt"},
                                               {"--HELP"},
                                               {"-h"},
                                               {"/d/a.txt", "--help"}}) {
        EXPECT_EQ(InformationAskedFor(args), Information::None) << (args.empty() ? "" : args[0]);
    }
    // "./--help" is an ordinary file for the dispatch.
    const PageChoice choice = ChoosePage({"./--help", "/crypt"}, "/home/u");
    EXPECT_EQ(choice.page, EncryptPage);
    EXPECT_EQ(choice.selectedFile, "/home/u/./--help");

    EXPECT_EQ(InformationText(Information::Version), "kestrawin " KESTRAWIN_VERSION "\n");
    const std::string help = InformationText(Information::Help);
    EXPECT_EQ(help.rfind("Usage: kestrawin ", 0), 0u);
    EXPECT_NE(help.find("kestrawin FILE /encrypt"), std::string::npos);
    EXPECT_EQ(help.back(), '\n');
    EXPECT_EQ(InformationText(Information::None), "");
}

TEST(Information, WindowNeedsADisplayOrAChosenPlatform)
{
    EXPECT_FALSE(CanShowWindow(nullptr, nullptr, nullptr, {}));
    EXPECT_FALSE(CanShowWindow("", "", "", {"/d/a.txt", "/crypt"}));
    EXPECT_TRUE(CanShowWindow(":0", nullptr, nullptr, {}));
    EXPECT_TRUE(CanShowWindow(nullptr, "wayland-0", nullptr, {}));
    EXPECT_TRUE(CanShowWindow(nullptr, nullptr, "offscreen", {}));
    EXPECT_TRUE(CanShowWindow(nullptr, nullptr, nullptr, {"-platform", "offscreen"}));
    EXPECT_NE(NoSessionMessage().find("DISPLAY"), std::string::npos);
}
