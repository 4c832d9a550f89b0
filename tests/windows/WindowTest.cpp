// SPDX-License-Identifier: Apache-2.0
// kestrawin.exe's window under Wine's headless driver, driven by the messages
// a person's keys and clicks make. Message boxes are answered by a stand-in;
// the registry entries go below a scratch key of the test's own.

#include "Files.h"
#include "UserRegistry.h"

#include "base/Words.h"
#include "startup/Addresses.h"
#include "winui/MainWindow.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <string>
#include <vector>

using namespace kestrawin;
using namespace kestrawin::winui;
namespace ids = kestrawin::winui::controls;
namespace fs = std::filesystem;
using kwtest::RegistryValue;

namespace {

// Answers the window's boxes: Ask takes the next answer (No when none is
// left); every box is remembered.
struct Boxes final : MessageBoxes {
    std::vector<std::string> told;
    std::deque<bool> answers;
    void Inform(const std::string& text) override { told.push_back(text); }
    bool Ask(const std::string& text) override
    {
        told.push_back(text);
        if (answers.empty()) return false;
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void Error(const std::string& text) override { told.push_back("error: " + text); }
};

std::wstring WindowText(HWND window)
{
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), length + 1)));
    return text;
}

class WindowTest : public kwtest::ScratchTest {
protected:
    void SetUp() override
    {
        ScratchTest::SetUp();
        classes = L"Software\\KestrawinWindowTest\\" + std::to_wstring(GetCurrentProcessId());
    }
    void TearDown() override
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, classes.c_str());
        ScratchTest::TearDown();
    }

    // A window started with these arguments, shown.
    std::unique_ptr<MainWindow> Open(std::vector<std::string> arguments)
    {
        WindowEnvironment env;
        env.arguments = std::move(arguments);
        env.workingDirectory = dir.string();
        env.programPath = L"C:\\Program Files\\Kestrawin\\kestrawin.exe";
        env.registry.classesKey = classes;
        env.registry.notifyShell = [] {};
        env.keyFolder = (dir / "keys").string();
        env.messages = &boxes;
        env.openUrl = [this](const std::wstring& address) { opened.push_back(address); };
        env.sleep = [this](int ms) { slept += ms; };
        env.highContrast = false;
        env.diskHook = diskHook;
        auto window = std::make_unique<MainWindow>(std::move(env));
        window_ = window.get();
        window->Show(SW_SHOWNORMAL);
        Pump([] { return false; }, 50);
        return window;
    }

    // Runs the message loop as the program does until `done`, or for `ms`.
    template <typename Done>
    bool Pump(Done done, int ms = 20000)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!done()) {
            if (std::chrono::steady_clock::now() > end) return false;
            MSG message;
            if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
                continue;
            }
            if (message.message == WM_QUIT) continue;
            if (window_ && window_->PreTranslate(message)) continue;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        return true;
    }

    // Keys as the keyboard sends them, to the control with the focus.
    void Key(WPARAM key)
    {
        HWND focus = GetFocus();
        PostMessageW(focus, WM_KEYDOWN, key, 1);
        PostMessageW(focus, WM_KEYUP, key, 0xC0000001);
        Pump([] { return false; }, 30);
    }
    void Type(const std::string& text)
    {
        for (char c : text) PostMessageW(GetFocus(), WM_CHAR, static_cast<WPARAM>(c), 1);
        Pump([] { return false; }, 30);
    }
    // Waits until the work has ended; the outcome's text.
    std::wstring Outcome(MainWindow& window)
    {
        EXPECT_TRUE(Pump([&] { return !window.busy(); })) << "the work did not end";
        return WindowText(window.control(ids::OutcomeText));
    }

    std::wstring classes;
    Boxes boxes;
    std::vector<std::wstring> opened;
    int slept = 0;
    io::DiskHook diskHook;
    MainWindow* window_ = nullptr; // whose dialog keys the loop handles
};

std::wstring W(const std::string& utf8)
{
    return Wide(utf8);
}

TEST_F(WindowTest, ChosenPageAndFocusForEachStart)
{
    kwtest::WriteFile(dir / "a.txt", "a");
    kwtest::WriteFile(dir / "b.txt", "b");
    const std::string a = (dir / "a.txt").string();
    const std::string b = (dir / "b.txt").string();
    const struct Row {
        std::vector<std::string> arguments;
        int page;
        int focus;
        std::size_t files;
    } rows[] = {
        {{}, startup::MainPage, ids::VendorLink, 0},
        {{a, "/crypt"}, startup::EncryptPage, ids::Password, 1},
        {{a}, startup::EncryptPage, ids::Password, 1},
        {{"C:\\x.ksw", "/crypt"}, startup::OutcomePage, ids::OutcomeText, 0},
        {{"C:\\x.KSW", "/crypt"}, startup::EncryptPage, ids::Password, 1},
        {{"C:\\x.ksw", "/encrypt"}, startup::DecryptPage, ids::DecryptPassword, 1},
        {{"C:\\x.ksw", "/ENCRYPT"}, startup::EncryptPage, ids::Password, 1},
        {{a, b, "/encrypt"}, startup::DecryptPage, ids::DecryptPassword, 2},
        {{"a.txt", "b.txt"}, startup::EncryptPage, ids::Password, 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.arguments.empty() ? "(none)" : row.arguments.front());
        auto window = Open(row.arguments);
        EXPECT_EQ(window->currentPage(), row.page);
        EXPECT_EQ(GetFocus(), window->control(row.focus));
        EXPECT_EQ(window->model().files().size(), row.files);
        EXPECT_TRUE(IsWindowVisible(window->control(row.focus)));
        EXPECT_EQ(IsWindowVisible(window->control(ids::Password)) != FALSE,
                  row.page == startup::EncryptPage);
        if (row.page == startup::OutcomePage) {
            EXPECT_EQ(WindowText(window->control(ids::OutcomeText)), W(words::FileIsEncrypted));
        }
    }
    EXPECT_EQ(WindowText(Open({})->hwnd()), L"Pellmora");
    EXPECT_TRUE(boxes.told.empty());
}

TEST_F(WindowTest, ASecondWindowStandsAStepAsideFromTheFirst)
{
    const auto first = Open({});
    const auto second = Open({});
    RECT a{}, b{};
    GetWindowRect(first->hwnd(), &a);
    GetWindowRect(second->hwnd(), &b);
    EXPECT_EQ(b.left - a.left, 28);
    EXPECT_EQ(b.top - a.top, 28);
}

TEST_F(WindowTest, PasswordRulesAreToldInTheirBoxesAndThePageStays)
{
    kwtest::WriteFile(dir / "a.txt", "a");
    const std::string a = (dir / "a.txt").string();
    const struct Row {
        const char* first;
        const char* second;
        const char* decrypt; // the Decrypt page's field, or null for Encrypt
        std::string told;
    } rows[] = {
        {"", "", nullptr, words::NoPassword},
        {"", "abcdef", nullptr, words::DifferentPasswords},
        {"Abcdef", "abcdef", nullptr, words::DifferentPasswords},
        {"abcde", "abcde", nullptr, pages::ShortPasswordQuestion()}, // answered No
        {nullptr, nullptr, "", words::NoPassword},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.told);
        boxes.told.clear();
        auto window = Open({a, row.decrypt ? "/encrypt" : "/crypt"});
        const int page = window->currentPage();
        if (row.decrypt) {
            SetWindowTextW(window->control(ids::DecryptPassword), W(row.decrypt).c_str());
            SendMessageW(window->control(ids::DecryptButton), BM_CLICK, 0, 0);
        } else {
            SetWindowTextW(window->control(ids::Password), W(row.first).c_str());
            SetWindowTextW(window->control(ids::PasswordAgain), W(row.second).c_str());
            SendMessageW(window->control(ids::EncryptButton), BM_CLICK, 0, 0);
        }
        EXPECT_EQ(boxes.told, std::vector<std::string>{row.told});
        EXPECT_EQ(window->currentPage(), page);
        EXPECT_FALSE(window->busy());
        if (!row.decrypt) {
            EXPECT_EQ(WindowText(window->control(ids::Password)), W(row.first));
        }
    }
    EXPECT_EQ(kwtest::ReadFile(dir / "a.txt"), "a");
}

TEST_F(WindowTest, KeyboardAloneEncryptsAndDecryptsAndThePasswordStaysInItsFields)
{
    const std::string contents = kwtest::RandomBytes(300000);
    kwtest::WriteFile(dir / "Report.txt", contents);
    const std::string file = (dir / "Report.txt").string();
    const std::string password = "correct horse";

    auto encrypt = Open({file, "/crypt"});
    Type(password);
    Key(VK_TAB);
    EXPECT_EQ(GetFocus(), encrypt->control(ids::PasswordAgain));
    Type(password);
    // No window but the two fields holds the password, nor says it.
    const std::wstring typed = W(password);
    EnumChildWindows(
        encrypt->hwnd(),
        [](HWND child, LPARAM data) -> BOOL {
            const auto* secret = reinterpret_cast<const std::wstring*>(data);
            const int id = GetDlgCtrlID(child);
            if (id != ids::Password && id != ids::PasswordAgain)
                EXPECT_EQ(WindowText(child).find(*secret), std::wstring::npos) << id;
            else
                EXPECT_EQ(GetWindowLongW(child, GWL_STYLE) & ES_PASSWORD, ES_PASSWORD) << id;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&typed));
    Key(VK_RETURN); // in the field: the page's Encrypt
    EXPECT_EQ(Outcome(*encrypt), W(words::EncryptionCompleted));
    EXPECT_TRUE(IsWindowEnabled(encrypt->control(ids::CloseButton)));
    EXPECT_FALSE(fs::exists(dir / "Report.txt"));
    EXPECT_TRUE(fs::exists(dir / "Report.txt.ksw"));
    Key(VK_ESCAPE); // the outcome shows: Escape closes
    EXPECT_TRUE(Pump([&] { return encrypt->ended(); }, 2000));
    window_ = nullptr;
    encrypt.reset();

    auto decrypt = Open({file + ".ksw", "/encrypt"});
    Type(password);
    Key(VK_TAB);
    EXPECT_EQ(GetFocus(), decrypt->control(ids::DecryptButton));
    Key(VK_SPACE); // on the button: pressed
    EXPECT_EQ(Outcome(*decrypt), W(words::DecryptionCompleted));
    EXPECT_TRUE(kwtest::ReadFile(dir / "Report.txt") == contents);
    EXPECT_FALSE(fs::exists(dir / "Report.txt.ksw"));
    // Enter on a focused button presses it: Close ends the program.
    Key(VK_TAB);
    Key(VK_TAB);
    EXPECT_EQ(GetFocus(), decrypt->control(ids::CloseButton));
    Key(VK_RETURN);
    EXPECT_TRUE(decrypt->ended());
    window_ = nullptr;
    EXPECT_TRUE(boxes.told.empty());
}

TEST_F(WindowTest, SeveralFilesGetOneSummaryWithDetails)
{
    for (const char* name : {"one.txt", "two.txt", "old.ksw"}) kwtest::WriteFile(dir / name, name);
    auto window = Open({(dir / "one.txt").string(), (dir / "two.txt").string(),
                        (dir / "old.ksw").string(), "/crypt"});
    ASSERT_EQ(window->model().files().size(), 3U);
    SetWindowTextW(window->control(ids::Password), L"secret");
    SetWindowTextW(window->control(ids::PasswordAgain), L"secret");
    SendMessageW(window->control(ids::EncryptButton), BM_CLICK, 0, 0);
    EXPECT_EQ(Outcome(*window), W(std::string(words::EncryptionCompleted) + "\n"
                                  + words::Count(words::FilesEncrypted, 2) + "\n"
                                  + words::Count(words::LeftAsTheyWere, 1)));
    EXPECT_TRUE(fs::exists(dir / "one.txt.ksw"));
    EXPECT_TRUE(fs::exists(dir / "two.txt.ksw"));
    EXPECT_EQ(kwtest::ReadFile(dir / "old.ksw"), "old.ksw");
    ASSERT_TRUE(IsWindowVisible(window->control(ids::DetailsButton)));
    SendMessageW(window->control(ids::DetailsButton), BM_CLICK, 0, 0);
    EXPECT_EQ(boxes.told,
              std::vector<std::string>{(dir / "old.ksw").string() + ": " + words::LeftAsItWas});

    // A failure is named by the file's name alone; its whole path is in Details.
    fs::create_directory(dir / "folder");
    kwtest::WriteFile(dir / "three.txt", "three");
    auto failing = Open({(dir / "three.txt").string(), (dir / "folder").string(), "/crypt"});
    SetWindowTextW(failing->control(ids::Password), L"secret");
    SetWindowTextW(failing->control(ids::PasswordAgain), L"secret");
    SendMessageW(failing->control(ids::EncryptButton), BM_CLICK, 0, 0);
    const std::wstring outcome = Outcome(*failing);
    EXPECT_EQ(outcome.substr(0, outcome.rfind(L'\n')),
              W(words::Count(words::SomeFilesEncrypted, 1, 2) + "\nfolder"));
}

TEST_F(WindowTest, ClosingWhileBusyAsksAndYesStopsWithTheFileAsItWas)
{
    const std::string contents = kwtest::RandomBytes(4 << 20);
    kwtest::WriteFile(dir / "big.bin", contents);
    // Slow enough that the question comes while the work runs.
    diskHook = [](io::DiskStep step, std::uint64_t) {
        if (step == io::DiskStep::Write) Sleep(10);
        return 0;
    };
    for (const bool stop : {false, true}) {
        SCOPED_TRACE(stop ? "Yes" : "No");
        boxes.told.clear();
        boxes.answers = {stop};
        auto window = Open({(dir / "big.bin").string(), "/crypt"});
        SetWindowTextW(window->control(ids::Password), L"secret");
        SetWindowTextW(window->control(ids::PasswordAgain), L"secret");
        SendMessageW(window->control(ids::EncryptButton), BM_CLICK, 0, 0);
        ASSERT_TRUE(window->busy());
        EXPECT_FALSE(IsWindowEnabled(window->control(ids::CloseButton)));
        EXPECT_TRUE(IsWindowVisible(window->control(ids::ProgressBar)));
        EXPECT_EQ(WindowText(window->control(ids::ProgressBar)), W(words::EncryptionProgress));
        SendMessageW(window->hwnd(), WM_CLOSE, 0, 0);
        EXPECT_EQ(boxes.told, std::vector<std::string>{words::StopEncrypting});
        EXPECT_FALSE(window->ended()); // the window stays until the outcome shows
        const std::wstring outcome = Outcome(*window);
        if (stop) {
            EXPECT_EQ(outcome,
                      W(std::string(words::EncryptionStopped) + "\n" + words::NothingChanged));
            EXPECT_TRUE(kwtest::ReadFile(dir / "big.bin") == contents);
            EXPECT_EQ(kwtest::Listing(dir), std::vector<std::string>{"big.bin"});
        } else {
            EXPECT_EQ(outcome, W(words::EncryptionCompleted));
            fs::remove(dir / "big.bin.ksw");
            kwtest::WriteFile(dir / "big.bin", contents);
        }
    }
}

TEST_F(WindowTest, StartWritesTheEntriesAndUninstallRemovesThemOnYes)
{
    for (const bool yes : {false, true}) {
        SCOPED_TRACE(yes ? "Yes" : "No");
        boxes.told.clear();
        boxes.answers = {yes};
        auto window = Open({});
        EXPECT_EQ(RegistryValue(classes + L"\\.ksw"), L"Pellmora File");
        EXPECT_EQ(RegistryValue(classes + L"\\Pellmora File\\Shell\\Decrypt\\command"),
                  L"\"C:\\Program Files\\Kestrawin\\kestrawin.exe\" \"%1\" /encrypt");
        SendMessageW(window->control(ids::UninstallButton), BM_CLICK, 0, 0);
        std::vector<std::string> told{words::RemoveQuestion};
        if (yes) told.push_back(words::Removed);
        EXPECT_EQ(boxes.told, told);
        EXPECT_EQ(RegistryValue(classes + L"\\.ksw") == L"(none)", yes);
        EXPECT_EQ(RegistryValue(classes + L"\\Pellmora File") == L"(none)", yes);
    }
}

TEST_F(WindowTest, LeavingFromTheMainPageOpensTheProductPageAfterAPause)
{
    kwtest::WriteFile(dir / "a.txt", "a");
    const struct Row {
        std::vector<std::string> arguments;
        bool opens;
    } rows[] = {{{}, true}, {{(dir / "a.txt").string(), "/crypt"}, false}};
    for (const Row& row : rows) {
        opened.clear();
        slept = 0;
        auto window = Open(row.arguments);
        SendMessageW(window->hwnd(), WM_CLOSE, 0, 0);
        EXPECT_TRUE(window->ended());
        window.reset();
        ASSERT_EQ(opened.size(), row.opens ? 1U : 0U);
        if (row.opens) {
            EXPECT_EQ(opened.front(), W(startup::ProductPageAddress));
        }
        EXPECT_EQ(slept, row.opens ? 3000 : 0);
    }
}

} // namespace

namespace {

// The system's question box, open while the work ends: closed as No.
struct OpenQuestion {
    static inline SystemMessageBoxes* boxes = nullptr;
    static inline HWND owner = nullptr;
    static inline std::wstring caption;

    // The box the owner has, if any.
    static HWND Box()
    {
        HWND found = nullptr;
        EnumThreadWindows(
            GetCurrentThreadId(),
            [](HWND window, LPARAM data) -> BOOL {
                if (GetWindow(window, GW_OWNER) != owner) return TRUE;
                *reinterpret_cast<HWND*>(data) = window;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&found));
        return found;
    }
};

TEST(SystemMessageBoxes, AQuestionStillOpenWhenTheWorkEndsIsClosedAsNo)
{
    SystemMessageBoxes boxes;
    HWND owner = CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPED, 0, 0, 100, 100, nullptr,
                                 nullptr, nullptr, nullptr);
    ASSERT_NE(owner, nullptr);
    boxes.SetOwner(owner);
    OpenQuestion::boxes = &boxes;
    OpenQuestion::owner = owner;
    // While the box is open: its caption, then the end of the work.
    SetTimer(nullptr, 0, 300, [](HWND, UINT, UINT_PTR timer, DWORD) {
        KillTimer(nullptr, timer);
        OpenQuestion::caption = WindowText(OpenQuestion::Box());
        OpenQuestion::boxes->Dismiss();
    });
    // Were it not closed, Yes after a while, so that the test ends.
    SetTimer(nullptr, 0, 5000, [](HWND, UINT, UINT_PTR timer, DWORD) {
        KillTimer(nullptr, timer);
        if (HWND box = OpenQuestion::Box())
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), 0);
    });
    EXPECT_FALSE(boxes.Ask(words::StopEncrypting));
    EXPECT_EQ(OpenQuestion::caption, Wide(words::MessageCaption));
    DestroyWindow(owner);
}

} // namespace
