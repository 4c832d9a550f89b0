// SPDX-License-Identifier: Apache-2.0
#pragma once
// What screen readers and other assistive tools get from the window: roles and
// names they understand, the status line spoken when it changes, and never the
// characters typed into a password field.

#include <QFrame>
#include <QLabel>

class QAccessibleEvent;
class QKeyEvent;

namespace kestrawin::ui {

// Installs the interfaces of the classes below and the filter that masks the
// text of password fields in every accessibility event. Once per process;
// calling it again does nothing.
void InstallAccessibility();

// True for a line edit whose text must never leave the process: any echo mode
// but Normal.
[[nodiscard]] bool IsSecretField(const QObject* object);

// The filter itself, for tests: an event from a secret field is handed on
// with every character of its text replaced by "*"; anything else as it is.
void FilterAccessibilityEvent(QAccessibleEvent* event);

// A bar of buttons: a plain panel for assistive tools (a bare frame would be
// announced as a window of its own, and its buttons not at all).
class BottomBar final : public QFrame {
    Q_OBJECT
public:
    explicit BottomBar(QWidget* parent);
};

// Lines of text that belong together: a panel for assistive tools, named
// by what the lines say, so that a screen reader reads them when the focus
// enters it.
class TextPane final : public QWidget {
    Q_OBJECT
public:
    explicit TextPane(QWidget* parent);
};

// A text link: announced as a link, and pressed like one. The keyboard
// reaches it as one control (Tab moves on), Enter and Space press it, and a
// dotted frame shows its focus. Its colour is the palette's link colour when
// setLink is called.
class LinkLabel final : public QLabel {
    Q_OBJECT
public:
    explicit LinkLabel(QWidget* parent);
    // What the link says, without markup.
    void setLink(const QString& address, const QString& text);
    [[nodiscard]] const QString& linkText() const { return linkText_; }
    [[nodiscard]] const QString& address() const { return address_; }

signals:
    void activated();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QString address_;
    QString linkText_;
};

// A status line whose every new text is announced as a notification. It
// takes the keyboard focus where nothing else can act (a dotted frame shows
// it), so that the focus never sits unseen.
class StatusLabel final : public QLabel {
    Q_OBJECT
public:
    explicit StatusLabel(QWidget* parent);
    // Sets the text and has it spoken: now if the label is in view, else as
    // soon as it comes into view.
    void setStatus(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// True for Enter, keypad Enter or Space pressed alone, not repeated: what
// presses a control.
[[nodiscard]] bool IsPress(const QKeyEvent* event);

} // namespace kestrawin::ui
