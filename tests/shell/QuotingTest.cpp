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
    QStringLiteral("100% \n sure"),  // registered through the link
};

// Records its argv, $0 included, NUL-separated.
const QByteArray kStandIn = "#!/bin/sh\nfor a in \"$0\" \"$@\"; do printf '%s\\0' \"$a\"; done > \"$RECORD\"\n";

// The desktop entry Exec rules, read independently: split at spaces, double
// quotes with \" \` \$ \\ escapes inside, reserved characters only when quoted,
// then %% becomes % (other field codes stay).
QStringList SplitDesktopExec(const QString& exec) {
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
                ADD_FAILURE() << "unescaped " << QString(c).toStdString() << " in quotes: " << exec.toStdString();
            else
                current += c;
        } else if (c == u' ') {
            if (inArg)
                args.append(current);
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
    if (inArg)
        args.append(current);
    for (QString& arg : args)
        if (arg != u"%f")
            arg.replace(QStringLiteral("%%"), QStringLiteral("%"));
    return args;
}

QString TestShellQuote(const QString& s) {
    return QLatin1Char('\'') + QString(s).replace(QLatin1Char('\''), QStringLiteral("'\"'\"'")) + QLatin1Char('\'');
}

// What the file manager does with a command: the field code becomes the quoted
// file, %% a single %, and /bin/sh runs the result. Returns the recorded argv.
QStringList RunLikeFileManager(const QString& command, const QString& fieldCode, const QString& file,
                               const QString& record) {
    QString expanded;
    for (qsizetype i = 0; i < command.size(); ++i) {
        if (command[i] == u'%' && i + 1 < command.size()) {
            const QString code = command.mid(i++, 2);
            expanded += code == fieldCode ? TestShellQuote(file) : code == u"%%" ? QStringLiteral("%") : code;
        } else {
            expanded += command[i];
        }
    }
    return RunRecorded(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), expanded}, record);
}

}  // namespace

TEST(Quoting, HostileProgramPathsReachTheProgramIntactInEveryFormat) {
    for (const QString& folder : kHostileFolders) {
        SCOPED_TRACE(folder.toStdString());
        TempDesktop d;
        const QString program = d.dir.path() + QLatin1Char('/') + folder + QStringLiteral("/kestrawin $1");
        WriteAll(program, kStandIn);
        ::chmod(QFile::encodeName(program).constData(), 0755);
        const QString file = d.dir.path() + QStringLiteral("/My secret é 'x'.ksw");
        const QString record = d.dir.path() + QStringLiteral("/argv");

        ASSERT_TRUE(d.Register(program).error.isEmpty());
        const bool linked = folder.contains(QLatin1Char('%'));
        const QString registered = linked ? ProgramLinkPath(d.env) : program;

        const auto entry = ParseKeyFile(ReadAll(d.Data("applications/kestrawin-decrypt.desktop")));
        EXPECT_EQ(SplitDesktopExec(entry["Desktop Entry/Exec"]), (QStringList{registered, "%f", "/encrypt"}));
        const auto kde = ParseKeyFile(ReadAll(d.Data("kio/servicemenus/kestrawin-encrypt.desktop")));
        EXPECT_EQ(SplitDesktopExec(kde["Desktop Action encrypt/Exec"]), (QStringList{registered, "%f", "/crypt"}));

        const QStringList encrypt{registered, file, "/crypt"};
        const QStringList decrypt{registered, file, "/encrypt"};
        const auto nemo = ParseKeyFile(ReadAll(d.Data("nemo/actions/kestrawin-encrypt.nemo_action")));
        EXPECT_EQ(RunLikeFileManager(nemo["Nemo Action/Exec"], "%F", file, record), encrypt);
        const auto fm = ParseKeyFile(ReadAll(d.Data("file-manager/actions/kestrawin-decrypt.desktop")));
        EXPECT_EQ(RunLikeFileManager(fm["X-Action-Profile main/Exec"], "%f", file, record), decrypt);
        const QByteArray uca = ReadAll(d.Config("Thunar/uca.xml"));
        EXPECT_EQ(RunLikeFileManager(ThunarCommands(uca).value("kestrawin-decrypt"), "%f", file, record), decrypt);

        // Scripts get names relative to the folder shown.
        EXPECT_EQ(RunRecorded(d.Data("nautilus/scripts/Encrypt with \"Kestrawin\""), {QFileInfo(file).fileName()},
                              record, d.dir.path()),
                  encrypt);
        EXPECT_EQ(RunRecorded(d.Config("caja/scripts/Encrypt with \"Kestrawin\""), {QFileInfo(file).fileName()},
                              record, d.dir.path()),
                  encrypt);

        // Without the link the quoting alone still carries such a path.
        if (linked) {
            auto exec = [](const QString& value) { return ParseKeyFile("[g]\nExec=" + value.toUtf8())["g/Exec"]; };
            EXPECT_EQ(SplitDesktopExec(exec(DesktopExecValue(program, "%f /crypt"))),
                      (QStringList{program, "%f", "/crypt"}));
            EXPECT_EQ(RunLikeFileManager(exec(ActionExecValue(program, "%f /crypt")), "%f", file, record),
                      (QStringList{program, file, "/crypt"}));
        }
    }
}

TEST(Quoting, DesktopEntryPassesValidator) {
    const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (validator.isEmpty())
        GTEST_SKIP() << "desktop-file-validate is not installed";
    TempDesktop d;
    d.Register(QStringLiteral("/opt/My Apps/kestrawin's \"best\" $version"));
    QProcess p;
    p.start(validator, {d.Data("applications/kestrawin-decrypt.desktop")});
    p.waitForFinished(10000);
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardOutput().toStdString();
}
