// The window, driven by keyboard and clicks on Qt's offscreen platform, with
// real files through the workers. Message boxes are answered through the
// MessageBoxes seam; web pages and the closing pause are recorded.

#include "ui/MainForm.h"
#include "ui/Style.h"
#include "ui/Texts.h"

#include "crypto/Engine.h"

#include <QApplication>
#include <QDir>
#include <QFile>
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

#include <deque>
#include <memory>

using namespace kestrawin;
using namespace kestrawin::ui;

namespace {

QString Q(const char* text)
{
    return QString::fromUtf8(text);
}

class RecordingMessages final : public MessageBoxes {
public:
    void Inform(const QString& text) override { shown << QStringLiteral("inform: ") + text; }
    bool Ask(const QString& text) override
    {
        shown << QStringLiteral("ask: ") + text;
        if (answers.empty()) return true;
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void Error(const QString& text) override { shown << QStringLiteral("error: ") + text; }

    QStringList shown;
    std::deque<bool> answers;
};

// A scratch home for one window, with every outside effect recorded.
struct Harness {
    QTemporaryDir home;
    RecordingMessages messages;
    QList<QUrl> opened;
    QList<int> sleeps;

    QString path(const QString& name) const { return home.filePath(name); }

    FormEnvironment Environment(std::vector<std::string> args)
    {
        FormEnvironment env;
        env.arguments = std::move(args);
        env.workingDirectory = home.path().toStdString();
        env.shellEnvironment.home = home.path();
        env.shellEnvironment.dataHome = home.filePath(QStringLiteral(".local/share"));
        env.shellEnvironment.configHome = home.filePath(QStringLiteral(".config"));
        env.shellEnvironment.configDirs = {home.filePath(QStringLiteral("etc-xdg"))};
        env.shellEnvironment.dataDirs = {home.filePath(QStringLiteral("usr-share"))};
        env.programPath = QStringLiteral("/opt/kestrawin/bin/kestrawin");
        env.keyFolder = (env.shellEnvironment.dataHome + QStringLiteral("/kestrawin")).toStdString();
        env.messages = &messages;
        env.openUrl = [this](const QUrl& url) { opened << url; };
        env.sleep = [this](int ms) { sleeps << ms; };
        env.runTool = [](const QString&, const QStringList&) {};
        return env;
    }

    std::unique_ptr<TMainForm> Open(std::vector<std::string> args)
    {
        auto form = std::make_unique<TMainForm>(Environment(std::move(args)));
        form->show();
        QApplication::setActiveWindow(form.get());
        if (!QTest::qWaitForWindowActive(form.get())) qWarning("window not active");
        return form;
    }

    void Write(const QString& name, const QByteArray& bytes)
    {
        QFile f(path(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray Read(const QString& name) const
    {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

std::string S(const QString& s)
{
    return s.toStdString();
}

// Types the password and presses Enter, as a user would.
void Type(QWidget* field, const QString& text)
{
    QTest::keyClicks(field, text);
}

bool WaitForWork(TMainForm& form)
{
    QSignalSpy spy(&form, &TMainForm::workFinished);
    return !form.busy() || spy.wait(30000);
}

} // namespace

class MainFormTest : public QObject {
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
        QCOMPARE(form->SpeedButton6->text(), QStringLiteral("Uninstall"));
        QCOMPARE(form->SpeedButton5->text(), QStringLiteral("Update"));
        QVERIFY(form->hasCryptProvider());
        // Registration ran first, in the scratch home.
        QVERIFY(QFile::exists(h.path(QStringLiteral(".local/share/applications/kestrawin-decrypt.desktop"))));
        // No text is cut off: every label fits inside the window.
        for (QLabel* label : form->findChildren<QLabel*>()) {
            const QRect inWindow(label->mapTo(form.get(), QPoint(0, 0)), label->sizeHint());
            if (label == form->Panel13) continue;
            QVERIFY2(QRect(0, 0, 200, 149).contains(inWindow), qPrintable(label->text()));
        }
    }

    void commandLinePicksThePageAndFocus()
    {
        Harness h;
        auto encrypt = h.Open({S(h.path(QStringLiteral("My file é.txt"))), "/crypt"});
        QCOMPARE(encrypt->currentPage(), 1);
        QCOMPARE(QApplication::focusWidget(), encrypt->Password1);
        QCOMPARE(encrypt->SelectedFile(), S(h.path(QStringLiteral("My file é.txt"))));
        encrypt.reset();

        auto decrypt = h.Open({"relative.ksw", "/encrypt"});
        QCOMPARE(decrypt->currentPage(), 2);
        QCOMPARE(QApplication::focusWidget(), decrypt->Password);
        QCOMPARE(decrypt->SelectedFile(), S(h.path(QStringLiteral("relative.ksw"))));
        decrypt.reset();

        auto error = h.Open({"/x/a.ksw", "/crypt"});
        QCOMPARE(error->currentPage(), 3);
        QCOMPARE(error->Panel13->text(), QStringLiteral("This file is encrypted"));
        QVERIFY(error->SpeedButton9->isEnabled() && error->SpeedButton10->isEnabled());
        QVERIFY(h.sleeps.isEmpty());
    }

    void encryptChecksInOrder()
    {
        Harness h;
        h.Write(QStringLiteral("f.txt"), "plain");
        auto form = h.Open({S(h.path(QStringLiteral("f.txt"))), "/crypt"});
        auto press = [&] { QTest::mouseClick(form->SpeedButton3, Qt::LeftButton); };

        press(); // both empty
        QCOMPARE(h.messages.shown.takeFirst(), QStringLiteral("inform: ") + Q(texts::NoPassword));
        Type(form->Password2, QStringLiteral("abcdefg")); // one empty, one not: different
        press();
        QCOMPARE(h.messages.shown.takeFirst(), QStringLiteral("inform: ") + Q(texts::DifferentPasswords));
        Type(form->Password1, QStringLiteral("ABCDEFG")); // case counts
        press();
        QCOMPARE(h.messages.shown.takeFirst(), QStringLiteral("inform: ") + Q(texts::DifferentPasswords));

        // Five characters: asked; No leaves the page as it was, fields included.
        form->Password1->setText(QStringLiteral("abcde"));
        form->Password2->setText(QStringLiteral("abcde"));
        h.messages.answers = {false};
        press();
        QCOMPARE(h.messages.shown.takeFirst(), QStringLiteral("ask: ") + Q(texts::ShortPassword));
        QCOMPARE(form->currentPage(), 1);
        QCOMPARE(form->Password1->text(), QStringLiteral("abcde"));
        QVERIFY(QFile::exists(h.path(QStringLiteral("f.txt"))));

        // Yes goes on: busy at once, then done.
        h.messages.answers = {true};
        press();
        QCOMPARE(h.messages.shown.takeFirst(), QStringLiteral("ask: ") + Q(texts::ShortPassword));
        QCOMPARE(form->currentPage(), 3);
        QCOMPARE(form->Panel13->text(), Q(texts::WaitEncrypting));
        QVERIFY(!form->SpeedButton9->isEnabled() && !form->SpeedButton10->isEnabled());
        QVERIFY(form->ProgressBar1->isVisible());
        QVERIFY(WaitForWork(*form));
        QCOMPARE(form->Panel13->text(), Q(texts::EncryptionCompleted));
        QVERIFY(form->SpeedButton9->isEnabled() && form->SpeedButton10->isEnabled());
        QVERIFY(!form->ProgressBar1->isVisible());
        QVERIFY(h.messages.shown.isEmpty());
    }

    void sixCharactersAreNotQuestioned()
    {
        Harness h;
        h.Write(QStringLiteral("f"), "x");
        auto form = h.Open({S(h.path(QStringLiteral("f")))});
        form->Password1->setText(QStringLiteral("äöüéèà")); // six characters, twelve bytes
        form->Password2->setText(QStringLiteral("äöüéèà"));
        QTest::mouseClick(form->SpeedButton3, Qt::LeftButton);
        QVERIFY(WaitForWork(*form));
        QVERIFY(h.messages.shown.isEmpty());
        QCOMPARE(form->Panel13->text(), Q(texts::EncryptionCompleted));
    }

    // The whole road a user takes: keyboard only, encrypt then decrypt.
    void keyboardRoundTripThroughTheWorkers()
    {
        Harness h;
        const QString name = QStringLiteral("My file é.txt");
        h.Write(name, "the quarterly figures");
        auto form = h.Open({S(h.path(name)), "/crypt"});
        Type(QApplication::focusWidget(), QStringLiteral("correct horse"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), form->Password2);
        Type(QApplication::focusWidget(), QStringLiteral("correct horse"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QVERIFY(WaitForWork(*form));
        QCOMPARE(form->Panel13->text(), Q(texts::EncryptionCompleted));
        QVERIFY(!QFile::exists(h.path(name)));
        QVERIFY(QFile::exists(h.path(name + QStringLiteral(".ksw"))));
        form.reset();

        form = h.Open({S(h.path(name + QStringLiteral(".ksw"))), "/encrypt"});
        Type(QApplication::focusWidget(), QStringLiteral("correct horse"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter);
        QVERIFY(WaitForWork(*form));
        QCOMPARE(form->Panel13->text(), Q(texts::DecryptionCompleted));
        QCOMPARE(h.Read(name), QByteArray("the quarterly figures"));
        QVERIFY(!QFile::exists(h.path(name + QStringLiteral(".ksw"))));
    }

    void failuresSayWhatHappenedAndKeepTheFiles_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("expected");
        QTest::newRow("wrong password") << "wrong" << Q(texts::InvalidPassword);
        QTest::newRow("not a container") << "text" << Q(texts::InvalidPassword);
        QTest::newRow("damaged container") << "damaged" << Q(texts::DecryptionFailed) + "\nThe encrypted file is damaged";
        QTest::newRow("output unwritable") << "folder" << Q(texts::DecryptionFailed) + "\nThe result cannot be written";
        QTest::newRow("input missing") << "missing" << Q(texts::DecryptionFailed) + "\nThe file no longer exists";
    }

    void failuresSayWhatHappenedAndKeepTheFiles()
    {
        QFETCH(QString, setup);
        QFETCH(QString, expected);
        Harness h;
        // A good container of "secret data" under the password "password1".
        h.Write(QStringLiteral("doc"), "secret data");
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
        if (setup != "missing") h.Write(QStringLiteral("doc.ksw"), container);
        else QFile::remove(h.path(QStringLiteral("doc.ksw")));

        auto form = h.Open({S(h.path(QStringLiteral("doc.ksw"))), "/encrypt"});
        Type(form->Password, password);
        QTest::keyClick(form->Password, Qt::Key_Return);
        QVERIFY(WaitForWork(*form));
        QCOMPARE(form->Panel13->text(), expected);
        QCOMPARE(h.Read(QStringLiteral("doc.ksw")), setup == "missing" ? QByteArray() : container);
        QVERIFY(!QFileInfo(h.path(QStringLiteral("doc"))).isFile());
    }

    void encryptionFailureIsNotReportedAsSuccess()
    {
        Harness h;
        auto form = h.Open({S(h.path(QStringLiteral("gone.txt"))), "/crypt"});
        form->Password1->setText(QStringLiteral("password1"));
        form->Password2->setText(QStringLiteral("password1"));
        QTest::mouseClick(form->SpeedButton3, Qt::LeftButton);
        QVERIFY(WaitForWork(*form));
        QCOMPARE(form->Panel13->text(), Q(texts::EncryptionFailed) + "\nThe file no longer exists");
        QVERIFY(!QFile::exists(h.path(QStringLiteral("gone.txt.ksw"))));
    }

    void decryptNeedsAPassword()
    {
        Harness h;
        auto form = h.Open({"/x/a.ksw", "/encrypt"});
        QTest::keyClick(form->Password, Qt::Key_Return);
        QCOMPARE(h.messages.shown, QStringList{QStringLiteral("inform: ") + Q(texts::NoPassword)});
        QCOMPARE(form->currentPage(), 2);
    }

    void closingWhileBusyWaitsForTheWork()
    {
        Harness h;
        QByteArray big(24 << 20, 'x');
        h.Write(QStringLiteral("big"), big);
        auto form = h.Open({S(h.path(QStringLiteral("big")))});
        form->Password1->setText(QStringLiteral("password1"));
        form->Password2->setText(QStringLiteral("password1"));
        QTest::mouseClick(form->SpeedButton3, Qt::LeftButton);
        QVERIFY(form->busy());
        h.messages.answers = {false}; // asked whether to stop: go on
        QVERIFY(!form->close()); // refused while the worker runs...
        QVERIFY(form->isVisible());
        QVERIFY(WaitForWork(*form));
        QVERIFY(form->isVisible()); // ...the outcome shows...
        QCOMPARE(form->Panel13->text(), Q(texts::EncryptionCompleted));
        QVERIFY(form->close()); // ...and then it closes
        QVERIFY(!form->hasCryptProvider());
        QVERIFY(!QFile::exists(h.path(QStringLiteral("big"))));
        QCOMPARE(QFileInfo(h.path(QStringLiteral("big.ksw"))).size(), qint64(16 + 148 + 128 + (24 << 20) + 8));
    }

    void uninstallAsksFirst()
    {
        Harness h;
        auto form = h.Open({});
        const QString entry = h.path(QStringLiteral(".local/share/applications/kestrawin-decrypt.desktop"));
        h.messages.answers = {false};
        QTest::mouseClick(form->SpeedButton6, Qt::LeftButton);
        QCOMPARE(h.messages.shown, QStringList{QStringLiteral("ask: ") + Q(texts::RemoveQuestion)});
        QVERIFY(QFile::exists(entry));
        h.messages.shown.clear();
        h.messages.answers = {true};
        QTest::mouseClick(form->SpeedButton6, Qt::LeftButton);
        QCOMPARE(h.messages.shown, (QStringList{QStringLiteral("ask: ") + Q(texts::RemoveQuestion),
                                                QStringLiteral("inform: ") + Q(texts::Removed)}));
        QVERIFY(!QFile::exists(entry));
    }

    void webPagesAndTheClosingPause()
    {
        Harness h;
        const QUrl product(QStringLiteral("https://kestrawin.example/product"));
        auto form = h.Open({});
        QTest::mouseClick(form->SpeedButton5, Qt::LeftButton);
        form->Panel11Click();
        QCOMPARE(h.opened, (QList<QUrl>{product, QUrl(QStringLiteral("https://kestrawin.example/"))}));
        h.opened.clear();
        form.reset(); // destroyed on the Main page: a pause, then the product page
        QCOMPARE(h.sleeps, QList<int>{3000});
        QCOMPARE(h.opened, QList<QUrl>{product});

        h.opened.clear();
        h.sleeps.clear();
        form = h.Open({"/x/a.txt", "/crypt"});
        for (QPushButton* update : {form->SpeedButton4}) QTest::mouseClick(update, Qt::LeftButton);
        form->ShowResult(QStringLiteral("done"));
        QTest::qWait(QGuiApplication::styleHints()->mouseDoubleClickInterval() + 50); // no double click
        QTest::mouseClick(form->SpeedButton9, Qt::LeftButton);
        QCOMPARE(h.opened, (QList<QUrl>{product, product}));
        form.reset(); // from another page: nothing
        QVERIFY(h.sleeps.isEmpty());
        QCOMPARE(h.opened.size(), 2);
    }

    void registrationFailureIsReportedAndStartupGoesOn()
    {
        Harness h;
        FormEnvironment env = h.Environment({h.path(QStringLiteral("f.txt")).toStdString(), "/crypt"});
        // The data folder cannot be created: a file stands in its place.
        h.Write(QStringLiteral("blocked"), "a file, not a folder");
        env.shellEnvironment.dataHome = h.path(QStringLiteral("blocked/share"));
        env.keyFolder = h.path(QStringLiteral("blocked/share/kestrawin")).toStdString();
        h.Write(QStringLiteral("f.txt"), "plain");
        TMainForm form(env);
        QCOMPARE(h.messages.shown.size(), 1);
        QVERIFY(h.messages.shown[0].startsWith(QStringLiteral("error: Failed to set data for '")));
        QVERIFY(h.messages.shown[0].contains(h.path(QStringLiteral("blocked/share"))));
        // The key store still gives pairs, so encryption works.
        QVERIFY(form.hasCryptProvider());
        form.show();
        QCOMPARE(form.currentPage(), 1);
        form.Password1->setText(QStringLiteral("password1"));
        form.Password2->setText(QStringLiteral("password1"));
        QTest::mouseClick(form.SpeedButton3, Qt::LeftButton);
        QVERIFY(WaitForWork(form));
        QCOMPARE(form.Panel13->text(), Q(texts::EncryptionCompleted));
    }

    void messageTextsShowTwoCleanLines()
    {
        QCOMPARE(DisplayText(Q(texts::DifferentPasswords)),
                 QStringLiteral("You have entered two different passwords.\nPlease make sure the password match."));
        QVERIFY(!DisplayText(Q(texts::ShortPassword)).contains(QLatin1Char('\r')));
    }
};

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    style::Apply(app);
    MainFormTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "MainFormTest.moc"
