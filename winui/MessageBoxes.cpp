// SPDX-License-Identifier: Apache-2.0
#include "MessageBoxes.h"

#include "base/Words.h"

namespace kestrawin::winui {
namespace {

int Show(HWND owner, const std::string& text, const char* caption, UINT type)
{
    // Above the always-on-top window it belongs to, and in front.
    return MessageBoxW(owner, BoxText(text).c_str(), Wide(caption).c_str(),
                       type | MB_SETFOREGROUND | (owner ? 0U : MB_TOPMOST));
}

} // namespace

std::wstring Wide(const std::string& utf8)
{
    if (utf8.empty()) return {};
    const int size = static_cast<int>(utf8.size());
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), n);
    return wide;
}

std::wstring BoxText(const std::string& utf8)
{
    std::wstring text = Wide(utf8);
    std::wstring shown;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\n' && i + 1 < text.size() && text[i + 1] == L'\r') ++i;
        if (text[i] == L'\r') continue;
        shown += text[i];
    }
    return shown;
}

void SystemMessageBoxes::Inform(const std::string& text)
{
    Show(owner_, text, words::MessageCaption, MB_OK);
}

bool SystemMessageBoxes::Ask(const std::string& text)
{
    asking_ = true;
    const int answer = Show(owner_, text, words::MessageCaption, MB_YESNO | MB_DEFBUTTON1);
    asking_ = false;
    return answer == IDYES;
}

void SystemMessageBoxes::Error(const std::string& text)
{
    Show(owner_, text, words::ApplicationTitle, MB_OK | MB_ICONERROR);
}

void SystemMessageBoxes::Dismiss()
{
    if (!asking_ || !owner_) return;
    // The box of this thread that the window owns: answered No.
    struct Search {
        HWND owner;
        HWND box = nullptr;
    } search{owner_};
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<Search*>(data);
            wchar_t name[16] = {};
            GetClassNameW(window, name, 16);
            if (GetWindow(window, GW_OWNER) == s->owner && std::wstring(name) == L"#32770") {
                s->box = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    if (search.box) PostMessageW(search.box, WM_COMMAND, MAKEWPARAM(IDNO, BN_CLICKED), 0);
}

} // namespace kestrawin::winui
