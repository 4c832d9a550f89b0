// SPDX-License-Identifier: Apache-2.0
#include "MainWindow.h"

#include "base/Words.h"
#include "io/WindowsPaths.h"
#include "shell/Registration.h"
#include "startup/Addresses.h"
#include "startup/CommandLine.h"
#include "startup/KeyStoreStart.h"
#include "startup/Placement.h"

#include <commctrl.h>
#include <shellapi.h>

#include <exception>
#include <utility>

namespace kestrawin::winui {
namespace {

constexpr int kClientWidth = 200;
constexpr int kClientHeight = 149;
constexpr int kBarHeight = 41;
constexpr int kBarTop = kClientHeight - kBarHeight;
constexpr int kTitleHeight = 33;
constexpr int kMessageHeight = 75;

// Posted by the work's thread to the window's.
constexpr UINT kProgressMessage = WM_APP + 1; // wParam: thousandths done
constexpr UINT kWorkDoneMessage = WM_APP + 2;
// Posted to itself once the page shows: a problem of the start.
constexpr UINT kStartupProblemMessage = WM_APP + 3;

constexpr const wchar_t* kClassName = L"KestrawinWindow";

enum Brush { FaceBrush, MessageBrush, PaperBrush, BarBrush };

// The controls of each page, in tab order (the order they are made in).
using namespace controls;
const std::vector<int> kPageControls[4] = {
    {Title, MainLine1, MainLine2, VendorLink, UninstallButton, MainUpdateButton},
    {EnterPasswordLabel, Password, VerifyPasswordLabel, PasswordAgain, EncryptButton,
     EncryptUpdateButton},
    {DecryptionCaption, DecryptLine1, DecryptLine2, DecryptPasswordLabel, DecryptPassword,
     DecryptButton, DecryptUpdateButton},
    {Title, OutcomeText, ProgressBar, DetailsButton, OutcomeUpdateButton, CloseButton},
};

bool IsButton(int id)
{
    switch (id) {
    case VendorLink:
    case UninstallButton:
    case MainUpdateButton:
    case EncryptButton:
    case EncryptUpdateButton:
    case DecryptButton:
    case DecryptUpdateButton:
    case DetailsButton:
    case OutcomeUpdateButton:
    case CloseButton: return true;
    default: return false;
    }
}

// The field's text as a Secret; the copies made on the way are wiped.
Secret PasswordOf(HWND field)
{
    const int length = GetWindowTextLengthW(field);
    std::wstring wide(static_cast<std::size_t>(length) + 1, L'\0');
    const int n = GetWindowTextW(field, wide.data(), length + 1);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), n, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), n, utf8.data(), bytes, nullptr, nullptr);
    Secret password{std::string_view(utf8)};
    Wipe(utf8.data(), utf8.size());
    Wipe(wide.data(), wide.size() * sizeof(wchar_t));
    return password;
}

SIZE TextSize(HWND window, HFONT font, const std::wstring& text)
{
    HDC dc = GetDC(window);
    const HGDIOBJ old = SelectObject(dc, font);
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(window, dc);
    return size;
}

// A name shortened in its middle to `width` pixels, with an ellipsis.
std::wstring ElideMiddle(HDC dc, const std::wstring& text, int width)
{
    auto fits = [dc, width](const std::wstring& s) {
        SIZE size{};
        GetTextExtentPoint32W(dc, s.c_str(), static_cast<int>(s.size()), &size);
        return size.cx <= width;
    };
    if (fits(text)) return text;
    for (std::size_t keep = text.size(); keep-- > 1;) {
        const std::size_t head = (keep + 1) / 2;
        const std::wstring shortened =
            text.substr(0, head) + L"\u2026" + text.substr(text.size() - (keep - head));
        if (fits(shortened)) return shortened;
    }
    return L"\u2026";
}

} // namespace

WindowEnvironment WindowEnvironment::FromProcess(std::vector<std::string> arguments)
{
    WindowEnvironment env;
    env.arguments = std::move(arguments);
    std::wstring cwd(MAX_PATH, L'\0');
    DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(cwd.size()), cwd.data());
    if (n > cwd.size()) {
        cwd.resize(n);
        n = GetCurrentDirectoryW(static_cast<DWORD>(cwd.size()), cwd.data());
    }
    cwd.resize(n);
    env.workingDirectory = io::Utf8FromWide(cwd);
    env.programPath = shell::RunningProgram().native();
    env.keyFolder = ops::KeyContainer::DefaultFolder();
    return env;
}

MainWindow::MainWindow(WindowEnvironment environment) : env_(std::move(environment))
{
    colours_ = ColoursFor(env_.highContrast ? *env_.highContrast : SystemHighContrast());
    Create();
    Messages().SetOwner(hwnd_);
    Start();
}

MainWindow::~MainWindow()
{
    // Nothing ends under running work: its output and the deletion of its
    // input finish first.
    if (work_) work_->Wait();
    work_.reset();
    if (hwnd_) DestroyWindow(hwnd_);
    for (HBRUSH brush : brushes_)
        if (brush) DeleteObject(brush);
    if (!model_.ClosingOpensProductPage()) return;
    if (env_.sleep)
        env_.sleep(3000);
    else
        Sleep(3000);
    OpenWebPage(startup::ProductPageAddress);
}

MessageBoxes& MainWindow::Messages()
{
    return env_.messages ? *env_.messages : systemMessages_;
}

// ------------------------------------------------------------------ window

void MainWindow::Create()
{
    INITCOMMONCONTROLSEX common{sizeof common, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&common);
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW type{};
    type.cbSize = sizeof type;
    type.lpfnWndProc = &MainWindow::Procedure;
    type.hInstance = instance;
    type.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    type.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
    type.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    type.lpszClassName = kClassName;
    RegisterClassExW(&type); // a second window of the process finds it made

    brushes_[FaceBrush] = CreateSolidBrush(colours_.face);
    brushes_[MessageBrush] = CreateSolidBrush(colours_.messageArea);
    brushes_[PaperBrush] = CreateSolidBrush(colours_.paper);
    brushes_[BarBrush] = CreateSolidBrush(colours_.face);

    // A single fixed border, the system menu and the minimise box only.
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    const DWORD extended = WS_EX_TOPMOST | WS_EX_CONTROLPARENT;
    RECT frame{0, 0, kClientWidth, kClientHeight};
    AdjustWindowRectEx(&frame, style, FALSE, extended);
    hwnd_ = CreateWindowExW(extended, kClassName, Wide(words::WindowCaption).c_str(), style,
                            CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                            frame.bottom - frame.top, nullptr, nullptr, instance, this);
    if (!hwnd_) return;

    const DWORD label = SS_LEFT | SS_NOPREFIX;
    const DWORD button = BS_OWNERDRAW | WS_TABSTOP;
    const DWORD field = ES_PASSWORD | ES_AUTOHSCROLL | WS_TABSTOP | WS_BORDER;
    const int barY = kBarTop + 8;

    // Main page (the title band is the Outcome page's too).
    Add(Title, L"STATIC", words::TitleBand, label | SS_CENTERIMAGE, 8, 8, 185, 17);
    Add(MainLine1, L"STATIC", words::MainLine1, label, 8, kTitleHeight + 10, 185, 14);
    Add(MainLine2, L"STATIC", words::MainLine2, label, 7, kTitleHeight + 26, 186, 14);
    const SIZE link = TextSize(hwnd_, fonts_.underlined, Wide(startup::VendorSiteText));
    Add(VendorLink, L"BUTTON", startup::VendorSiteText, button, 8, kTitleHeight + 48,
        static_cast<int>(link.cx) + 4, 15);
    Add(UninstallButton, L"BUTTON", words::Uninstall, button, 8, barY, 89, 25);
    Add(MainUpdateButton, L"BUTTON", words::Update, button, 104, barY, 89, 25);

    // Encrypt page: each box's caption sits on its frame's top line, padded
    // as the words say; assistive tools get it without the padding, as the
    // name of the field that follows it.
    auto caption = [this](int id, const char* padded, int y, int height) {
        std::string bare = padded;
        bare.erase(0, bare.find_first_not_of(' '));
        bare.erase(bare.find_last_not_of(' ') + 1);
        const SIZE size = TextSize(hwnd_, fonts_.text, Wide(padded));
        Add(id, L"STATIC", bare, SS_CENTER | SS_NOPREFIX, 8 + 6, y, static_cast<int>(size.cx),
            height);
    };
    caption(EnterPasswordLabel, words::EnterPasswordBox, 8 - 1, 14);
    Add(Password, L"EDIT", "", field, 8 + 8, 8 + 16, 169, 21);
    caption(VerifyPasswordLabel, words::VerifyPasswordBox, 56 - 1, 14);
    Add(PasswordAgain, L"EDIT", "", field, 8 + 8, 56 + 16, 169, 21);
    Add(EncryptButton, L"BUTTON", words::Encrypt, button, 8, barY, 89, 25);
    Add(EncryptUpdateButton, L"BUTTON", words::Update, button, 104, barY, 89, 25);

    // Decrypt page. The field's name is its own label, out of sight (the
    // page's lines say what to type); the lines are read with the page.
    caption(DecryptionCaption, words::DecryptionBox, 8 - 1, 14);
    Add(DecryptLine1, L"STATIC", words::DecryptLine1, label, 8 + 8, 8 + 16, 169, 14);
    Add(DecryptLine2, L"STATIC", words::DecryptLine2, label, 8 + 8, 8 + 32, 169, 14);
    Add(DecryptPasswordLabel, L"STATIC", words::PasswordName, label, 8 + 8, 8 + 56, 0, 0);
    Add(DecryptPassword, L"EDIT", "", field, 8 + 8, 8 + 56, 169, 21);
    Add(DecryptButton, L"BUTTON", words::Decrypt, button, 8, barY, 89, 25);
    Add(DecryptUpdateButton, L"BUTTON", words::Update, button, 104, barY, 89, 25);

    // Outcome page: the message takes the whole area between the bands; the
    // progress bar, or Details, at its foot.
    Add(OutcomeText, L"STATIC", "", SS_OWNERDRAW | SS_NOPREFIX | WS_TABSTOP, 0, kTitleHeight,
        kClientWidth, kMessageHeight);
    HWND bar = Add(ProgressBar, PROGRESS_CLASSW, "", 0, 12, kTitleHeight + kMessageHeight - 16,
                   kClientWidth - 24, 10);
    SendMessageW(bar, PBM_SETRANGE32, 0, 1000);
    Add(DetailsButton, L"BUTTON", words::Details, button, kClientWidth - 64,
        kTitleHeight + kMessageHeight - 19, 60, 17);
    Add(OutcomeUpdateButton, L"BUTTON", words::Update, button, 8, barY, 89, 25);
    Add(CloseButton, L"BUTTON", words::Close, button, 104, barY, 89, 25);
}

HWND MainWindow::Add(int id, const wchar_t* type, const std::string& text, DWORD style, int x,
                     int y, int width, int height)
{
    HWND control = CreateWindowExW(0, type, Wide(text).c_str(), WS_CHILD | style, x, y, width,
                                   height, hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                   GetModuleHandleW(nullptr), nullptr);
    const bool underlined =
        id == VendorLink || id == DetailsButton || id == DecryptButton || id == DecryptUpdateButton;
    HFONT font = id == Title ? fonts_.title : underlined ? fonts_.underlined : fonts_.text;
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return control;
}

void MainWindow::Start()
{
    // The context-menu entries, then the key store with fresh pairs, whatever
    // became of the entries: without keys every encryption would fail.
    const Result registered = shell::RegisterInRegistry(env_.programPath, env_.registry);
    if (!registered.ok()) startupProblem_ = registered.detail;
    keys_ = startup::OpenKeyStore(env_.keyFolder).keys;
    ShowPage(startup::MainPage);
}

void MainWindow::Show(int showCommand)
{
    if (!shown_) {
        shown_ = true;
        // Centred on the desktop's work area; a step aside for each window of
        // ours already open, so that none hides another.
        int slot = 0;
        for (HWND other = nullptr; (other = FindWindowExW(nullptr, other, kClassName, nullptr));)
            if (other != hwnd_ && IsWindowVisible(other)) ++slot;
        RECT area{}, frame{};
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
        GetWindowRect(hwnd_, &frame);
        const startup::Placement at = startup::PlaceWindow(
            slot, area.left, area.top, area.right - area.left, area.bottom - area.top,
            frame.right - frame.left, frame.bottom - frame.top);
        SetWindowPos(hwnd_, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    ShowWindow(hwnd_, showCommand);
    model_.Choose(startup::ChoosePage(env_.arguments, env_.workingDirectory));
    if (model_.page() == startup::OutcomePage)
        DrawOutcome();
    else
        ShowPage(model_.page());
    UpdateWindow(hwnd_);
    if (!startupProblem_.empty()) PostMessageW(hwnd_, kStartupProblemMessage, 0, 0);
}

// --------------------------------------------------------------- the pages

void MainWindow::ShowPage(int index)
{
    if (index < 0 || index > 3 || index == page_) return;
    page_ = index;
    for (int page = 0; page < 4; ++page)
        if (page != index)
            for (int id : kPageControls[page]) ShowWindow(control(id), SW_HIDE);
    for (int id : kPageControls[index]) {
        const bool shows =
            (id != ProgressBar || model_.busy()) && (id != DetailsButton || !details_.empty());
        ShowWindow(control(id), shows ? SW_SHOWNA : SW_HIDE);
    }
    InvalidateRect(hwnd_, nullptr, TRUE);
    // The first control of the page takes the keyboard: the password field,
    // the link, or the message (where nothing can be pressed while work runs).
    const int first = index == startup::EncryptPage   ? Password
                      : index == startup::DecryptPage ? DecryptPassword
                      : index == startup::MainPage    ? VendorLink
                                                      : OutcomeText;
    SetFocus(control(first));
}

void MainWindow::ShowBusy()
{
    details_.clear();
    SetWindowTextW(control(OutcomeText), Wide(model_.outcome().Joined()).c_str());
    EnableWindow(control(OutcomeUpdateButton), FALSE);
    EnableWindow(control(CloseButton), FALSE);
    HWND bar = control(ProgressBar);
    SetWindowTextW(bar, Wide(model_.ProgressName()).c_str());
    SendMessageW(bar, PBM_SETPOS, 0, 0);
    resultShownAt_ = 0;
    page_ = -1; // drawn anew with the bar
    ShowPage(startup::OutcomePage);
}

// The model's outcome; Details when it names files.
void MainWindow::DrawOutcome()
{
    const pages::OutcomeText& outcome = model_.outcome();
    details_.clear();
    for (const pages::Detail& detail : outcome.details)
        details_ += (details_.empty() ? "" : "\n") + detail.path + ": " + detail.reason;
    // Assistive tools read the whole text, names whole.
    SetWindowTextW(control(OutcomeText), Wide(outcome.Joined()).c_str());
    EnableWindow(control(OutcomeUpdateButton), TRUE);
    EnableWindow(control(CloseButton), TRUE);
    resultShownAt_ = GetTickCount64();
    page_ = -1;
    ShowPage(startup::OutcomePage);
    InvalidateRect(control(OutcomeText), nullptr, TRUE);
}

void MainWindow::Paint()
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(hwnd_, &paint);
    auto fill = [dc](int x, int y, int width, int height, HBRUSH brush) {
        const RECT r{x, y, x + width, y + height};
        FillRect(dc, &r, brush);
    };
    fill(0, 0, kClientWidth, kClientHeight, brushes_[FaceBrush]);
    if (page_ == startup::MainPage || page_ == startup::OutcomePage) {
        fill(0, 0, kClientWidth, kTitleHeight, brushes_[PaperBrush]);
        fill(0, kTitleHeight, kClientWidth, kMessageHeight, brushes_[MessageBrush]);
    } else {
        fill(0, 0, kClientWidth, kBarTop, brushes_[PaperBrush]);
        // The boxes' frames, half a line below their captions.
        HPEN pen = CreatePen(PS_SOLID, 1, colours_.boxFrame);
        const HGDIOBJ oldPen = SelectObject(dc, pen);
        const HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
        auto box = [dc](int y, int height) { Rectangle(dc, 8, y + 6, 8 + 185, y + height); };
        if (page_ == startup::EncryptPage) {
            box(8, 46);
            box(56, 46);
        } else {
            box(8, 89);
        }
        SelectObject(dc, oldBrush);
        SelectObject(dc, oldPen);
        DeleteObject(pen);
    }
    // The bottom bar, lowered.
    fill(0, kBarTop, kClientWidth, kBarHeight, brushes_[BarBrush]);
    RECT bar{0, kBarTop, kClientWidth, kClientHeight};
    if (colours_.highContrast) {
        HBRUSH frame = CreateSolidBrush(colours_.ink);
        FrameRect(dc, &bar, frame);
        DeleteObject(frame);
    } else {
        DrawEdge(dc, &bar, BDR_SUNKENOUTER, BF_RECT);
    }
    EndPaint(hwnd_, &paint);
}

HBRUSH MainWindow::ColourStatic(HDC dc, HWND control)
{
    const int id = GetDlgCtrlID(control);
    COLORREF text = colours_.ink;
    Brush background = PaperBrush;
    switch (id) {
    case Title: text = colours_.olive; break;
    case MainLine1: background = MessageBrush; break;
    case MainLine2:
        // The system's text colour where it reads on the fixed light blue.
        text = colours_.highContrast ? colours_.ink
                                     : Readable(colours_.windowText, colours_.messageArea);
        background = MessageBrush;
        break;
    case DecryptionCaption: text = colours_.navy; break;
    case Password:
    case PasswordAgain:
    case DecryptPassword:
        // The fields' background is fixed: a dark scheme's light text would
        // not show on it.
        text = colours_.highContrast ? colours_.ink : Readable(colours_.windowText, colours_.face);
        background = FaceBrush;
        break;
    default: break;
    }
    SetTextColor(dc, text);
    SetBkColor(dc, background == MessageBrush ? colours_.messageArea
                   : background == FaceBrush  ? colours_.face
                                              : colours_.paper);
    return brushes_[background];
}

void MainWindow::DrawItem(const DRAWITEMSTRUCT& item)
{
    HDC dc = item.hDC;
    RECT r = item.rcItem;
    const int id = static_cast<int>(item.CtlID);
    if (id == OutcomeText) {
        DrawOutcomeText(dc, r);
        return;
    }
    const bool link = id == VendorLink || id == DetailsButton;
    FillRect(dc, &r, brushes_[link ? MessageBrush : BarBrush]);
    const int length = GetWindowTextLengthW(item.hwndItem);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    GetWindowTextW(item.hwndItem, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(length));
    const bool disabled = (item.itemState & ODS_DISABLED) != 0;
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, disabled ? colours_.disabled : link ? colours_.link : colours_.buttons);
    RECT textArea = r;
    if (item.itemState & ODS_SELECTED) OffsetRect(&textArea, 1, 1);
    DrawTextW(dc, text.c_str(), length, &textArea,
              (id == VendorLink ? DT_LEFT : DT_CENTER) | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    if (item.itemState & ODS_SELECTED && !link) DrawEdge(dc, &r, BDR_SUNKENOUTER, BF_RECT);
    // Flat buttons have no bevel to light up: a dotted frame shows the focus.
    if (item.itemState & ODS_FOCUS) {
        RECT focus = r;
        if (!link) InflateRect(&focus, -3, -3);
        SetTextColor(dc, colours_.ink);
        DrawFocusRect(dc, &focus);
    }
}

// The outcome's lines in navy, centred; each name shortened in its middle to
// the width there is.
void MainWindow::DrawOutcomeText(HDC dc, RECT area)
{
    FillRect(dc, &area, brushes_[MessageBrush]);
    if (GetFocus() == GetDlgItem(hwnd_, OutcomeText)) {
        RECT focus = area;
        InflateRect(&focus, -2, -2);
        SetTextColor(dc, colours_.ink);
        DrawFocusRect(dc, &focus);
    }
    InflateRect(&area, -6, -4);
    const pages::OutcomeText& outcome = model_.outcome();
    const int width = area.right - area.left;
    std::wstring text;
    for (const pages::Line& line : outcome.lines) {
        if (!text.empty()) text += L"\r\n";
        text += line.name ? ElideMiddle(dc, Wide(line.text), width) : Wide(line.text);
    }
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, colours_.navy);
    RECT measure = area;
    const UINT format = DT_CENTER | DT_WORDBREAK | DT_NOPREFIX;
    DrawTextW(dc, text.c_str(), -1, &measure, format | DT_CALCRECT);
    const int height = measure.bottom - measure.top;
    // Four lines and Details: the text moves up to leave the button room.
    const bool top = !details_.empty() && outcome.lines.size() > 3;
    if (!top && height < area.bottom - area.top) area.top += (area.bottom - area.top - height) / 2;
    DrawTextW(dc, text.c_str(), -1, &area, format);
}

void MainWindow::OpenWebPage(const char* address)
{
    const std::wstring url = Wide(address);
    if (env_.openUrl)
        env_.openUrl(url);
    else
        ShellExecuteW(hwnd_, L"open", url.c_str(), nullptr, nullptr, SW_SHOW);
}

// ----------------------------------------------------------------- actions

void MainWindow::Command(int id)
{
    switch (id) {
    case EncryptButton: EncryptClicked(); break;
    case DecryptButton: DecryptClicked(); break;
    case UninstallButton: UninstallClicked(); break;
    case DetailsButton: DetailsClicked(); break;
    case VendorLink: OpenWebPage(startup::VendorSiteAddress); break;
    case MainUpdateButton:
    case EncryptUpdateButton:
    case DecryptUpdateButton:
    case OutcomeUpdateButton: OpenWebPage(startup::ProductPageAddress); break;
    case CloseButton:
        // Ends the program at once.
        ended_ = true;
        PostQuitMessage(0);
        break;
    default: break;
    }
}

void MainWindow::EncryptClicked()
{
    Secret first = PasswordOf(control(Password));
    const Secret second = PasswordOf(control(PasswordAgain));
    const pages::Check check = model_.CheckEncryptPasswords(first.view(), second.view());
    if (check.verdict == pages::Check::Verdict::Refuse) {
        Messages().Inform(check.message);
        return;
    }
    if (check.verdict == pages::Check::Verdict::Ask && !Messages().Ask(check.message)) return;
    model_.StartWork(ops::Direction::Encrypt);
    StartWork(std::move(first));
}

void MainWindow::DecryptClicked()
{
    Secret password = PasswordOf(control(DecryptPassword));
    const pages::Check check = model_.CheckDecryptPassword(password.view());
    if (check.verdict == pages::Check::Verdict::Refuse) {
        Messages().Inform(check.message);
        return;
    }
    model_.StartWork(ops::Direction::Decrypt);
    StartWork(std::move(password));
}

void MainWindow::StartWork(Secret password)
{
    ShowBusy();
    // The busy page is painted before the work starts; the work never waits
    // for this thread.
    UpdateWindow(hwnd_);
    work_ = std::make_unique<workers::Work>(model_.direction(), keys_, model_.files(),
                                            std::move(password));
    work_->UseDiskHook(env_.diskHook);
    HWND window = hwnd_;
    workers::Work::Callbacks callbacks;
    callbacks.progress = [window](std::uint64_t done, std::uint64_t total) {
        PostMessageW(window, kProgressMessage, total > 0 ? done * 1000 / total : 1000, 0);
    };
    callbacks.finished = [window] { PostMessageW(window, kWorkDoneMessage, 0, 0); };
    work_->Start(std::move(callbacks));
}

void MainWindow::WorkDone()
{
    if (!work_) return;
    const std::unique_ptr<workers::Work> done = std::move(work_);
    done->Wait(); // past its last callback: returns at once
    // Whether to stop is no question any more: the outcome shows instead.
    if (askingToStop_) Messages().Dismiss();
    model_.WorkDone(done->outcomes());
    DrawOutcome();
}

void MainWindow::AskToStop()
{
    // The work waits between chunks while the question is open, so that what
    // it says stays true; a file past its last chunk still finishes.
    askingToStop_ = true;
    work_->Hold();
    const bool stop = Messages().Ask(model_.StopQuestion());
    askingToStop_ = false;
    // The work may have ended while the question was open: the outcome stands.
    if (!work_) return;
    if (stop) work_->RequestCancel();
    work_->Resume();
}

void MainWindow::UninstallClicked()
{
    if (!Messages().Ask(words::RemoveQuestion)) return;
    const Result removal = shell::UnregisterFromRegistry(env_.registry);
    if (removal.ok())
        Messages().Inform(words::Removed);
    else
        Messages().Error(removal.detail);
}

void MainWindow::DetailsClicked()
{
    Messages().Inform(details_);
}

void MainWindow::Close()
{
    if (busy() || askingToStop_) {
        // Closing now would end the program under the work: the window stays
        // until the outcome (or the stop) shows.
        if (busy() && !askingToStop_) AskToStop();
        return;
    }
    keys_.reset();
    DestroyWindow(hwnd_);
}

bool MainWindow::PreTranslate(MSG& message)
{
    if (!hwnd_) return false;
    // The second click of a double click on Encrypt or Decrypt must not land
    // on the outcome's buttons, which stand where those stood.
    const bool press = message.message == WM_LBUTTONDOWN || message.message == WM_LBUTTONDBLCLK;
    const int id = GetParent(message.hwnd) == hwnd_ ? GetDlgCtrlID(message.hwnd) : 0;
    if (press && (id == OutcomeUpdateButton || id == CloseButton) && resultShownAt_ != 0
        && GetTickCount64() - resultShownAt_ < GetDoubleClickTime())
        return true;
    return IsDialogMessageW(hwnd_, &message);
}

// ---------------------------------------------------------------- messages

LRESULT CALLBACK MainWindow::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        static_cast<MainWindow*>(create->lpCreateParams)->hwnd_ = hwnd;
    }
    auto* window = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!window) return DefWindowProcW(hwnd, message, wParam, lParam);
    // Nothing may unwind through the system's frames: an error that escapes
    // a handler is told, and the loop goes on.
    try {
        return window->Handle(message, wParam, lParam);
    } catch (const std::exception& error) {
        window->Messages().Error(error.what());
    } catch (...) {
        window->Messages().Error(std::string(OutcomeReason(Outcome::InternalError)));
    }
    return 0;
}

LRESULT MainWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT: Paint(); return 0;
    case WM_ERASEBKGND: return 1;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
        return reinterpret_cast<LRESULT>(
            ColourStatic(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam)));
    case WM_DRAWITEM: DrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam)); return TRUE;
    case WM_SETCURSOR:
        // Buttons and links show a hand.
        if (IsButton(GetDlgCtrlID(reinterpret_cast<HWND>(wParam)))
            && IsWindowEnabled(reinterpret_cast<HWND>(wParam))) {
            SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32649))); // IDC_HAND
            return TRUE;
        }
        break;
    case WM_NEXTDLGCTL: {
        // Tab and Shift+Tab (IsDialogMessage asks the window for the move).
        HWND next = LOWORD(lParam) ? reinterpret_cast<HWND>(wParam)
                                   : GetNextDlgTabItem(hwnd_, GetFocus(), wParam != 0);
        if (next) {
            SetFocus(next);
            InvalidateRect(GetDlgItem(hwnd_, OutcomeText), nullptr, FALSE);
            wchar_t type[8] = {};
            GetClassNameW(next, type, 8);
            if (std::wstring(type) == L"Edit") SendMessageW(next, EM_SETSEL, 0, -1);
        }
        return 0;
    }
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        if (id == IDOK) {
            // Enter: on a button, that button; in a password field, the
            // page's own button.
            const int focus = GetDlgCtrlID(GetFocus());
            if (IsButton(focus))
                Command(focus);
            else if (page_ == startup::EncryptPage)
                Command(EncryptButton);
            else if (page_ == startup::DecryptPage)
                Command(DecryptButton);
            return 0;
        }
        if (id == IDCANCEL) {
            // Escape closes where nothing typed would be lost.
            if (model_.EscapeCloses()) PostMessageW(hwnd_, WM_CLOSE, 0, 0);
            return 0;
        }
        if (HIWORD(wParam) == BN_CLICKED && IsButton(id)) Command(id);
        return 0;
    }
    case kProgressMessage:
        SendMessageW(GetDlgItem(hwnd_, ProgressBar), PBM_SETPOS, wParam, 0);
        return 0;
    case kWorkDoneMessage: WorkDone(); return 0;
    case kStartupProblemMessage:
        if (!startupProblem_.empty()) Messages().Error(std::exchange(startupProblem_, {}));
        return 0;
    case WM_SYSCOLORCHANGE:
    case WM_SETTINGCHANGE:
        if (!env_.highContrast) {
            colours_ = ColoursFor(SystemHighContrast());
            for (HBRUSH& brush : brushes_) DeleteObject(brush);
            brushes_[FaceBrush] = CreateSolidBrush(colours_.face);
            brushes_[MessageBrush] = CreateSolidBrush(colours_.messageArea);
            brushes_[PaperBrush] = CreateSolidBrush(colours_.paper);
            brushes_[BarBrush] = CreateSolidBrush(colours_.face);
            RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
        }
        break;
    case WM_CLOSE: Close(); return 0;
    case WM_DESTROY:
        ended_ = true;
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        hwnd_ = nullptr;
        PostQuitMessage(0);
        return 0;
    default: break;
    }
    return DefWindowProcW(hwnd_, message, wParam, lParam);
}

int RunMessageLoop(MainWindow& window)
{
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (window.PreTranslate(message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

} // namespace kestrawin::winui
