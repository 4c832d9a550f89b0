// SPDX-License-Identifier: Apache-2.0
#pragma once
// The window's message boxes, behind a seam so that tests answer them
// without a modal loop. Texts are UTF-8, as the words table has them.

#include <windows.h>

#include <string>

namespace kestrawin::winui {

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // Caption "Kestrawin 1.8", no icon, OK alone.
    virtual void Inform(const std::string& text) = 0;
    // Caption "Kestrawin 1.8", no icon, Yes and No with Yes the default. True for Yes.
    virtual bool Ask(const std::string& text) = 0;
    // Caption "Kestrawin", error icon, OK.
    virtual void Error(const std::string& text) = 0;
    // Closes the question that is open, as if No were answered; nothing when
    // none is.
    virtual void Dismiss() {}
    // The window the boxes belong to: it is disabled while one is open, and
    // the box stays above it.
    virtual void SetOwner(HWND /*owner*/) {}
};

// The system's boxes (MessageBoxW), modal to the window.
class SystemMessageBoxes final : public MessageBoxes {
public:
    void Inform(const std::string& text) override;
    bool Ask(const std::string& text) override;
    void Error(const std::string& text) override;
    void Dismiss() override;
    void SetOwner(HWND owner) override { owner_ = owner; }

private:
    HWND owner_ = nullptr;
    bool asking_ = false;
};

// UTF-16 of UTF-8 text; "\n\r" (a line feed then a carriage return) becomes
// one line break.
[[nodiscard]] std::wstring BoxText(const std::string& utf8);
// UTF-16 of UTF-8 text as it stands.
[[nodiscard]] std::wstring Wide(const std::string& utf8);

} // namespace kestrawin::winui
