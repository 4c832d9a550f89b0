// SPDX-License-Identifier: Apache-2.0
#include <QStandardPaths>

#include "ShellTestSupport.h"
#include "shell/IntegrationFiles.h"
#include "shell/Quoting.h"

using namespace kestrawin::shell;
using namespace kestrawin::shell::testing;

namespace {

// Folder names a program may live in; each gets a stand-in program.
const QStringList kHostileFolders = {
    QStringLiteral("plain"),
    QStringLiteral("with space/it's \"quoted\""),
    QStringLiteral("dollar $HOME `id` \\back\\slash"),
    QStringLiteral("ünïcödé 日本 ;|&<>*?#()~ tab\there"),
    QStringLiteral("100% \n sure"), // registered through the link
};

// Records its argv, $0 included, NUL-separated.
const QByteArray kStandIn =
    "#!/bin/sh\nfor a in \"$0\" \"$@\"; do printf '%s\\0' \"$a\"; done > \"$RECORD\"\n";

// The desktop entry Exec rules, read independently: split at spaces, double
// quotes with \" \` \$ \\ escapes inside, reserved characters only when quoted,
// then %% becomes % (other field codes stay).
QStringList SplitDesktopExec(const QString& exec)
{
    static const QString reserved = QStringLiteral("\t\n\"'\\<>~|&;$*?#()`");
    QStringList args;
    QString current;
    bool inArg = false, quoted = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (quoted) {
            if (c == u'\\' && i + 1 < exec.size() && QStringLiteral("\"`$\\").contains(exec[i + 1]))
                current += exec[++i];
            else if (c == u'"')
                quoted = false;
            else if (c == u'\\' || c == u'`' || c == u'$')
                ADD_FAILURE() << "unescaped " << QString(c).toStdString()
                              << " in quotes: " << exec.toStdString();
            else
                current += c;
        } else if (c == u' ') {
            if (inArg) args.append(current);
            current.clear();
            inArg = false;
        } else {
            inArg = true;
            if (c == u'"')
                quoted = true;
            else if (reserved.contains(c))
                ADD_FAILURE() << "unquoted reserved character in " << exec.toStdString();
            else
                current += c;
        }
    }
    if (inArg) args.append(current);
    for (QString& arg : args)
        if (arg != u"%F") arg.replace(QStringLiteral("%%"), QStringLiteral("%"));
    return args;
}

QString TestShellQuote(const QString& s)
{
    return QLatin1Char('\'') + QString(s).replace(QLatin1Char('\''), QStringLiteral("'\"'\"'"))
           + QLatin1Char('\'');
}

// What the file manager does with a command: %F becomes every selected file,
// each quoted, %% a single %, and /bin/sh runs the result. Any other field
// code stays as it is. Returns the recorded argv.
QStringList RunLikeFileManager(const QString& command, const QStringList& files,
                               const QString& record)
{
    QStringList quoted;
    for (const QString& file : files) quoted.append(TestShellQuote(file));
    QString expanded;
    for (qsizetype i = 0; i < command.size(); ++i) {
        if (command[i] == u'%' && i + 1 < command.size()) {
            const QString code = command.mid(i++, 2);
            expanded += code == u"%F"   ? quoted.join(QLatin1Char(' '))
                        : code == u"%%" ? QStringLiteral("%")
                                        : code;
        } else {
            expanded += command[i];
        }
    }
    return RunRecorded(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), expanded}, record);
}

} // namespace

TEST(Quoting, HostileProgramPathsReachTheProgramIntactInEveryFormat)
{
    for (const QString& folder : kHostileFolders) {
        SCOPED_TRACE(folder.toStdString());
        TempDesktop d;
        const QString program =
            d.dir.path() + QLatin1Char('/') + folder + QStringLiteral("/kestrawin $1");
        WriteAll(program, kStandIn);
        ::chmod(QFile::encodeName(program).constData(), 0755);
        const QString file = d.dir.path() + QStringLiteral("/My secret é 'x'.ksw");
        const QString second = d.dir.path() + QStringLiteral("/two  spaces $x.ksw");
        WriteAll(file, "1");
        WriteAll(second, "2");
        const QString record = d.dir.path() + QStringLiteral("/argv");

        ASSERT_TRUE(d.Register(program).ok());
        const bool linked = folder.contains(QLatin1Char('%'));
        const QString registered = linked ? ProgramLinkPath(d.env) : program;

        const auto entry = ParseKeyFile(ReadAll(d.Data("applications/kestrawin-decrypt.desktop")));
        EXPECT_EQ(SplitDesktopExec(entry["Desktop Entry/Exec"]),
                  (QStringList{registered, "%F", "/encrypt"}));
        const auto kde =
            ParseKeyFile(ReadAll(d.Data("kio/servicemenus/kestrawin-encrypt.desktop")));
        EXPECT_EQ(SplitDesktopExec(kde["Desktop Action encrypt/Exec"]),
                  (QStringList{registered, "%F", "/crypt"}));
        const auto kdeDecrypt =
            ParseKeyFile(ReadAll(d.Data("kio/servicemenus/kestrawin-decrypt.desktop")));
        EXPECT_EQ(SplitDesktopExec(kdeDecrypt["Desktop Action encrypt/Exec"]),
                  (QStringList{registered, "%F", "/encrypt"}));

        // Every selected file reaches one process, the switch after them.
        const QStringList both{file, second};
        const QStringList encrypt{registered, file, second, "/crypt"};
        const QStringList decrypt{registered, file, second, "/encrypt"};
        for (const char* name : {"nemo/actions/kestrawin-encrypt.nemo_action",
                                 "nemo/actions/kestrawin-decrypt.nemo_action"}) {
            const auto nemo = ParseKeyFile(ReadAll(d.Data(name)));
            EXPECT_EQ(nemo["Nemo Action/Selection"], "notnone");
            EXPECT_EQ(RunLikeFileManager(nemo["Nemo Action/Exec"], both, record),
                      QString::fromUtf8(name).contains(u"encrypt.") ? encrypt : decrypt);
        }
        for (const char* name : {"file-manager/actions/kestrawin-encrypt.desktop",
                                 "file-manager/actions/kestrawin-decrypt.desktop"}) {
            const auto fm = ParseKeyFile(ReadAll(d.Data(name)));
            EXPECT_EQ(RunLikeFileManager(fm["X-Action-Profile main/Exec"], both, record),
                      QString::fromUtf8(name).contains(u"encrypt.") ? encrypt : decrypt);
        }
        const QByteArray uca = ReadAll(d.Config("Thunar/uca.xml"));
        EXPECT_EQ(RunLikeFileManager(ThunarCommands(uca).value("kestrawin-encrypt"), both, record),
                  encrypt);
        EXPECT_EQ(RunLikeFileManager(ThunarCommands(uca).value("kestrawin-decrypt"), both, record),
                  decrypt);

        // Scripts get names relative to the folder shown, all in one call.
        EXPECT_EQ(RunRecorded(d.Data("nautilus/scripts/Encrypt with \"Kestrawin\""),
                              {QFileInfo(file).fileName(), second}, record, d.dir.path()),
                  encrypt);
        EXPECT_EQ(RunRecorded(d.Config("caja/scripts/Encrypt with \"Kestrawin\""),
                              {QFileInfo(file).fileName(), second}, record, d.dir.path()),
                  encrypt);

        // Without the link the quoting alone still carries such a path.
        if (linked) {
            auto exec = [](const QString& value) {
                return ParseKeyFile("[g]\nExec=" + value.toUtf8())["g/Exec"];
            };
            EXPECT_EQ(SplitDesktopExec(exec(DesktopExecValue(program, "%F /crypt"))),
                      (QStringList{program, "%F", "/crypt"}));
            EXPECT_EQ(
                RunLikeFileManager(exec(ActionExecValue(program, "%F /crypt")), {file}, record),
                (QStringList{program, file, "/crypt"}));
        }
    }
}

// The script takes each file from whichever of its two sources carries it
// whole: the arguments (relative) or the variable (absolute, one a line).
TEST(Quoting, ScriptsPassEveryFileWhicheverWayItsNameCame)
{
    TempDesktop d;
    const QString program = d.dir.path() + QStringLiteral("/prog");
    WriteAll(program, kStandIn);
    ::chmod(QFile::encodeName(program).constData(), 0755);
    ASSERT_TRUE(d.Register(program).ok());
    const QString folder = d.dir.path() + QStringLiteral("/shown");
    QDir().mkpath(folder);
    const QString plain = folder + QStringLiteral("/plain.txt");
    const QString percent = folder + QStringLiteral("/100%f done.txt");
    const QString broken = folder + QStringLiteral("/line\nbreak.txt");
    for (const QString& f : {plain, percent, broken}) WriteAll(f, "x");
    const QString record = d.dir.path() + QStringLiteral("/argv");
    const QStringList all{program, plain, broken, percent, "/crypt"};
    // Each manager lists the selection, in the order of the arguments, in its own variable.
    const QString listed = plain + u'\n' + broken + u'\n' + percent + u'\n';
    const std::pair<const char*, const char*> scripts[] = {
        {"nautilus/scripts/Encrypt with \"Kestrawin\"", "NAUTILUS_SCRIPT_SELECTED_FILE_PATHS"},
        {"caja/scripts/Encrypt with \"Kestrawin\"", "CAJA_SCRIPT_SELECTED_FILE_PATHS"}};
    for (const auto& [script, variable] : scripts) {
        SCOPED_TRACE(variable);
        const QString path =
            QString::fromUtf8(script).startsWith(u"caja") ? d.Config(script) : d.Data(script);
        // "%f" mangled in the arguments; the line break whole there.
        EXPECT_EQ(RunRecorded(path,
                              {QStringLiteral("plain.txt"), QStringLiteral("line\nbreak.txt"),
                               QStringLiteral("100/tmp/x done.txt")},
                              record, folder, {{QString::fromLatin1(variable), listed}}),
                  all);
    }
    // Started by hand, without the variable: the arguments as they are.
    EXPECT_EQ(RunRecorded(d.Config("caja/scripts/Encrypt with \"Kestrawin\""),
                          {QStringLiteral("plain.txt"), QStringLiteral("gone.txt")}, record,
                          folder),
              (QStringList{program, plain, folder + QStringLiteral("/gone.txt"), "/crypt"}));
}

TEST(Quoting, DesktopEntryPassesValidator)
{
    const QString validator =
        QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (validator.isEmpty()) GTEST_SKIP() << "desktop-file-validate is not installed";
    TempDesktop d;
    d.Register(QStringLiteral("/opt/My Apps/kestrawin's \"best\" $version"));
    QProcess p;
    p.start(validator, {d.Data("applications/kestrawin-decrypt.desktop")});
    p.waitForFinished(10000);
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardOutput().toStdString();
}
