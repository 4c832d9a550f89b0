// SPDX-License-Identifier: Apache-2.0
#pragma once
// A window in a scratch home, with every outside effect recorded: message
// boxes answered from a queue, web pages and the closing pause noted.

#include "ui/MainWindow.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <deque>
#include <functional>
#include <memory>

namespace kestrawin::ui::testing {

inline QString Q(const char* text)
{
    return QString::fromUtf8(text);
}

inline std::string S(const QString& s)
{
    return s.toStdString();
}

// The window's control of that object name (controls::...); a test that asks
// for one the window does not have stops there.
template <class T>
T* Find(const QWidget& window, const char* name)
{
    T* control = window.findChild<T*>(QString::fromUtf8(name));
    if (!control) qFatal("the window has no control \"%s\"", name);
    return control;
}

class RecordingMessages final : public MessageBoxes {
public:
    void Inform(const QString& text) override { shown << QStringLiteral("inform: ") + text; }
    bool Ask(const QString& text) override
    {
        shown << QStringLiteral("ask: ") + text;
        if (whileAsking) whileAsking();
        if (answers.empty()) return true;
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void Error(const QString& text) override { shown << QStringLiteral("error: ") + text; }
    void List(const QString& text, const QString& whole) override
    {
        shown << QStringLiteral("inform: ") + text;
        wholeText = whole;
    }
    void Dismiss() override { shown << QStringLiteral("dismissed"); }

    QStringList shown;
    std::deque<bool> answers;
    std::function<void()> whileAsking; // runs while a question is open
    QString wholeText;                 // what the last list gives to its tooltip
};

struct Harness {
    QTemporaryDir home;
    RecordingMessages messages;
    QList<QUrl> opened;
    QList<int> sleeps;
    io::DiskHook diskHook; // handed to the window's operations

    QString path(const QString& name) const { return home.filePath(name); }

    WindowEnvironment Environment(std::vector<std::string> args)
    {
        WindowEnvironment env;
        env.arguments = std::move(args);
        env.workingDirectory = home.path().toStdString();
        env.shellEnvironment.home = home.path();
        env.shellEnvironment.dataHome = home.filePath(QStringLiteral(".local/share"));
        env.shellEnvironment.configHome = home.filePath(QStringLiteral(".config"));
        env.shellEnvironment.configDirs = {home.filePath(QStringLiteral("etc-xdg"))};
        env.shellEnvironment.dataDirs = {home.filePath(QStringLiteral("usr-share"))};
        env.programPath = QStringLiteral("/opt/kestrawin/bin/kestrawin");
        env.keyFolder =
            (env.shellEnvironment.dataHome + QStringLiteral("/kestrawin")).toStdString();
        env.messages = &messages;
        env.openUrl = [this](const QUrl& url) { opened << url; };
        env.sleep = [this](int ms) { sleeps << ms; };
        env.runTool = [](const QString&, const QStringList&) {};
        env.diskHook = diskHook;
        return env;
    }

    std::unique_ptr<MainWindow> Open(std::vector<std::string> args)
    {
        auto form = std::make_unique<MainWindow>(Environment(std::move(args)));
        form->show();
        QApplication::setActiveWindow(form.get());
        if (!QTest::qWaitForWindowActive(form.get())) qWarning("window not active");
        return form;
    }

    bool Write(const QString& name, const QByteArray& bytes)
    {
        QFile f(path(name));
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    }
    QByteArray Read(const QString& name) const
    {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

// Types `password` into both fields of the Encrypt page and presses Encrypt.
inline void EncryptWith(MainWindow& window, const QString& password)
{
    Find<QLineEdit>(window, controls::Password)->setText(password);
    Find<QLineEdit>(window, controls::PasswordAgain)->setText(password);
    QTest::mouseClick(Find<QPushButton>(window, controls::EncryptButton), Qt::LeftButton);
}

inline bool WaitForWork(MainWindow& form)
{
    QSignalSpy spy(&form, &MainWindow::workFinished);
    return !form.busy() || spy.wait(60000);
}

} // namespace kestrawin::ui::testing
