// SPDX-License-Identifier: Apache-2.0
#pragma once
// The program's one window on Windows, native (user32, gdi32, comctl32):
// four pages (Main, Encrypt, Decrypt, Outcome) in a fixed, always-on-top
// window of 200 x 149 client pixels. A view of the page model
// (pages/PageModel.h), as the Qt window is on Linux: the model says which
// page shows and what it says; this window lays it out, runs the work and
// asks the message boxes. Keyboard: Tab and Shift+Tab between the controls,
// Enter and Space on every button, Enter in a password field for the page's
// button, Escape where the model lets it close.

#include "Look.h"
#include "MessageBoxes.h"

#include "io/SafeFile.h"
#include "ops/KeyStore.h"
#include "pages/PageModel.h"
#include "shell/RegistryRegistration.h"
#include "workers/Work.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrawin::winui {

// The controls, as GetDlgItem finds them (tests use the same).
namespace controls {
enum : int {
    Title = 100,
    MainLine1,
    MainLine2,
    VendorLink,
    UninstallButton,
    MainUpdateButton,
    EnterPasswordLabel,
    Password,
    VerifyPasswordLabel,
    PasswordAgain,
    EncryptButton,
    EncryptUpdateButton,
    DecryptionCaption,
    DecryptLine1,
    DecryptLine2,
    DecryptPasswordLabel,
    DecryptPassword,
    DecryptButton,
    DecryptUpdateButton,
    OutcomeText,
    ProgressBar,
    DetailsButton,
    OutcomeUpdateButton,
    CloseButton,
};
} // namespace controls

// Everything the window takes from the world around it. Tests replace each
// piece; FromProcess gives the real ones.
struct WindowEnvironment {
    std::vector<std::string> arguments; // UTF-8, after the program, empty ones left out
    std::string workingDirectory;       // UTF-8
    std::wstring programPath;           // what the context menu starts
    shell::RegistryPlace registry;      // where the context-menu entries go
    std::string keyFolder;              // the key store
    MessageBoxes* messages = nullptr;   // null: the system's boxes
    std::function<void(const std::wstring& address)> openUrl; // null: ShellExecuteW
    std::function<void(int ms)> sleep;                        // null: Sleep
    io::DiskHook diskHook;                                    // tests: disk steps that fail
    std::optional<bool> highContrast;                         // tests; nothing: as Windows says

    static WindowEnvironment FromProcess(std::vector<std::string> arguments);
};

class MainWindow {
public:
    // Creates the window, hidden, and starts: the context-menu entries, the
    // key store with fresh pairs, the Main page.
    explicit MainWindow(WindowEnvironment environment);
    // Waits for running work, then, left from the Main page, opens the
    // product page after a pause.
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // The arguments the page is chosen from, in place of the start's: the
    // files of a gathering and the switch. Before Show.
    void UseArguments(std::vector<std::string> arguments) { env_.arguments = std::move(arguments); }

    // Shows the window centred on the desktop with the page the command line
    // asks for.
    void Show(int showCommand = SW_SHOWNORMAL);

    [[nodiscard]] HWND hwnd() const { return hwnd_; }
    [[nodiscard]] HWND control(int id) const { return GetDlgItem(hwnd_, id); }
    [[nodiscard]] int currentPage() const { return page_; }
    [[nodiscard]] bool busy() const { return work_ != nullptr; }
    [[nodiscard]] const pages::PageModel& model() const { return model_; }
    [[nodiscard]] bool hasKeys() const { return keys_ != nullptr; }
    // The window is gone, or the Close button ended the program.
    [[nodiscard]] bool ended() const { return ended_; }

    // The message loop's part for this window: the dialog keys.
    bool PreTranslate(MSG& message);

private:
    static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);

    void Create();
    HWND Add(int id, const wchar_t* type, const std::string& text, DWORD style, int x, int y,
             int width, int height);
    void Start();
    void ShowPage(int index);
    void ShowBusy();
    void DrawOutcome();
    void Paint();
    void DrawItem(const DRAWITEMSTRUCT& item);
    void DrawOutcomeText(HDC dc, RECT area);
    HBRUSH ColourStatic(HDC dc, HWND control);
    void Command(int id);
    void Close();
    void OpenWebPage(const char* address);
    MessageBoxes& Messages();

    void EncryptClicked();
    void DecryptClicked();
    void UninstallClicked();
    void DetailsClicked();
    void StartWork(Secret password);
    void AskToStop();
    void WorkDone();

    WindowEnvironment env_;
    SystemMessageBoxes systemMessages_;
    pages::PageModel model_;
    std::shared_ptr<const ops::KeyContainer> keys_;
    std::unique_ptr<workers::Work> work_;
    std::string startupProblem_;
    std::string details_;
    Colours colours_;
    Fonts fonts_;
    HBRUSH brushes_[4] = {}; // face, message area, paper, and the bar
    HWND hwnd_ = nullptr;
    int page_ = -1;
    bool shown_ = false;
    bool askingToStop_ = false;
    bool ended_ = false;
    ULONGLONG resultShownAt_ = 0;
};

// Runs the message loop until the program ends; gives WM_QUIT's code.
int RunMessageLoop(MainWindow& window);

} // namespace kestrawin::winui
