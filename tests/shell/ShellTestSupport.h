// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "base/Words.h"
#include "shell/ShellRegistration.h"

namespace kestrawin::shell::testing {

// What the window says of an outcome that failed; empty when it did not.
inline QString Told(const ShellOutcome& outcome)
{
    if (outcome.ok()) return {};
    return QString::fromStdString(words::Fill(words::EntryNotWritten, {outcome.result.detail}));
}

inline QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline void WriteAll(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    f.write(bytes);
}

inline int ModeOf(const QString& path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

// A HOME with its XDG folders inside a temporary folder; records tool runs.
struct TempDesktop {
    QTemporaryDir dir;
    Environment env;
    QList<QStringList> toolRuns;
    ToolRunner recorder = [this](const QString& program, const QStringList& args) {
        toolRuns.append(QStringList{program} + args);
    };

    TempDesktop()
    {
        env.home = dir.path() + QStringLiteral("/home");
        env.dataHome = env.home + QStringLiteral("/.local/share");
        env.configHome = env.home + QStringLiteral("/.config");
        env.configDirs = {dir.path() + QStringLiteral("/etc/xdg")};
        env.dataDirs = {dir.path() + QStringLiteral("/usr/share")};
    }
    QString Data(const QString& rel) const { return env.dataHome + QLatin1Char('/') + rel; }
    QString Config(const QString& rel) const { return env.configHome + QLatin1Char('/') + rel; }
    ShellOutcome Register(const QString& program) { return RegisterShell(program, env, recorder); }

    // Every file and symbolic link below HOME, relative to it, with its mode.
    QMap<QString, int> Files() const
    {
        QMap<QString, int> files;
        QDirIterator it(env.home, QDir::Files | QDir::System | QDir::Hidden,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            files.insert(QDir(env.home).relativeFilePath(path), ModeOf(path));
        }
        return files;
    }
};

// Key-file reading as GLib does it: "group/key" -> unescaped value.
inline QMap<QString, QString> ParseKeyFile(const QByteArray& bytes)
{
    QMap<QString, QString> values;
    QString group;
    for (const QString& line : QString::fromUtf8(bytes).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1Char('['))) {
            group = line.mid(1, line.size() - 2);
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0) continue;
        QString value;
        const QString raw = line.mid(eq + 1);
        for (qsizetype i = 0; i < raw.size(); ++i) {
            if (raw[i] != u'\\' || i + 1 == raw.size()) {
                value += raw[i];
                continue;
            }
            const QChar e = raw[++i];
            value += e == u'n'   ? QChar(u'\n')
                     : e == u't' ? QChar(u'\t')
                     : e == u'r' ? QChar(u'\r')
                     : e == u's' ? QChar(u' ')
                                 : e;
        }
        values.insert(group + QLatin1Char('/') + line.left(eq), value);
    }
    return values;
}

// unique-id -> command of every action in a uca.xml (unique-id comes first in ours
// and in Thunar's own files).
inline QMultiMap<QString, QString> ThunarCommands(const QByteArray& uca)
{
    QMultiMap<QString, QString> commands;
    QXmlStreamReader r(uca);
    QString id;
    while (!r.atEnd()) {
        if (r.readNext() != QXmlStreamReader::StartElement) continue;
        if (r.name() == u"unique-id")
            id = r.readElementText();
        else if (r.name() == u"command")
            commands.insert(id, r.readElementText());
    }
    return commands;
}

// Runs a program that records its argv into $RECORD (NUL-separated) and returns it.
inline QStringList RunRecorded(const QString& program, const QStringList& args,
                               const QString& record, const QString& folder = QString(),
                               const QList<std::pair<QString, QString>>& extraEnv = {})
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("RECORD"), record);
    env.remove(QStringLiteral("NAUTILUS_SCRIPT_SELECTED_FILE_PATHS"));
    env.remove(QStringLiteral("CAJA_SCRIPT_SELECTED_FILE_PATHS"));
    for (const auto& [name, value] : extraEnv) env.insert(name, value);
    if (!folder.isEmpty()) {
        env.insert(QStringLiteral("PWD"), folder);
        p.setWorkingDirectory(folder);
    }
    p.setProcessEnvironment(env);
    p.start(program, args);
    p.waitForFinished(10000);
    const QStringList argv = QString::fromUtf8(ReadAll(record)).split(QChar(0), Qt::SkipEmptyParts);
    QFile::remove(record);
    return argv;
}

} // namespace kestrawin::shell::testing
