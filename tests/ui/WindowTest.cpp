// SPDX-License-Identifier: Apache-2.0
// The window for keyboard users and dark colour schemes, and what it says when
// the work is stopped, double-clicked through or refused.

#include "Harness.h"

#include "base/Words.h"
#include "ui/Accessibility.h"
#include "ui/Contrast.h"
#include "ui/Style.h"

#include "ops/Engine.h"

#include <QAbstractButton>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyleHints>
#include <QThread>
#include <QTimer>
#include <QWindow>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <vector>

using namespace kestrawin;
using namespace kestrawin::ui;
using namespace kestrawin::ui::testing;

namespace {

// A dark scheme of the kind desktops ship: light text on dark grey.
QPalette DarkPalette()
{
    QPalette p;
    const QColor dark(45, 45, 45), darker(30, 30, 30), light(238, 238, 236);
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(group, QPalette::Window, dark);
        p.setColor(group, QPalette::WindowText, light);
        p.setColor(group, QPalette::Base, darker);
        p.setColor(group, QPalette::Text, QColor(255, 255, 255));
        p.setColor(group, QPalette::Button, dark);
        p.setColor(group, QPalette::ButtonText, light);
        p.setColor(group, QPalette::Highlight, QColor(53, 132, 228));
    }
    return p;
}

// What a widget's text is drawn on: the nearest filled ancestor, or the
// white of the framed boxes.
QColor Background(QWidget* widget)
{
    for (QWidget* w = widget; w; w = w->parentWidget()) {
        if (qobject_cast<QGroupBox*>(w)) return Qt::white;
        if (w->autoFillBackground()) return w->palette().color(w->backgroundRole());
    }
    return widget->palette().color(QPalette::Window);
}

struct Shown {
    QString what;
    QColor text;
    QColor background;
};

// Every enabled text of the window with its colours.
QList<Shown> Texts(MainWindow& form)
{
    QList<Shown> shown;
    for (QLabel* label : form.findChildren<QLabel*>()) {
        const QColor text = label == Find<QLabel>(form, controls::VendorLink)
                                ? QColor(0, 0, 255) // the link's own colour
                                : label->palette().color(QPalette::Active, QPalette::WindowText);
        shown << Shown{label->text(), text, Background(label)};
    }
    for (QLineEdit* field : form.findChildren<QLineEdit*>())
        shown << Shown{field->objectName(),
                       field->palette().color(QPalette::Active, QPalette::Text),
                       field->palette().color(QPalette::Active, QPalette::Base)};
    for (QPushButton* button : form.findChildren<QPushButton*>())
        if (button->isEnabled())
            shown << Shown{button->text(),
                           button->palette().color(QPalette::Active, QPalette::ButtonText),
                           Background(button)};
    return shown;
}

// Places in this process's writable memory that hold `n` bytes which, each
// XORed with `mask`, give `masked`, in that order or reversed (as a number's
// limbs hold them). The test keeps only the masked form, so that its own copy
// is never found.
int CopiesInMemory(const std::uint8_t* masked, std::size_t n, std::uint8_t mask)
{
    const std::vector<std::uint8_t> forward(masked, masked + n),
        reversed(forward.rbegin(), forward.rend());
    std::ifstream maps("/proc/self/maps");
    const int mem = ::open("/proc/self/mem", O_RDONLY | O_CLOEXEC);
    if (mem < 0) return -1;
    std::vector<std::uint8_t> buffer(std::size_t{1} << 20);
    // The scan's own buffer holds what it read last, masked: read again and
    // unmasked, it would give back the masked pattern itself. It is skipped.
    const auto own = reinterpret_cast<unsigned long>(buffer.data());
    const unsigned long ownEnd = own + buffer.size();
    int found = 0;
    std::string line;
    while (std::getline(maps, line)) {
        unsigned long from = 0, to = 0;
        char perms[5] = {};
        if (std::sscanf(line.c_str(), "%lx-%lx %4s", &from, &to, perms) != 3) continue;
        // Larger than any heap or stack here: a sanitizer's shadow, reserved and empty.
        if (perms[0] != 'r' || perms[1] != 'w' || to - from > (1ul << 32)) continue;
        for (unsigned long at = from; at < to;) {
            if (at >= own && at < ownEnd) {
                at = ownEnd;
                continue;
            }
            const unsigned long stop = at < own && own < to ? own : to;
            const std::size_t want = std::min<std::size_t>(buffer.size(), stop - at);
            const ssize_t got = ::pread(mem, buffer.data(), want, static_cast<off_t>(at));
            if (got <= 0) break;
            for (ssize_t i = 0; i < got; ++i) buffer[static_cast<std::size_t>(i)] ^= mask;
            const auto end = buffer.begin() + got;
            for (const auto* pattern : {&forward, &reversed})
                for (auto it = std::search(buffer.begin(), end, pattern->begin(), pattern->end());
                     it != end; it = std::search(it + 1, end, pattern->begin(), pattern->end()))
                    ++found;
            // Overlapping by n - 1, so that a copy across two reads is seen.
            const auto step = static_cast<unsigned long>(got);
            at += step > n ? step - (n - 1) : step;
        }
    }
    ::close(mem);
    return found;
}

QImage Grab(QWidget* widget)
{
    return widget->grab().toImage();
}

// Clicks at a point of the window, wherever that lands, as a mouse would.
void ClickAt(MainWindow& form, QWidget* over)
{
    QTest::mouseClick(form.windowHandle(), Qt::LeftButton, {},
                      over->mapTo(&form, over->rect().center()));
}

} // namespace

class WindowTest : public QObject {
    Q_OBJECT

private slots:
    void textsStayReadableUnderADarkScheme()
    {
        QCOMPARE(qRound(contrast::Ratio(Qt::black, Qt::white)), 21);
        QCOMPARE(contrast::Ratio(QColor(90, 90, 90), QColor(90, 90, 90)), 1.0);
        const QPalette before = QApplication::palette();
        QApplication::setPalette(DarkPalette());
        Harness h;
        for (auto args : {std::vector<std::string>{},
                          {"/x/f.txt", "/crypt"},
                          {"/x/f.ksw", "/encrypt"},
                          {"/x/f.ksw", "/crypt"}}) {
            auto form = h.Open(args);
            for (const Shown& text : Texts(*form)) {
                const double ratio = contrast::Ratio(text.text, text.background);
                if (text.what == QStringLiteral("Kestrawin")) {
                    // The title's own olive on white, kept as it always was.
                    QCOMPARE(text.text, QColor(128, 128, 0));
                    QVERIFY(ratio > 4.1 && ratio < 4.3);
                    continue;
                }
                QVERIFY2(ratio >= 4.5,
                         qPrintable(QStringLiteral("\"%1\": %2 on %3, %4:1")
                                        .arg(text.what, text.text.name(), text.background.name())
                                        .arg(ratio, 0, 'f', 2)));
            }
        }
        // A light scheme keeps the desktop's own text colour.
        QApplication::setPalette(before);
        auto form = h.Open({});
        const QColor system = QApplication::palette().color(QPalette::WindowText);
        for (const Shown& text : Texts(*form))
            if (text.what == QStringLiteral("to encrypt and decrypt your file"))
                QCOMPARE(text.text, system);
    }

    // A high-contrast desktop, told by its theme's name or by its own colours:
    // the window takes its colours. Any other keeps the window's own.
    void highContrastColoursAreFollowed_data()
    {
        QTest::addColumn<QString>("theme");
        QTest::addColumn<bool>("blackDesktop"); // the desktop's own colours: white on black
        QTest::addColumn<QColor>("text");       // invalid: the window keeps its colours
        QTest::addColumn<QColor>("background");
        const QColor black(0, 0, 0), white(255, 255, 255);
        QTest::newRow("light") << QString() << false << QColor() << QColor();
        QTest::newRow("dark by name")
            << QStringLiteral("Adwaita:dark") << false << QColor() << QColor();
        QTest::newRow("high contrast by name")
            << QStringLiteral("HighContrast") << false << black << white;
        QTest::newRow("inverse by name")
            << QStringLiteral("HighContrastInverse") << false << white << black;
        QTest::newRow("dark variant by name")
            << QStringLiteral("HighContrast:dark") << false << white << black;
        QTest::newRow("desktop's own colours") << QString() << true << white << black;
    }

    void highContrastColoursAreFollowed()
    {
        QFETCH(QString, theme);
        QFETCH(bool, blackDesktop);
        QFETCH(QColor, text);
        QFETCH(QColor, background);
        const QPalette before = QApplication::palette();
        if (blackDesktop) {
            QPalette p;
            for (auto group : {QPalette::Active, QPalette::Inactive}) {
                for (auto role : {QPalette::Window, QPalette::Base, QPalette::Button})
                    p.setColor(group, role, Qt::black);
                for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
                    p.setColor(group, role, Qt::white);
                p.setColor(group, QPalette::Link, QColor(255, 255, 0));
            }
            QApplication::setPalette(p);
        }
        Harness h;
        for (auto args : {std::vector<std::string>{},
                          {"/x/f.txt", "/crypt"},
                          {"/x/f.ksw", "/encrypt"},
                          {"/x/f.ksw", "/crypt"}}) {
            WindowEnvironment env = h.Environment(args);
            env.desktopTheme = theme;
            MainWindow form(std::move(env));
            form.show();
            const QImage image = Grab(&form);
            QHash<QRgb, int> count;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x) ++count[image.pixel(x, y) | 0xff000000];
            const QString where = QStringLiteral("page %1").arg(form.currentPage());
            if (!text.isValid()) {
                // The bars' grey, and the blue of the message area where there is one.
                QVERIFY2(count.value(style::Face.rgb()) > 4000, qPrintable(where));
                if (form.currentPage() == 0 || form.currentPage() == 3)
                    QVERIFY2(count.value(style::MessageArea.rgb()) > 8000, qPrintable(where));
                continue;
            }
            // The desktop's background and text; of the window's own colours
            // at most a few pixels where a letter's edge blends into one.
            QVERIFY2(count.value(background.rgb()) > image.width() * image.height() / 2,
                     qPrintable(where));
            QVERIFY2(count.value(text.rgb()) > 50, qPrintable(where));
            for (const QColor& own :
                 {style::Face, style::MessageArea, style::Olive, style::Navy, style::Blue})
                QVERIFY2(count.value(own.rgb()) < 30,
                         qPrintable(QStringLiteral("%1: %2 pixels of %3")
                                        .arg(where)
                                        .arg(count.value(own.rgb()))
                                        .arg(own.name())));
        }
        QApplication::setPalette(before);
    }

    void keyboardFocusOnAFlatButtonShows()
    {
        Harness h;
        auto form = h.Open({"/x/f.txt", "/crypt"});
        QWidget* bar = Find<QPushButton>(*form, controls::EncryptButton)->parentWidget();
        const QImage unfocused = Grab(bar);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), Find<QPushButton>(*form, controls::EncryptButton));
        const QImage onEncrypt = Grab(bar);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(),
                 Find<QPushButton>(*form, controls::EncryptUpdateButton));
        const QImage onUpdate = Grab(bar);
        QVERIFY(onEncrypt != unfocused);
        QVERIFY(onEncrypt != onUpdate);
        QVERIFY(onUpdate != unfocused);
    }

    // Every control that acts, on every page: its keyboard focus shows, and
    // Enter, keypad Enter and Space each press it once.
    void everyControlShowsItsFocusAndTakesEnterAndSpace_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("control");
        const QStringList main, encrypt{"/x/f.txt", "/crypt"}, decrypt{"/x/f.ksw", "/encrypt"},
            outcome{"/x/f.ksw", "/crypt"};
        QTest::newRow("link") << main << "vendorLink";
        QTest::newRow("uninstall") << main << "uninstallButton";
        QTest::newRow("update, main") << main << "mainUpdateButton";
        QTest::newRow("encrypt") << encrypt << "encryptButton";
        QTest::newRow("update, encrypt") << encrypt << "encryptUpdateButton";
        QTest::newRow("decrypt") << decrypt << "decryptButton";
        QTest::newRow("update, decrypt") << decrypt << "decryptUpdateButton";
        QTest::newRow("outcome") << outcome << "outcomeLine";
        QTest::newRow("details") << outcome << "detailsButton";
        QTest::newRow("update, outcome") << outcome << "outcomeUpdateButton";
        QTest::newRow("close") << outcome << "closeButton";
    }

    void everyControlShowsItsFocusAndTakesEnterAndSpace()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, control);
        Harness h;
        std::vector<std::string> arguments;
        for (const QString& a : args) arguments.push_back(S(a));
        auto form = h.Open(arguments);
        const QHash<QString, QWidget*> controls{
            {"vendorLink", Find<QLabel>(*form, controls::VendorLink)},
            {"uninstallButton", Find<QPushButton>(*form, controls::UninstallButton)},
            {"mainUpdateButton", Find<QPushButton>(*form, controls::MainUpdateButton)},
            {"encryptButton", Find<QPushButton>(*form, controls::EncryptButton)},
            {"encryptUpdateButton", Find<QPushButton>(*form, controls::EncryptUpdateButton)},
            {"decryptButton", Find<QPushButton>(*form, controls::DecryptButton)},
            {"decryptUpdateButton", Find<QPushButton>(*form, controls::DecryptUpdateButton)},
            {"outcomeLine", Find<QLabel>(*form, controls::OutcomeLine)},
            {"detailsButton", Find<QPushButton>(*form, controls::DetailsButton)},
            {"outcomeUpdateButton", Find<QPushButton>(*form, controls::OutcomeUpdateButton)},
            {"closeButton", Find<QPushButton>(*form, controls::CloseButton)}};
        QWidget* widget = controls.value(control);
        QVERIFY(widget);
        widget->show(); // the Details button shows after some batches only
        widget->clearFocus();
        const QImage unfocused = Grab(widget);
        widget->setFocus(Qt::TabFocusReason);
        QVERIFY(widget->hasFocus());
        QVERIFY2(Grab(widget) != unfocused, "no sign of the focus");

        // The presses are counted, not acted on.
        auto* button = qobject_cast<QAbstractButton*>(widget);
        auto* link = qobject_cast<LinkLabel*>(widget);
        if (!button && !link) return; // the message takes the focus, nothing more
        QObject::disconnect(widget, nullptr, form.get(), nullptr);
        QSignalSpy pressed(widget, button ? SIGNAL(clicked()) : SIGNAL(activated()));
        QTest::keyClick(widget, Qt::Key_Return);
        QCOMPARE(pressed.size(), 1);
        QTest::keyClick(widget, Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(pressed.size(), 2);
        QTest::keyClick(widget, Qt::Key_Space);
        QCOMPARE(pressed.size(), 3);
    }

    void escapeClosesWhereNothingIsLost()
    {
        Harness h;
        auto main = h.Open({});
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : main.get(),
                        Qt::Key_Escape);
        QVERIFY(!main->isVisible());

        auto encrypt = h.Open({"/x/f.txt", "/crypt"});
        QTest::keyClicks(Find<QLineEdit>(*encrypt, controls::Password), QStringLiteral("typed"));
        QTest::keyClick(Find<QLineEdit>(*encrypt, controls::Password), Qt::Key_Escape);
        QVERIFY(encrypt->isVisible());
        QCOMPARE(Find<QLineEdit>(*encrypt, controls::Password)->text(), QStringLiteral("typed"));

        auto result = h.Open({"/x/f.ksw", "/crypt"}); // "This file is encrypted"
        QTest::keyClick(result.get(), Qt::Key_Escape);
        QVERIFY(!result->isVisible());
    }

    void closingWhileWorkingAsksAndStopsCleanly()
    {
        Harness h;
        const QByteArray big(24 << 20, 'x');
        QVERIFY(h.Write(QStringLiteral("big"), big));
        auto form = h.Open({S(h.path(QStringLiteral("big")))});
        EncryptWith(*form, QStringLiteral("password1"));
        QVERIFY(form->busy());
        QTest::keyClick(form.get(), Qt::Key_Escape); // not while working
        QVERIFY(h.messages.shown.isEmpty());

        h.messages.answers = {true};
        QVERIFY(!form->close()); // asked; Yes stops the work...
        QCOMPARE(h.messages.shown,
                 QStringList{QStringLiteral("ask: ")
                             + QStringLiteral("The file is still being encrypted.\n\rDo you want "
                                              "to stop? The file will stay as it was.")});
        QVERIFY(form->isVisible());
        QVERIFY(WaitForWork(*form));
        // ...which says so, and leaves everything as it was.
        QCOMPARE(Find<QLabel>(*form, controls::OutcomeLine)->text(),
                 QStringLiteral("Encryption stopped\nThe file has not been changed"));
        QCOMPARE(h.Read(QStringLiteral("big")), big);
        QCOMPARE(QDir(h.path(QString())).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("big")});
        QVERIFY(form->isVisible());
        QVERIFY(form->close()); // now it closes
    }

    // Stopping several files: while the question is open nothing finishes;
    // the summary leads with the stop and counts what was done; the files not
    // done are as they were, and Details says "stopped" of them too.
    void stoppingABatchSaysSo()
    {
        Harness h;
        const QByteArray data(4 << 20, 'z');
        const QStringList names{QStringLiteral("one"), QStringLiteral("two")};
        for (const QString& name : names) QVERIFY(h.Write(name, data));
        auto form =
            h.Open({S(h.path(QStringLiteral("one"))), S(h.path(QStringLiteral("two"))), "/crypt"});
        EncryptWith(*form, QStringLiteral("password1"));
        QVERIFY(form->busy());
        auto finished = [&] {
            QStringList done;
            for (const QString& name : names)
                if (!QFile::exists(h.path(name))) done << name;
            return done;
        };
        h.messages.answers = {true};
        h.messages.whileAsking = [&] {
            const QStringList before = finished();
            QTest::qWait(400); // much longer than these files take
            QCOMPARE(finished(), before);
            QVERIFY(form->busy());
        };
        QVERIFY(!form->close());
        h.messages.whileAsking = nullptr;
        QCOMPARE(h.messages.shown.value(0),
                 QStringLiteral("ask: The files are still being encrypted.\n\rDo you want to stop? "
                                "Files not finished yet stay as they were."));
        QVERIFY(WaitForWork(*form));

        const QStringList lines =
            Find<QLabel>(*form, controls::OutcomeLine)->text().split(QLatin1Char('\n'));
        QCOMPARE(lines.value(0), QStringLiteral("Encryption stopped"));
        int encrypted = 0;
        for (const QString& name : names) {
            if (QFile::exists(h.path(name + QStringLiteral(".ksw"))))
                ++encrypted;
            else
                QCOMPARE(h.Read(name), data);
        }
        QCOMPARE(lines.value(1), QStringLiteral("%1 of 2 files encrypted").arg(encrypted));
        QCOMPARE(lines.size(), 2); // no failure to name: stopping is not one
        if (encrypted < 2) {
            h.messages.shown.clear();
            QTest::mouseClick(Find<QPushButton>(*form, controls::DetailsButton), Qt::LeftButton);
            const QStringList details = h.messages.shown.value(0).split(QLatin1Char('\n'));
            QCOMPARE(details.size(), 2 - encrypted);
            for (const QString& line : details)
                QVERIFY2(line.endsWith(QStringLiteral(": Stopped, the file has not been changed")),
                         qPrintable(line));
        }
        QVERIFY(form->close());
    }

    void goingOnKeepsTheWindowUntilTheOutcomeShows()
    {
        Harness h;
        QVERIFY(h.Write(QStringLiteral("big"), QByteArray(24 << 20, 'y')));
        auto form = h.Open({S(h.path(QStringLiteral("big")))});
        EncryptWith(*form, QStringLiteral("password1"));
        h.messages.answers = {false};
        QVERIFY(!form->close());
        QVERIFY(WaitForWork(*form));
        QCOMPARE(Find<QLabel>(*form, controls::OutcomeLine)->text(),
                 QStringLiteral("Encryption completed"));
        QVERIFY(form->isVisible()); // the outcome stays in view
        QVERIFY(!QFile::exists(h.path(QStringLiteral("big"))));
    }

    // The work ends while the question is open (it was past its last chunk):
    // the question goes, the outcome shows, and a late Yes changes nothing.
    void theQuestionGoesWhenTheWorkEndsUnderIt()
    {
        Harness h;
        QVERIFY(h.Write(QStringLiteral("two"), QByteArray(1 << 20, 'z')));
        std::atomic<bool> flushing{false}, release{false};
        h.diskHook = [&](io::DiskStep step, std::uint64_t) {
            if (step != io::DiskStep::Flush || flushing.exchange(true)) return 0;
            while (!release.load()) QThread::msleep(1);
            return 0;
        };
        auto form = h.Open({S(h.path(QStringLiteral("two")))});
        EncryptWith(*form, QStringLiteral("password1"));
        QTRY_VERIFY(flushing.load());
        h.messages.answers = {true};
        h.messages.whileAsking = [&] {
            release = true;
            QVERIFY(WaitForWork(*form));
        };
        QVERIFY(!form->close());
        h.messages.whileAsking = nullptr;
        QCOMPARE(h.messages.shown,
                 (QStringList{QStringLiteral("ask: The file is still being encrypted.\n\rDo you "
                                             "want to stop? The file will stay as it was."),
                              QStringLiteral("dismissed")}));
        QCOMPARE(Find<QLabel>(*form, controls::OutcomeLine)->text(),
                 QStringLiteral("Encryption completed"));
        QVERIFY(form->isVisible());
        QVERIFY(QFile::exists(h.path(QStringLiteral("two.ksw"))));
        QVERIFY(!QFile::exists(h.path(QStringLiteral("two"))));

        // A real box goes the same way: as if answered No.
        DialogMessageBoxes boxes(nullptr);
        bool open = false, answeredByHand = false;
        QTimer::singleShot(0, [&] {
            open = QApplication::activeModalWidget() != nullptr;
            boxes.Dismiss();
        });
        QTimer::singleShot(5000, [&] {
            if (QWidget* box = QApplication::activeModalWidget()) {
                answeredByHand = true;
                box->close();
            }
        });
        QVERIFY(!boxes.Ask(QStringLiteral("Stop?")));
        QVERIFY(open);
        QVERIFY(!answeredByHand);
    }

    void theSecondClickOfADoubleClickIsNotAClickOnTheOutcome()
    {
        QStyleHints* hints = QGuiApplication::styleHints();
        const int interval = hints->mouseDoubleClickInterval();
        hints->setMouseDoubleClickInterval(60000); // the second click surely comes within it
        Harness h;
        QVERIFY(h.Write(QStringLiteral("small"), "a few bytes"));
        auto form = h.Open({S(h.path(QStringLiteral("small"))), "/crypt"});
        Find<QLineEdit>(*form, controls::Password)->setText(QStringLiteral("password1"));
        Find<QLineEdit>(*form, controls::PasswordAgain)->setText(QStringLiteral("password1"));
        ClickAt(*form, Find<QPushButton>(*form, controls::EncryptButton));
        QVERIFY(WaitForWork(*form));
        QCOMPARE(Find<QLabel>(*form, controls::OutcomeLine)->text(),
                 QStringLiteral("Encryption completed"));
        ClickAt(*form, Find<QPushButton>(*form, controls::EncryptButton)); // where Update now is
        QVERIFY(h.opened.isEmpty());

        hints->setMouseDoubleClickInterval(1); // a later, deliberate click works
        QTest::qWait(20);
        ClickAt(*form, Find<QPushButton>(*form, controls::OutcomeUpdateButton));
        QCOMPARE(h.opened, QList<QUrl>{QUrl(QStringLiteral("https://kestrawin.example/product"))});
        hints->setMouseDoubleClickInterval(interval);
    }

    // Once the outcome shows, no copy of the key (the password's SHA-1, whose
    // first 16 bytes are the RC2 key) is left anywhere in the process.
    void noCopyOfTheKeyStaysAfterTheWork_data()
    {
        QTest::addColumn<QString>("world");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("encrypted") << "encrypt"
                                   << "Encryption completed";
        QTest::newRow("encrypted, original kept")
            << "keep"
            << "Encryption completed\nThe original file was moved or deleted during the work";
        QTest::newRow("decrypted") << "decrypt"
                                   << "Decryption completed";
        QTest::newRow("wrong password") << "wrong"
                                        << "Invalid password!";
    }

    void noCopyOfTheKeyStaysAfterTheWork()
    {
        QFETCH(QString, world);
        QFETCH(QString, outcome);
        // The first 16 bytes of the SHA-1 of "password1", each XORed with 0x5a:
        // the test itself holds no copy.
        static const std::uint8_t masked[16] = {0xb9, 0xd0, 0x88, 0x4e, 0xce, 0x67, 0xf0, 0x8b,
                                                0x8c, 0x16, 0x4a, 0x75, 0xf4, 0x98, 0xc7, 0xbe};
        Harness h;
        const QString doc = h.path(QStringLiteral("doc"));
        QVERIFY(h.Write(QStringLiteral("doc"), "version 1"));
        if (world == "keep")
            h.diskHook = [&](io::DiskStep step, std::uint64_t) {
                if (step == io::DiskStep::Flush) QFile::remove(doc);
                return 0;
            };
        std::unique_ptr<MainWindow> form;
        if (world == "encrypt" || world == "keep") {
            form = h.Open({S(doc), "/crypt"});
            EncryptWith(*form, QStringLiteral("password1"));
        } else {
            ops::KeyContainer keys;
            QVERIFY(ops::KeyContainer::Acquire(S(h.path(QStringLiteral("keys"))), &keys).ok());
            QVERIFY(keys.RegenerateKeyPairs().ok());
            QVERIFY(
                ops::EncryptSelectedFile(keys, S(doc), world == "wrong" ? "password2" : "password1")
                    .ok());
            form = h.Open({S(doc) + ".ksw", "/encrypt"});
            Find<QLineEdit>(*form, controls::DecryptPassword)->setText(QStringLiteral("password1"));
            QTest::mouseClick(Find<QPushButton>(*form, controls::DecryptButton), Qt::LeftButton);
        }
        QVERIFY(WaitForWork(*form));
        QCOMPARE(Find<QLabel>(*form, controls::OutcomeLine)->text(), outcome);
        QCOMPARE(CopiesInMemory(masked, sizeof masked, 0x5a), 0);
    }

    void reasonsSayWhatIsWrong()
    {
        Harness h;
        const QString longName(255, QLatin1Char('n')); // no room left for ".ksw"
        QVERIFY(h.Write(longName, "plain"));
        auto form = h.Open({S(h.path(longName)), "/crypt"});
        EncryptWith(*form, QStringLiteral("password1"));
        QVERIFY(WaitForWork(*form));
        QCOMPARE(Find<QLabel>(*form, controls::OutcomeLine)->text(),
                 QStringLiteral("Encryption failed\nThe file name is too long"));
        QCOMPARE(h.Read(longName), QByteArray("plain"));

        // Chosen in the menu, then deleted before the password was typed.
        QVERIFY(h.Write(QStringLiteral("doomed"), "plain"));
        form = h.Open({S(h.path(QStringLiteral("doomed"))), "/crypt"});
        QVERIFY(QFile::remove(h.path(QStringLiteral("doomed"))));
        EncryptWith(*form, QStringLiteral("password1"));
        QVERIFY(WaitForWork(*form));
        QCOMPARE(Find<QLabel>(*form, controls::OutcomeLine)->text(),
                 QStringLiteral("Encryption failed\nThe file does not exist"));
    }
};

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    style::Apply(app);
    WindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "WindowTest.moc"
