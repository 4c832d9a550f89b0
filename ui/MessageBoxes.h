// SPDX-License-Identifier: Apache-2.0
#pragma once
// The message boxes, behind a seam so that tests answer them without timing.

#include <QPointer>
#include <QString>

class QMessageBox;
class QWidget;

namespace kestrawin::ui {

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // Caption "Kestrawin 1.8", no icon, OK alone.
    virtual void Inform(const QString& text) = 0;
    // Caption "Kestrawin 1.8", no icon, Yes and No with Yes the default. True for Yes.
    virtual bool Ask(const QString& text) = 0;
    // Caption "Kestrawin", error icon, OK: errors that escape a handler.
    virtual void Error(const QString& text) = 0;
    // As Inform, for a list whose lines may be shortened: `whole` says all of
    // it, as the box's tooltip and to assistive tools.
    virtual void List(const QString& text, const QString& whole) = 0;
    // Closes the question that is open, as if No were answered; nothing when
    // none is.
    virtual void Dismiss() {}
    // The window that the boxes belong to, once it exists: they stay above it.
    virtual void SetOwner(QWidget* /*window*/) {}
};

// Real boxes, modal to the whole application.
class DialogMessageBoxes final : public MessageBoxes {
public:
    explicit DialogMessageBoxes(QWidget* parent) : parent_(parent) {}
    void Inform(const QString& text) override;
    bool Ask(const QString& text) override;
    void Error(const QString& text) override;
    void List(const QString& text, const QString& whole) override;
    void Dismiss() override;
    // Boxes made without a parent get the window as theirs.
    void SetOwner(QWidget* window) override;

private:
    QWidget* parent_;
    QPointer<QMessageBox> question_; // the question on the screen, if any
};

// "\n\r" (a line feed then a carriage return) shown as one line break.
[[nodiscard]] QString DisplayText(const QString& text);

} // namespace kestrawin::ui
