// SPDX-License-Identifier: Apache-2.0
// The window, driven by keyboard and clicks on Qt's offscreen platform, with
// real files through the workers. Message boxes are answered through the
// MessageBoxes seam; web pages and the closing pause are recorded.

#include "Harness.h"

#include "base/Words.h"
#include "ui/MainWindow.h"
#include "ui/Style.h"

#include "ops/Engine.h"

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QStyleHints>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <memory>
#include <optional>

using namespace kestrawin;
using namespace kestrawin::ops;
using namespace kestrawin::ui;
using namespace kestrawin::ui::testing;

namespace {

// Types the password and presses Enter, as a user would.
void Type(QWidget* field, const QString& text)
{
    QTest::keyClicks(field, text);
}

// While it lives, file permissions count even for root: the capabilities that
// override them leave this thread's effective set (threads started meanwhile
// inherit that).
class PermissionsCount {
public:
    PermissionsCount()
    {
        header_.version = _LINUX_CAPABILITY_VERSION_3;
        if (syscall(SYS_capget, &header_, saved_) != 0) return;
        __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        active_ = syscall(SYS_capset, &header_, reduced) == 0;
    }
    ~PermissionsCount()
    {
        if (active_) (void)syscall(SYS_capset, &header_, saved_);
    }

private:
    __user_cap_header_struct header_{};
    __user_cap_data_struct saved_[2]{};
    bool active_ = false;
};

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void windowIsFixedSmallAndOnTop()
    {
        Harness h;
        auto form = h.Open({});
        QCOMPARE(form->windowTitle(), QStringLiteral("Pellmora"));
        QCOMPARE(form->size(), QSize(200, 149));
        QCOMPARE(form->minimumSize(), form->maximumSize());
        QVERIFY(form->windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(form->windowFlags() & Qt::WindowMinimizeButtonHint);
        QVERIFY(!(form->windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(form->currentPage(), 0);
        QCOMPARE(Find<QPushButton>(*form, controls::UninstallButton)->text(),
                 QStringLiteral("Uninstall"));
        QCOMPARE(Find<QPushButton>(*form, controls::MainUpdateButton)->text(),
                 QStringLiteral("Update"));
        QVERIFY(form->hasKeys());
        // Registration ran first, in the scratch home.
        QVERIFY(QFile::exists(
            h.path(QStringLiteral(".local/share/applications/kestrawin-decrypt.desktop"))));
        // No text is cut off: every label fits inside the window.
        for (QLabel* label : form->findChildren<QLabel*>()) {
            const QRect inWindow(label->mapTo(form.get(), QPoint(0, 0)), label->sizeHint());
            if (label == Find<QLabel>(*form, controls::OutcomeLine)) continue;
            QVERIFY2(QRect(0, 0, 200, 149).contains(inWindow), qPrintable(label->text()));
        }
    }

    void commandLinePicksThePageAndFocus()
    {
        Harness h;
        auto encrypt = h.Open({S(h.path(QStringLiteral("My file é.txt"))), "/crypt"});
        QCOMPARE(encrypt->currentPage(), 1);
        QCOMPARE(QApplication::focusWidget(), Find<QLineEdit>(*encrypt, controls::Password));
        QVERIFY(encrypt->SelectedFiles()
                == std::vector<std::string>{S(h.path(QStringLiteral("My file é.txt")))});
        encrypt.reset();

        auto decrypt = h.Open({"relative.ksw", "/encrypt"});
        QCOMPARE(decrypt->currentPage(), 2);
        QCOMPARE(QApplication::focusWidget(), Find<QLineEdit>(*decrypt, controls::DecryptPassword));
        QVERIFY(decrypt->SelectedFiles()
                == std::vector<std::string>{S(h.path(QStringLiteral("relative.ksw")))});
        decrypt.reset();

        auto error = h.Open({"/x/a.ksw", "/crypt"});
        QCOMPARE(error->currentPage(), 3);
        QCOMPARE(Find<QLabel>(*error, controls::OutcomeLine)->text(),
                 QStringLiteral("This file is encrypted"));
        QVERIFY(Find<QPushButton>(*error, controls::OutcomeUpdateButton)->isEnabled()
                && Find<QPushButton>(*error, controls::CloseButton)->isEnabled());
        QVERIFY(h.sleeps.isEmpty());
    }

    void encryptChecksInOrder()
    {
        Harness h;
        QVERIFY(h.Write(QStringLiteral("f.txt"), "plain"));
        auto form = h.Open({S(h.path(QStringLiteral("f.txt"))), "/crypt"});
        auto press = [&] {
            QTest::mouseClick(Find<QPushButton>(*form, controls::EncryptButton), Qt::LeftButton);
        };

        press(); // both empty
        QCOMPARE(h.messages.shown.takeFirst(),
                 QStringLiteral("inform: ") + QStringLiteral("You have not entered a password!"));
        Type(Find<QLineEdit>(*form, controls::PasswordAgain),
             QStringLiteral("abcdefg")); // one empty, one not: different
        press();
        QCOMPARE(h.messages.shown.takeFirst(),
                 QStringLiteral("inform: ")
                     + QStringLiteral("You have entered two different passwords.\n\rPlease make "
                                      "sure the password match."));
        Type(Find<QLineEdit>(*form, controls::Password), QStringLiteral("ABCDEFG")); // case counts
        press();
        QCOMPARE(h.messages.shown.takeFirst(),
                 QStringLiteral("inform: ")
                     + QStringLiteral("You have entered two different passwords.\n\rPlease make "
                                      "sure the password match."));

        // Five characters: asked; No leaves the page as it was, fields included.
        Find<QLineEdit>(*form, controls::Password)->setText(QStringLiteral("abcde"));
        Find<QLineEdit>(*form, controls::PasswordAgain)->setText(QStringLiteral("abcde"));
        h.messages.answers = {false};
        press();
        QCOMPARE(h.messages.shown.takeFirst(),
                 QStringLiteral("ask: ")
                     + QStringLiteral("You have entered a password which has less than 6 "
                                      "characters.\n\rAre you sure you want to continue?"));
        QCOMPARE(form->currentPage(), 1);
        QCOMPARE(Find<QLineEdit>(*form, controls::Password)->text(), QStringLiteral("abcde"));
        QVERIFY(QFile::exists(h.path(QStringLiteral("f.txt"))));

        // Yes goes on: busy at once, then done.
        h.messages.answers = {true};
        press();
        QCOMPARE(h.messages.shown.takeFirst(),
                 QStringLiteral("ask: ")
                     + QStringLiteral("You have entered a password which has less than 6 "
                                      "characters.\n\rAre you sure you want to continue?"));
        QCOMPARE(form->currentPage(), 3);
        QCOMPARE(Find<QLabel>(*form, controls::OutcomeLine)->text(),
                 QStringLiteral("Please wait while the file is encrypted"));
        QVERIFY(!Find<QPushButton>(*form, controls::OutcomeUpdateButton)->isEnabled()
                && !Find<QPushButton>(*form, controls::CloseButton)->isEnabled());
        QVERIFY(Find<QProgressBar>(*form, controls::ProgressBar)->isVisible());
        QVERIFY(WaitForWork(*form));
        QCOMPARE(Find<QLabel>(*form, controls::OutcomeLine)->text(),
                 QStringLiteral("Encryption completed"));
        QVERIFY(Find<QPushButton>(*form, controls::OutcomeUpdateButton)->isEnabled()
                && Find<QPushButton>(*form, controls::CloseButton)->isEnabled());
        QVERIFY(!Find<QProgressBar>(*form, controls::ProgressBar)->isVisible());
        QVERIFY(h.messages.shown.isEmpty());
    }

    void sixCharactersAreNotQuestioned()
    {
        Harness h;
        QVERIFY(h.Write(QStringLiteral("f"), "x"));
        auto form = h.Open({S(h.path(QStringLiteral("f")))});
        Find<QLineEdit>(*form, controls::Password)
            ->setText(QStringLiteral("äöüéèà")); // six characters, twelve bytes
        Find<QLineEdit>(*form, controls::PasswordAgain)->setText(QStringLiteral("äöüéèà"));
        QTest::mouseClick(Find<QPushButton>(*form, controls::EncryptButton), Qt::LeftButton);
        QVERIFY(WaitForWork(*form));
        QVERIFY(h.messages.shown.isEmpty());
        QCOMPARE(Find<QLabel>(*form, controls::OutcomeLine)->text(),
                 QStringLiteral("Encryption completed"));
    }

    // The whole road a user takes: keyboard only, encrypt then decrypt.
    void keyboardRoundTripThroughTheWorkers()
    {
        Harness h;
        const QString name = QStringLiteral("My file é.txt");
        QVERIFY(h.Write(name, "the quarterly figures"));
        auto form = h.Open({S(h.path(name)), "/crypt"});
        Type(QApplication::focusWidget(), QStringLiteral("correct horse"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), Find<QLineEdit>(*form, controls::PasswordAgain));
        Type(QApplication::focusWidget(), QStringLiteral("correct horse"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QVERIFY(WaitForWork(*form));
        QCOMPARE(Find<QLabel>(*form, controls::OutcomeLine)->text(),
                 QStringLiteral("Encryption completed"));
        QVERIFY(!QFile::exists(h.path(name)));
        QVERIFY(QFile::exists(h.path(name + QStringLiteral(".ksw"))));
        form.reset();

        form = h.Open({S(h.path(name + QStringLiteral(".ksw"))), "/encrypt"});
        Type(QApplication::focusWidget(), QStringLiteral("correct horse"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter);
        QVERIFY(WaitForWork(*form));
        QCOMPARE(Find<QLabel>(*form, controls::OutcomeLine)->text(),
                 QStringLiteral("Decryption completed"));
        QCOMPARE(h.Read(name), QByteArray("the quarterly figures"));
        QVERIFY(!QFile::exists(h.path(name + QStringLiteral(".ksw"))));
    }

    void failuresSayWhatHappenedAndKeepTheFiles_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("expected");
        QTest::newRow("wrong password") << "wrong" << QStringLiteral("Invalid password!");
        QTest::newRow("not a container") << "text" << QStringLiteral("Invalid password!");
        QTest::newRow("damaged container")
            << "damaged" << QStringLiteral("Decryption failed") + "\nThe encrypted file is damaged";
        QTest::newRow("output unwritable")
            << "folder" << QStringLiteral("Decryption failed") + "\nThe result cannot be written";
        QTest::newRow("input missing")
            << "missing" << QStringLiteral("Decryption failed") + "\nThe file does not exist";
    }

    void failuresSayWhatHappenedAndKeepTheFiles()
    {
        QFETCH(QString, setup);
        QFETCH(QString, expected);
        Harness h;
        // A good container of "secret data" under the password "password1".
        QVERIFY(h.Write(QStringLiteral("doc"), "secret data"));
        KeyContainer keys;
        QVERIFY(KeyContainer::Acquire(S(h.path(QStringLiteral("keys"))), &keys).ok());
        QVERIFY(keys.RegenerateKeyPairs().ok());
        QVERIFY(EncryptSelectedFile(keys, S(h.path(QStringLiteral("doc"))), "password1").ok());
        QFile::remove(h.path(QStringLiteral("doc")));
        QByteArray container = h.Read(QStringLiteral("doc.ksw"));
        QString password = QStringLiteral("password1");
        if (setup == "wrong") password = QStringLiteral("Password1");
        if (setup == "text") container = "just some text, not a container";
        if (setup == "damaged") container.chop(3);
        if (setup == "folder") QDir(h.path(QString())).mkdir(QStringLiteral("doc"));
        if (setup != "missing")
            QVERIFY(h.Write(QStringLiteral("doc.ksw"), container));
        else
            QFile::remove(h.path(QStringLiteral("doc.ksw")));

        auto form = h.Open({S(h.path(QStringLiteral("doc.ksw"))), "/encrypt"});
        Type(Find<QLineEdit>(*form, controls::DecryptPassword), password);
        QTest::keyClick(Find<QLineEdit>(*form, controls::DecryptPassword), Qt::Key_Return);
        QVERIFY(WaitForWork(*form));
        QCOMPARE(Find<QLabel>(*form, controls::OutcomeLine)->text(), expected);
        QCOMPARE(h.Read(QStringLiteral("doc.ksw")), setup == "missing" ? QByteArray() : container);
        QVERIFY(!QFileInfo(h.path(QStringLiteral("doc"))).isFile());
    }

    void secondLineSaysWhatBecameOfTheOriginal_data()
    {
        QTest::addColumn<QString>("world");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("originalThere");
        const QString done = QStringLiteral("Encryption completed") + QLatin1Char('\n');
        QTest::newRow("saved over meanwhile")
            << "save" << done + "The original file changed during the work and was kept" << true;
        QTest::newRow("moved meanwhile")
            << "move" << done + "The original file was moved or deleted during the work" << false;
        QTest::newRow("other names")
            << "link"
            << done + "The original contents are still readable under 1 other name (hard link)"
            << false;
    }

    void secondLineSaysWhatBecameOfTheOriginal()
    {
        QFETCH(QString, world);
        QFETCH(QString, expected);
        QFETCH(bool, originalThere);
        Harness h;
        QVERIFY(h.Write(QStringLiteral("doc"), "version 1"));
        if (world == "link")
            QCOMPARE(::link(h.path(QStringLiteral("doc")).toUtf8().constData(),
                            h.path(QStringLiteral("other")).toUtf8().constData()),
                     0);
        // Another program acts while the container is flushed.
        struct World {
            Harness* h;
            QString what;
            bool done = false;
        } state{&h, world};
        h.diskHook = [&state](io::DiskStep step, std::uint64_t) {
            World* w = &state;
            if (step != io::DiskStep::Flush || w->done) return 0;
            w->done = true;
            if (w->what == "save") {
                w->h->Write(QStringLiteral("doc.new"), "version 2");
                QFile::remove(w->h->path(QStringLiteral("doc")));
                QFile::rename(w->h->path(QStringLiteral("doc.new")),
                              w->h->path(QStringLiteral("doc")));
            }
            if (w->what == "move")
                QFile::rename(w->h->path(QStringLiteral("doc")),
                              w->h->path(QStringLiteral("moved")));
            return 0;
        };
        auto form = h.Open({S(h.path(QStringLiteral("doc"))), "/crypt"});
        EncryptWith(*form, QStringLiteral("password1"));
        const bool finished = WaitForWork(*form);
        QVERIFY(finished);
        QCOMPARE(Find<QLabel>(*form, controls::OutcomeLine)->text(), expected);
        QCOMPARE(QFile::exists(h.path(QStringLiteral("doc"))), originalThere);
        if (world == "save") QCOMPARE(h.Read(QStringLiteral("doc")), QByteArray("version 2"));
        QVERIFY(QFile::exists(h.path(QStringLiteral("doc.ksw"))));
    }

    void encryptionFailureIsNotReportedAsSuccess()
    {
        Harness h;
        auto form = h.Open({S(h.path(QStringLiteral("gone.txt"))), "/crypt"});
        EncryptWith(*form, QStringLiteral("password1"));
        QVERIFY(WaitForWork(*form));
        QCOMPARE(Find<QLabel>(*form, controls::OutcomeLine)->text(),
                 QStringLiteral("Encryption failed") + "\nThe file does not exist");
        QVERIFY(!QFile::exists(h.path(QStringLiteral("gone.txt.ksw"))));
    }

    void decryptNeedsAPassword()
    {
        Harness h;
        auto form = h.Open({"/x/a.ksw", "/encrypt"});
        QTest::keyClick(Find<QLineEdit>(*form, controls::DecryptPassword), Qt::Key_Return);
        QCOMPARE(h.messages.shown,
                 QStringList{QStringLiteral("inform: ")
                             + QStringLiteral("You have not entered a password!")});
        QCOMPARE(form->currentPage(), 2);
    }

    void closingWhileBusyWaitsForTheWork()
    {
        Harness h;
        QByteArray big(24 << 20, 'x');
        QVERIFY(h.Write(QStringLiteral("big"), big));
        auto form = h.Open({S(h.path(QStringLiteral("big")))});
        EncryptWith(*form, QStringLiteral("password1"));
        QVERIFY(form->busy());
        h.messages.answers = {false}; // asked whether to stop: go on
        QVERIFY(!form->close());      // refused while the worker runs...
        QVERIFY(form->isVisible());
        QVERIFY(WaitForWork(*form));
        QVERIFY(form->isVisible()); // ...the outcome shows...
        QCOMPARE(Find<QLabel>(*form, controls::OutcomeLine)->text(),
                 QStringLiteral("Encryption completed"));
        QVERIFY(form->close()); // ...and then it closes
        QVERIFY(!form->hasKeys());
        QVERIFY(!QFile::exists(h.path(QStringLiteral("big"))));
        QCOMPARE(QFileInfo(h.path(QStringLiteral("big.ksw"))).size(),
                 qint64(16 + 148 + 128 + (24 << 20) + 8));
    }

    void severalFilesOnePasswordEachOnItsOwn()
    {
        Harness h;
        QVERIFY(h.Write(QStringLiteral("a.txt"), "alpha"));
        QVERIFY(h.Write(QStringLiteral("b secret.txt"), "bravo"));
        QVERIFY(h.Write(QStringLiteral("c.txt"), "charlie"));
        const QString unreadable = h.path(QStringLiteral("b secret.txt"));
        QVERIFY(QFile::setPermissions(unreadable, QFileDevice::WriteOwner));
        PermissionsCount permissions;
        {
            QFile probe(unreadable);
            QVERIFY2(!probe.open(QIODevice::ReadOnly), "the test needs a file it cannot read");
        }

        auto form = h.Open({S(h.path(QStringLiteral("a.txt"))), S(unreadable),
                            S(h.path(QStringLiteral("c.txt"))), "/crypt"});
        QCOMPARE(form->currentPage(), 1);
        QCOMPARE(form->SelectedFiles().size(), std::size_t{3});
        EncryptWith(*form, QStringLiteral("one password"));
        QVERIFY(form->busy());
        QCOMPARE(Find<QLabel>(*form, controls::OutcomeLine)->text(),
                 QStringLiteral("Please wait while 3 files are encrypted"));
        QVERIFY(Find<QProgressBar>(*form, controls::ProgressBar)->isVisible());
        QVERIFY(WaitForWork(*form));

        // The other two are done; the summary names the failure and why.
        QCOMPARE(Find<QLabel>(*form, controls::OutcomeLine)->text(),
                 QStringLiteral("2 of 3 files encrypted\nb secret.txt\nThe file cannot be read"));
        QVERIFY(!QFile::exists(h.path(QStringLiteral("a.txt")))
                && QFile::exists(h.path(QStringLiteral("a.txt.ksw"))));
        QVERIFY(!QFile::exists(h.path(QStringLiteral("c.txt")))
                && QFile::exists(h.path(QStringLiteral("c.txt.ksw"))));
        QVERIFY(!QFile::exists(unreadable + QStringLiteral(".ksw")));
        QCOMPARE(QFileInfo(unreadable).permissions() & ~QFileDevice::Permissions(0x0f00),
                 QFileDevice::WriteOwner);
        QVERIFY(Find<QPushButton>(*form, controls::OutcomeUpdateButton)->isEnabled()
                && Find<QPushButton>(*form, controls::CloseButton)->isEnabled());
        QVERIFY(Find<QPushButton>(*form, controls::DetailsButton)->isVisible());
        QTest::mouseClick(Find<QPushButton>(*form, controls::DetailsButton), Qt::LeftButton);
        QCOMPARE(h.messages.shown, QStringList{QStringLiteral("inform: ") + unreadable
                                               + QStringLiteral(": The file cannot be read")});
        QFile::setPermissions(unreadable, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        form.reset();

        // Decrypting several: the one with another password fails alone.
        QVERIFY(h.Write(QStringLiteral("d.txt"), "delta"));
        KeyContainer keys;
        QVERIFY(KeyContainer::Acquire(S(h.path(QStringLiteral("keys"))), &keys).ok());
        QVERIFY(keys.RegenerateKeyPairs().ok());
        QVERIFY(
            EncryptSelectedFile(keys, S(h.path(QStringLiteral("d.txt"))), "another password").ok());
        form =
            h.Open({S(h.path(QStringLiteral("a.txt.ksw"))), S(h.path(QStringLiteral("d.txt.ksw"))),
                    S(h.path(QStringLiteral("c.txt.ksw"))), "/encrypt"});
        QCOMPARE(form->currentPage(), 2);
        Type(Find<QLineEdit>(*form, controls::DecryptPassword), QStringLiteral("one password"));
        QTest::keyClick(Find<QLineEdit>(*form, controls::DecryptPassword), Qt::Key_Return);
        QCOMPARE(Find<QLabel>(*form, controls::OutcomeLine)->text(),
                 QStringLiteral("Please wait while 3 files are decrypted"));
        QVERIFY(WaitForWork(*form));
        QCOMPARE(Find<QLabel>(*form, controls::OutcomeLine)->text(),
                 QStringLiteral("2 of 3 files decrypted\nd.txt.ksw\n")
                     + QStringLiteral("Invalid password!"));
        QCOMPARE(h.Read(QStringLiteral("a.txt")), QByteArray("alpha"));
        QCOMPARE(h.Read(QStringLiteral("c.txt")), QByteArray("charlie"));
        QVERIFY(QFile::exists(h.path(QStringLiteral("d.txt.ksw"))));
        form.reset();

        // All of them: completed, with the count, and nothing more to see.
        // Closing meanwhile asks whether to stop, as for one file; "No" lets
        // the work finish.
        form = h.Open({S(h.path(QStringLiteral("a.txt"))), S(h.path(QStringLiteral("c.txt")))});
        QCOMPARE(form->currentPage(), 1);
        EncryptWith(*form, QStringLiteral("one password"));
        QVERIFY(form->busy());
        h.messages.answers = {false};
        QVERIFY(!form->close());
        QVERIFY(WaitForWork(*form));
        QCOMPARE(Find<QLabel>(*form, controls::OutcomeLine)->text(),
                 QStringLiteral("Encryption completed") + QStringLiteral("\n2 files encrypted"));
        QVERIFY(!Find<QPushButton>(*form, controls::DetailsButton)->isVisible());
    }

    void batchSummaryFitsTheWindow()
    {
        Harness h;
        const QString longName =
            QStringLiteral("a very long name that no window of this size could ever show "
                           "in one line, not even close, report-final-v2.txt");
        QVERIFY(h.Write(QStringLiteral("x.ksw"), "already encrypted, so skipped"));
        auto form = h.Open({S(h.path(longName)), S(h.path(QStringLiteral("x.ksw"))), "/crypt"});
        EncryptWith(*form, QStringLiteral("one password"));
        QVERIFY(WaitForWork(*form));
        const QStringList lines =
            Find<QLabel>(*form, controls::OutcomeLine)->text().split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines[0], QStringLiteral("0 of 1 file encrypted"));
        QVERIFY(lines[1].startsWith(QStringLiteral("a very"))
                && lines[1].endsWith(QStringLiteral("v2.txt")));
        QVERIFY(lines[1].contains(QChar(0x2026)));
        QCOMPARE(lines[3], QStringLiteral("1 already encrypted file left as it was"));
        const QFontMetrics metrics = Find<QLabel>(*form, controls::OutcomeLine)->fontMetrics();
        for (const QString& line : lines)
            QVERIFY2(metrics.horizontalAdvance(line)
                         <= Find<QLabel>(*form, controls::OutcomeLine)->contentsRect().width()
                                - 2 * Find<QLabel>(*form, controls::OutcomeLine)->margin(),
                     qPrintable(line));
        // Every line and the Details button inside the message area.
        const int textHeight = metrics.lineSpacing() * static_cast<int>(lines.size());
        QVERIFY(textHeight + Find<QPushButton>(*form, controls::DetailsButton)->height()
                <= Find<QLabel>(*form, controls::OutcomeLine)->height());
        QVERIFY(Find<QLabel>(*form, controls::OutcomeLine)
                    ->geometry()
                    .contains(Find<QPushButton>(*form, controls::DetailsButton)->geometry()));
        QTest::mouseClick(Find<QPushButton>(*form, controls::DetailsButton), Qt::LeftButton);
        QCOMPARE(h.messages.shown.size(), 1);
        QVERIFY(h.messages.wholeText.contains(h.path(longName)
                                              + QStringLiteral(": The file does not exist")));
        QVERIFY(
            h.messages.wholeText.contains(h.path(QStringLiteral("x.ksw"))
                                          + QStringLiteral(": Already encrypted, left as it was")));
        QCOMPARE(h.Read(QStringLiteral("x.ksw")), QByteArray("already encrypted, so skipped"));
    }

    // Real work through the window: files are counted once however they are
    // named, containers left as they were are no failures, originals that stay
    // are counted apart. Every wording and plural is the page model's
    // (pages.Pages.ABatchSummarySaysWhatBecameOfEachFile).
    void batchSummarySaysWhatBecameOfEachFile_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("originalsStay"); // their deletion is refused
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QStringList>("details"); // "%H/name: reason", in order
        QTest::addColumn<QStringList>("gone");
        const QString skipped = QStringLiteral(": Already encrypted, left as it was");
        const QString kept =
            QStringLiteral(": The original file could not be deleted and was kept");
        QTest::newRow("one of each")
            << QStringList{"a.txt", "x.ksw"} << true
            << "Encryption completed\n1 file encrypted\n1 already encrypted file left as it "
               "was\n1 original file could not be deleted"
            << QStringList{"%H/a.txt" + kept, "%H/x.ksw" + skipped} << QStringList{};
        QTest::newRow("'..' after a link") << QStringList{"a.txt", "l/../a.txt"} << false
                                           << "Encryption completed\n2 files encrypted"
                                           << QStringList{} << QStringList{"a.txt", "other/a.txt"};
        QTest::newRow("one file named twice")
            << QStringList{"a.txt", "./a.txt"} << false << "Encryption completed" << QStringList{}
            << QStringList{"a.txt"};
        QTest::newRow("not a container among containers")
            << QStringList{"d.ksw", "junk.ksw", "/encrypt"} << false
            << "1 of 2 files decrypted\njunk.ksw\nInvalid password!"
            << QStringList{"%H/junk.ksw: Invalid password!"} << QStringList{"d.ksw"};
        QTest::newRow("two containers, one result")
            << QStringList{"d.ksw", "d.bak", "/encrypt"} << false
            << "1 of 2 files decrypted\nd.bak\nIts result would replace another chosen file"
            << QStringList{"%H/d.bak: Its result would replace another chosen file (the result "
                           "of %H/d.ksw)"}
            << QStringList{"d.ksw"};
    }

    void batchSummarySaysWhatBecameOfEachFile()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, originalsStay);
        QFETCH(QString, summary);
        QFETCH(QStringList, details);
        QFETCH(QStringList, gone);
        Harness h;
        QVERIFY(QDir(h.path(QString())).mkpath(QStringLiteral("other/sub")));
        QVERIFY(QFile::link(QStringLiteral("other/sub"), h.path(QStringLiteral("l"))));
        for (const char* name :
             {"a.txt", "b.txt", "other/a.txt", "d", "e", "x.ksw", "y.ksw", "junk.ksw"})
            QVERIFY(h.Write(Q(name), name));
        KeyContainer keys;
        QVERIFY(KeyContainer::Acquire(S(h.path(QStringLiteral("keys"))), &keys).ok());
        QVERIFY(keys.RegenerateKeyPairs().ok());
        for (const char* name : {"e", "d"}) // e.ksw becomes d.bak: it would become d too
            QVERIFY(EncryptSelectedFile(keys, S(h.path(Q(name))), "one password").ok()
                    && QFile::remove(h.path(Q(name))));
        QVERIFY(QFile::rename(h.path(QStringLiteral("e.ksw")), h.path(QStringLiteral("d.bak"))));
        if (originalsStay)
            h.diskHook = [](io::DiskStep step, std::uint64_t) {
                return step == io::DiskStep::Remove ? EPERM : 0;
            };
        std::vector<std::string> argv;
        for (const QString& a : args) argv.push_back(a.startsWith('/') ? S(a) : S(h.path(a)));

        auto form = h.Open(argv);
        if (args.last() == QStringLiteral("/encrypt")) {
            Type(Find<QLineEdit>(*form, controls::DecryptPassword), QStringLiteral("one password"));
            QTest::keyClick(Find<QLineEdit>(*form, controls::DecryptPassword), Qt::Key_Return);
        } else {
            EncryptWith(*form, QStringLiteral("one password"));
        }
        QVERIFY(WaitForWork(*form));
        QCOMPARE(Find<QLabel>(*form, controls::OutcomeLine)->text(), summary);
        QCOMPARE(Find<QPushButton>(*form, controls::DetailsButton)->isVisible(),
                 !details.isEmpty());
        if (!details.isEmpty()) {
            QTest::mouseClick(Find<QPushButton>(*form, controls::DetailsButton), Qt::LeftButton);
            QStringList expected;
            for (QString line : details)
                expected << line.replace(QStringLiteral("%H"), h.home.path());
            QCOMPARE(h.messages.shown.size(), 1);
            QCOMPARE(h.messages.wholeText, expected.join('\n'));
        }
        for (const QString& name : gone) QVERIFY2(!QFile::exists(h.path(name)), qPrintable(name));
        QCOMPARE(h.Read(QStringLiteral("x.ksw")), QByteArray("x.ksw"));
        QCOMPARE(h.Read(QStringLiteral("junk.ksw")), QByteArray("junk.ksw"));
    }

    // A name is shown on one line, shortened in its middle where it does not
    // fit; the whole path goes to the tooltip and to assistive tools.
    void namesShowOnOneLineWithTheWholePathAside()
    {
        Harness h;
        const QString broken = h.path(QStringLiteral("two\nlines.txt"));
        const QString longName = h.path(QString(214, QLatin1Char('n')) + QStringLiteral(".txt"));
        const QString oneLine = h.path(QStringLiteral("two\u21b5lines.txt"));
        for (const QString& path : {broken, longName})
            QVERIFY(h.Write(QFileInfo(path).fileName(), "gone"));
        auto form = h.Open({S(broken), S(longName), "/crypt"});
        for (const QString& path : {broken, longName}) QVERIFY(QFile::remove(path)); // gone since
        EncryptWith(*form, QStringLiteral("one password"));
        QVERIFY(WaitForWork(*form));

        const QStringList lines =
            Find<QLabel>(*form, controls::OutcomeLine)->text().split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[1], QStringLiteral("two\u21b5lines.txt"));
        QCOMPARE(Find<QLabel>(*form, controls::OutcomeLine)->toolTip(), oneLine);
        QCOMPARE(QAccessible::queryAccessibleInterface(Find<QLabel>(*form, controls::OutcomeLine))
                     ->text(QAccessible::Description),
                 oneLine);

        QTest::mouseClick(Find<QPushButton>(*form, controls::DetailsButton), Qt::LeftButton);
        const QStringList details = h.messages.shown.value(0).split(QLatin1Char('\n'));
        QCOMPARE(details.size(), 2);
        const QFontMetrics metrics(QApplication::font());
        const QString reason = QStringLiteral(": The file does not exist");
        for (const QString& line : details) {
            QVERIFY2(line.endsWith(reason), qPrintable(line));
            QVERIFY2(metrics.horizontalAdvance(line.chopped(reason.size())) <= 300,
                     qPrintable(line));
        }
        QVERIFY(details[1].contains(QChar(0x2026)));
        QVERIFY(details[1].endsWith(QStringLiteral("nnn.txt") + reason));
        QCOMPARE(h.messages.wholeText, oneLine + reason + QLatin1Char('\n') + longName + reason);
    }

    void secondWindowStandsAside()
    {
        Harness h;
        WindowEnvironment env = h.Environment({});
        env.windowSlotFolder = S(h.path(QStringLiteral("kestrawin-windows")));
        MainWindow first(env);
        first.show();
        MainWindow second(std::move(env));
        second.show();
        QVERIFY(first.pos() != second.pos());
        QCOMPARE(second.pos() - first.pos(), QPoint(28, 28));
    }

    // Every text of every page and box, word for word, spaces included.
    void everyTextIsWordForWord()
    {
        // The version comes from the build; the caption must still read so.
        QCOMPARE(QString::fromUtf8(words::MessageCaption), QStringLiteral("Kestrawin 1.8"));
        Harness h;
        QVERIFY(h.Write(QStringLiteral("f.txt"), "plain"));
        const std::string file = S(h.path(QStringLiteral("f.txt")));
        const std::string container = file + ".ksw";

        // What the page shows with its top left corner at `at`, in page coordinates.
        auto at = [](int x, int y) {
            return [x, y](MainWindow& form) {
                QWidget* page = Find<QStackedWidget>(form, controls::Pages)->currentWidget();
                for (QWidget* w : page->findChildren<QWidget*>()) {
                    if (!w->isVisible() || w->mapTo(page, QPoint(0, 0)) != QPoint(x, y)) continue;
                    if (auto* box = qobject_cast<QGroupBox*>(w)) return box->title();
                    if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
                }
                return QStringLiteral("nothing at (%1, %2)").arg(x).arg(y);
            };
        };
        auto button = [](const char* which) {
            return [which](MainWindow& form) { return Find<QPushButton>(form, which)->text(); };
        };
        auto status = [](MainWindow& form) {
            return Find<QLabel>(form, controls::OutcomeLine)->text();
        };
        auto press = [&h](auto act) {
            return [&h, act](MainWindow& form) {
                h.messages.shown.clear();
                act(form);
                return form.busy() ? Find<QLabel>(form, controls::OutcomeLine)->text()
                                   : h.messages.shown.value(0);
            };
        };
        auto typed = [](const char* first, const char* second) {
            return [first, second](MainWindow& form) {
                Find<QLineEdit>(form, controls::Password)->setText(Q(first));
                Find<QLineEdit>(form, controls::PasswordAgain)->setText(Q(second));
                QTest::mouseClick(Find<QPushButton>(form, controls::EncryptButton), Qt::LeftButton);
            };
        };
        auto decrypt = [](const char* password) {
            return [password](MainWindow& form) {
                Find<QLineEdit>(form, controls::DecryptPassword)->setText(Q(password));
                QTest::mouseClick(Find<QPushButton>(form, controls::DecryptButton), Qt::LeftButton);
            };
        };
        auto outcome = [](MainWindow& form) {
            WaitForWork(form);
            return Find<QLabel>(form, controls::OutcomeLine)->text();
        };
        using Shown = std::function<QString(MainWindow&)>;
        struct Row {
            const char* what;
            Shown shown;
            const char* expected;
        };
        const QList<std::pair<std::vector<std::string>, QList<Row>>> starts = {
            {{},
             {{"window caption", [](MainWindow& f) { return f.windowTitle(); }, "Pellmora"},
              {"title band", at(8, 8), "Kestrawin"},
              {"first line", at(8, 33 + 10), "Please use the context menu"},
              {"second line", at(7, 33 + 26), "to encrypt and decrypt your file"},
              {"left button", button(controls::UninstallButton), "Uninstall"},
              {"right button", button(controls::MainUpdateButton), "Update"},
              {"uninstall question", press([&h](MainWindow& f) {
                   h.messages.answers = {false};
                   QTest::mouseClick(Find<QPushButton>(f, controls::UninstallButton),
                                     Qt::LeftButton);
               }),
               "ask: Remove the program from the shell?"},
              {"uninstalled", press([&h](MainWindow& f) {
                   h.messages.answers = {true};
                   QTest::mouseClick(Find<QPushButton>(f, controls::UninstallButton),
                                     Qt::LeftButton);
                   h.messages.shown.removeFirst();
               }),
               "inform: The program has been removed from the shell."}}},
            {{file, "/crypt"},
             {{"first box", at(8, 8), "  Enter a password  "},
              {"second box", at(8, 56), "  Verify the password  "},
              {"left button", button(controls::EncryptButton), "Encrypt"},
              {"right button", button(controls::EncryptUpdateButton), "Update"},
              {"no password", press(typed("", "")), "inform: You have not entered a password!"},
              {"two passwords", press(typed("password1", "password2")),
               "inform: You have entered two different passwords.\n\rPlease make sure the "
               "password match."},
              {"short password", press([&](MainWindow& f) {
                   h.messages.answers = {false};
                   typed("short", "short")(f);
               }),
               "ask: You have entered a password which has less than 6 characters.\n\rAre you "
               "sure you want to continue?"},
              {"waiting", press(typed("password1", "password1")),
               "Please wait while the file is encrypted"},
              {"done", outcome, "Encryption completed"},
              {"title band", at(8, 8), "Kestrawin"},
              {"left button", button(controls::OutcomeUpdateButton), "Update"},
              {"right button", button(controls::CloseButton), "Close"}}},
            {{container, "/encrypt"},
             {{"box", at(8, 8), " Decryption "},
              {"first line", at(8 + 8, 8 + 16), "Enter the password used"},
              {"second line", at(8 + 8, 8 + 32), "to encrypt the file"},
              {"left button", button(controls::DecryptButton), "Decrypt"},
              {"right button", button(controls::DecryptUpdateButton), "Update"},
              {"no password", press(decrypt("")), "inform: You have not entered a password!"},
              {"waiting", press(decrypt("password2")), "Please wait while the file is decrypted"},
              {"wrong password", outcome, "Invalid password!"}}},
            {{container, "/encrypt"},
             {{"right password", press(decrypt("password1")),
               "Please wait while the file is decrypted"},
              {"done", outcome, "Decryption completed"}}},
            {{container, "/crypt"}, {{"container", status, "This file is encrypted"}}},
        };
        for (const auto& [args, rows] : starts) {
            auto form = h.Open(args);
            for (const Row& row : rows) {
                const QString shown = row.shown(*form);
                QVERIFY2(shown == Q(row.expected),
                         qPrintable(QStringLiteral("%1 on page %2: \"%3\"")
                                        .arg(Q(row.what))
                                        .arg(form->currentPage())
                                        .arg(shown)));
            }
        }
    }

    void uninstallAsksFirst()
    {
        Harness h;
        auto form = h.Open({});
        const QString entry =
            h.path(QStringLiteral(".local/share/applications/kestrawin-decrypt.desktop"));
        h.messages.answers = {false};
        QTest::mouseClick(Find<QPushButton>(*form, controls::UninstallButton), Qt::LeftButton);
        QCOMPARE(h.messages.shown,
                 QStringList{QStringLiteral("ask: ")
                             + QStringLiteral("Remove the program from the shell?")});
        QVERIFY(QFile::exists(entry));
        h.messages.shown.clear();
        h.messages.answers = {true};
        QTest::mouseClick(Find<QPushButton>(*form, controls::UninstallButton), Qt::LeftButton);
        QCOMPARE(h.messages.shown,
                 (QStringList{
                     QStringLiteral("ask: ") + QStringLiteral("Remove the program from the shell?"),
                     QStringLiteral("inform: ")
                         + QStringLiteral("The program has been removed from the shell.")}));
        QVERIFY(!QFile::exists(entry));
    }

    void uninstallSaysWhenSomethingStays()
    {
        Harness h;
        auto form = h.Open({});
        // The applications folder becomes a link to itself: its entries cannot go.
        const QString folder = h.path(QStringLiteral(".local/share/applications"));
        QVERIFY(QDir(folder).removeRecursively());
        QVERIFY(QFile::link(QStringLiteral("applications"), folder));
        h.messages.answers = {true};
        QTest::mouseClick(Find<QPushButton>(*form, controls::UninstallButton), Qt::LeftButton);
        QCOMPARE(h.messages.shown.size(), 2);
        QCOMPARE(h.messages.shown[1],
                 QStringLiteral("error: Failed to set data for '%1/kestrawin-decrypt.desktop'")
                     .arg(folder));
    }

    void webPagesAndTheClosingPause()
    {
        Harness h;
        const QUrl product(QStringLiteral("https://kestrawin.example/product"));
        auto form = h.Open({});
        QTest::mouseClick(Find<QPushButton>(*form, controls::MainUpdateButton), Qt::LeftButton);
        QTest::keyClick(Find<QLabel>(*form, controls::VendorLink), Qt::Key_Return);
        QCOMPARE(h.opened,
                 (QList<QUrl>{product, QUrl(QStringLiteral("https://kestrawin.example/"))}));
        h.opened.clear();
        form.reset(); // destroyed on the Main page: a pause, then the product page
        QCOMPARE(h.sleeps, QList<int>{3000});
        QCOMPARE(h.opened, QList<QUrl>{product});

        h.opened.clear();
        h.sleeps.clear();
        form = h.Open({"/x/a.txt", "/crypt"});
        for (QPushButton* update : {Find<QPushButton>(*form, controls::EncryptUpdateButton)})
            QTest::mouseClick(update, Qt::LeftButton);
        form->ShowOutcome(QStringLiteral("done"));
        QTest::qWait(QGuiApplication::styleHints()->mouseDoubleClickInterval()
                     + 50); // no double click
        QTest::mouseClick(Find<QPushButton>(*form, controls::OutcomeUpdateButton), Qt::LeftButton);
        QCOMPARE(h.opened, (QList<QUrl>{product, product}));
        form.reset(); // from another page: nothing
        QVERIFY(h.sleeps.isEmpty());
        QCOMPARE(h.opened.size(), 2);
    }

    // The context-menu entries cannot be written: said in plain words once the
    // page shows, and the work goes on (the key pairs stay in memory).
    void entriesThatCannotBeWrittenAreExplained_data()
    {
        QTest::addColumn<QString>("world");
        QTest::addColumn<QString>("blocked"); // what the message names, under the scratch folder
        QTest::newRow("home folder read-only") << "read-only"
                                               << "home";
        QTest::newRow("a file where a folder should be") << "file"
                                                         << "home/.local";
    }

    void entriesThatCannotBeWrittenAreExplained()
    {
        QFETCH(QString, world);
        QFETCH(QString, blocked);
        Harness h;
        const QString home = h.path(QStringLiteral("home"));
        QVERIFY(QDir(h.path(QString())).mkdir(QStringLiteral("home")));
        WindowEnvironment env = h.Environment({S(h.path(QStringLiteral("f.txt"))), "/crypt"});
        env.shellEnvironment.home = home;
        env.shellEnvironment.dataHome = home + QStringLiteral("/.local/share");
        env.shellEnvironment.configHome = home + QStringLiteral("/.config");
        env.keyFolder = S(home + QStringLiteral("/.local/share/kestrawin"));
        QVERIFY(h.Write(QStringLiteral("f.txt"), "plain"));
        if (world == "file") {
            QVERIFY(h.Write(QStringLiteral("home/.local"), "a file, not a folder"));
            QVERIFY(h.Write(QStringLiteral("home/.config"), "a file, not a folder"));
        }
        QVERIFY(QFile::setPermissions(home, world == "read-only"
                                                ? QFileDevice::ReadOwner | QFileDevice::ExeOwner
                                                : QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                      | QFileDevice::ExeOwner));
        std::optional<PermissionsCount> permissions(std::in_place);

        MainWindow form(env);
        QVERIFY(h.messages.shown.isEmpty()); // nothing before the page
        QVERIFY(form.hasKeys());             // the keys, in memory
        form.show();
        QCOMPARE(form.currentPage(), 1);
        QTRY_COMPARE(h.messages.shown.size(), 1);
        QCOMPARE(h.messages.shown[0],
                 QStringLiteral("error: Kestrawin could not add its entries to your file "
                                "manager's menus (it cannot write in %1).\nEncrypting and "
                                "decrypting work as usual.")
                     .arg(h.path(blocked)));
        EncryptWith(form, QStringLiteral("password1"));
        QVERIFY(WaitForWork(form));
        QCOMPARE(Find<QLabel>(form, controls::OutcomeLine)->text(),
                 QStringLiteral("Encryption completed"));
        permissions.reset();
        QFile::setPermissions(home, QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                        | QFileDevice::ExeOwner);
    }

    void messageTextsShowTwoCleanLines()
    {
        QCOMPARE(
            DisplayText(QStringLiteral("You have entered two different passwords.\n\rPlease make "
                                       "sure the password match.")),
            QStringLiteral(
                "You have entered two different passwords.\nPlease make sure the password match."));
        QVERIFY(!DisplayText(QStringLiteral("You have entered a password which has less than 6 "
                                            "characters.\n\rAre you sure you want to continue?"))
                     .contains(QLatin1Char('\r')));
    }
};

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    style::Apply(app);
    MainWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "MainWindowTest.moc"
