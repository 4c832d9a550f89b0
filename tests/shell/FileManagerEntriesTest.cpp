// SPDX-License-Identifier: Apache-2.0
// The entries of GNOME Files and Caja run as those managers run them: the
// scripts with the selection as arguments and in the managers' variables, the
// Files extension loaded by Python with stand-ins for the Nautilus modules.

#include <QStandardPaths>

#include <fnmatch.h>

#include <functional>

#include "ShellTestSupport.h"
#include "shell/IntegrationFiles.h"
#include "shell/Quoting.h"

using namespace kestrawin::shell;
using namespace kestrawin::shell::testing;

namespace {

const QByteArray kStandIn =
    "#!/bin/sh\nfor a in \"$0\" \"$@\"; do printf '%s\\0' \"$a\"; done > \"$RECORD\"\n";

struct Outcome {
    QStringList argv;   // what the program received, argv[0] included
    QStringList output; // the lines the process printed
};

// Runs `program args` in `folder` with extra variables; the stand-in program
// records into d.dir/argv.
Outcome RunWith(const TempDesktop& d, const QString& program, const QStringList& args,
                const QMap<QString, QString>& vars, const QString& folder)
{
    const QString record = d.dir.path() + QStringLiteral("/argv");
    QFile::remove(record);
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("RECORD"), record);
    env.insert(QStringLiteral("PWD"), folder);
    for (auto it = vars.begin(); it != vars.end(); ++it) env.insert(it.key(), it.value());
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(folder);
    p.start(program, args);
    EXPECT_TRUE(p.waitForFinished(20000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    Outcome run;
    run.output =
        QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    run.argv = QString::fromUtf8(ReadAll(record)).split(QChar(0), Qt::SkipEmptyParts);
    return run;
}

// A stand-in program in a folder whose name no launcher takes lightly.
QString StandInProgram(const TempDesktop& d)
{
    const QString program = d.dir.path() + QStringLiteral("/it's \"$HOME\" \\ ünï/kestrawin");
    WriteAll(program, kStandIn);
    ::chmod(QFile::encodeName(program).constData(), 0755);
    return program;
}

// The selected files' list as the managers put it into their variable.
QString ListOf(const QStringList& paths)
{
    QString list;
    for (const QString& path : paths) list += path + QLatin1Char('\n');
    return list;
}

} // namespace

TEST(FileManagerScripts, EveryNameReachesTheProgramWholeInOneStart)
{
    TempDesktop d;
    const QString program = StandInProgram(d);
    ASSERT_TRUE(d.Register(program).ok());
    const QString folder = d.dir.path() + QStringLiteral("/shown");
    QDir().mkpath(folder);

    const QString plain = folder + QStringLiteral("/report 1.txt");
    const QString percent = folder + QStringLiteral("/50%f off %F %u.txt");
    const QString newline = folder + QStringLiteral("/two\nlines");
    const QString both = folder + QStringLiteral("/%f and\nbreak");

    struct Manager {
        QString script, variable;
    };
    const QList<Manager> managers = {
        {NautilusScriptPath(d.env), QStringLiteral("NAUTILUS_SCRIPT_SELECTED_FILE_PATHS")},
        {d.Config(QStringLiteral("caja/scripts/Encrypt with \"Kestrawin\"")),
         QStringLiteral("CAJA_SCRIPT_SELECTED_FILE_PATHS")},
    };
    for (const Manager& m : managers) {
        SCOPED_TRACE(m.variable.toStdString());
        // The manager expands field codes in the arguments: "%f" and its like vanish.
        auto mangled = [](QString name) {
            for (const char* code : {"%f", "%F", "%u"}) name.remove(QLatin1String(code));
            return name;
        };
        const QStringList selected{plain, percent, newline, both};
        QStringList args;
        for (const QString& path : selected) args.append(mangled(QFileInfo(path).fileName()));

        Outcome run = RunWith(d, m.script, args, {{m.variable, ListOf(selected)}}, folder);
        EXPECT_EQ(run.argv, QStringList{program} + selected + QStringList{"/crypt"});

        // Without the list, or with one that does not match the arguments, the
        // arguments are made absolute.
        run =
            RunWith(d, m.script,
                    {QStringLiteral("report 1.txt"), QStringLiteral("two\nlines"), "/elsewhere/x"},
                    {}, folder);
        EXPECT_EQ(run.argv, (QStringList{program, plain, newline, "/elsewhere/x", "/crypt"}));
        run = RunWith(d, m.script, {QStringLiteral("report 1.txt"), QStringLiteral("two\nlines")},
                      {{m.variable, ListOf({plain})}}, folder);
        EXPECT_EQ(run.argv, (QStringList{program, plain, newline, "/crypt"}));
        run = RunWith(d, m.script, {QStringLiteral("report 1.txt")},
                      {{m.variable, ListOf({plain, newline})}}, folder);
        EXPECT_EQ(run.argv, (QStringList{program, plain, "/crypt"}));
        // A list without its last line break still counts.
        run = RunWith(d, m.script, {mangled(QFileInfo(percent).fileName())},
                      {{m.variable, percent}}, folder);
        EXPECT_EQ(run.argv, (QStringList{program, percent, "/crypt"}));
    }
}

TEST(FilesExtension, ReplacesTheScriptWhereNautilusLoadsPythonAndGoesOnUninstall)
{
    TempDesktop d;
    d.Register(QStringLiteral("/opt/kestrawin/kestrawin"));
    EXPECT_TRUE(QFileInfo::exists(NautilusScriptPath(d.env)));
    EXPECT_FALSE(QFileInfo::exists(NautilusExtensionPath(d.env)));

    // python3-nautilus installed: the next start swaps the script for the extension.
    d.env.nautilusPython = true;
    EXPECT_TRUE(d.Register(QStringLiteral("/opt/kestrawin/kestrawin")).changed);
    EXPECT_FALSE(QFileInfo::exists(NautilusScriptPath(d.env)));
    EXPECT_EQ(ModeOf(NautilusExtensionPath(d.env)), 0644);
    EXPECT_TRUE(ReadAll(NautilusExtensionPath(d.env))
                    .contains("PROGRAM = b\"/opt/kestrawin/kestrawin\"\n"));
    EXPECT_TRUE(
        QFileInfo::exists(d.Config(QStringLiteral("caja/scripts/Encrypt with \"Kestrawin\""))));
    EXPECT_FALSE(d.Register(QStringLiteral("/opt/kestrawin/kestrawin")).changed);

    // Nautilus compiled it when it loaded it; removal takes that too, and only ours.
    const QString cache =
        QFileInfo(NautilusExtensionPath(d.env)).absolutePath() + QStringLiteral("/__pycache__/");
    WriteAll(cache + QStringLiteral("kestrawin_menu.cpython-311.pyc"), "compiled");
    WriteAll(cache + QStringLiteral("other.cpython-311.pyc"), "someone else's");
    UnregisterShell(d.env, d.recorder);
    EXPECT_FALSE(QFileInfo::exists(NautilusExtensionPath(d.env)));
    EXPECT_FALSE(QFileInfo::exists(cache + QStringLiteral("kestrawin_menu.cpython-311.pyc")));
    EXPECT_TRUE(QFileInfo::exists(cache + QStringLiteral("other.cpython-311.pyc")));

    // Support removed again: back to the script, the extension gone.
    d.Register(QStringLiteral("/opt/kestrawin/kestrawin"));
    d.env.nautilusPython = false;
    EXPECT_TRUE(d.Register(QStringLiteral("/opt/kestrawin/kestrawin")).changed);
    EXPECT_TRUE(QFileInfo::exists(NautilusScriptPath(d.env)));
    EXPECT_FALSE(QFileInfo::exists(NautilusExtensionPath(d.env)));
    // Removal deletes whichever of the two stands, whatever is installed now.
    d.env.nautilusPython = true;
    UnregisterShell(d.env, d.recorder);
    EXPECT_FALSE(QFileInfo::exists(NautilusScriptPath(d.env)));
}

TEST(FilesExtension, OffersBothEntriesAndPassesEverySelectedFile)
{
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (python.isEmpty()) GTEST_SKIP() << "python3 is not installed";
    TempDesktop d;
    d.env.nautilusPython = true;
    const QString program = StandInProgram(d);
    ASSERT_TRUE(d.Register(program).ok());
    const QString extension = NautilusExtensionPath(d.env);
    const QString runner = QStringLiteral(KESTRAWIN_TEST_PYTHON_DIR "/run_menu.py");
    const QString encrypt = QStringLiteral("Encrypt with \"Kestrawin\"");
    const QString decrypt = QStringLiteral("Decrypt with \"Kestrawin\"");
    const QString a = d.dir.path() + QStringLiteral("/a %f 'b' é.txt");
    const QString k = d.dir.path() + QStringLiteral("/letter.ksw");
    const QString upper = d.dir.path() + QStringLiteral("/OLD.KSW");

    for (const QString& api : {QStringLiteral("4.0"), QStringLiteral("3.0")}) {
        SCOPED_TRACE(api.toStdString());
        auto offered = [&](const QStringList& selection, const QString& activate = QString()) {
            return RunWith(d, python, QStringList{runner, extension} + selection,
                           {{QStringLiteral("STUB_NAUTILUS_API"), api},
                            {QStringLiteral("ACTIVATE"), activate}},
                           d.dir.path());
        };
        EXPECT_EQ(offered({"f:" + a}).output, QStringList{encrypt});
        EXPECT_EQ(offered({"f:" + k, "f:" + upper}).output, (QStringList{encrypt, decrypt}));
        EXPECT_EQ(offered({"f:" + k, "f:" + a}).output, QStringList{encrypt});
        EXPECT_TRUE(offered({"f:" + a, "d:" + d.dir.path()}).output.isEmpty());
        EXPECT_TRUE(offered({"r:remote.txt"}).output.isEmpty());

        EXPECT_EQ(offered({"f:" + a, "f:" + k}, encrypt).argv,
                  (QStringList{program, a, k, "/crypt"}));
        EXPECT_EQ(offered({"f:" + k, "f:" + upper}, decrypt).argv,
                  (QStringList{program, k, upper, "/encrypt"}));
    }
}

// Every manager's decrypt entry matches a container's name the way that
// manager matches names, upper-case ".KSW" included. (The Files extension is
// run above.)
TEST(FileManagerEntries, DecryptIsOfferedForEveryCaseOfTheExtension)
{
    TempDesktop d;
    ASSERT_TRUE(d.Register(QStringLiteral("/opt/kestrawin/kestrawin")).ok());
    auto matchesAny = [](const QStringList& patterns, const QString& name, bool caseless) {
        for (const QString& pattern : patterns)
            if (!pattern.isEmpty()
                && ::fnmatch(pattern.toUtf8().constData(), name.toUtf8().constData(),
                             caseless ? FNM_CASEFOLD : 0)
                       == 0)
                return true;
        return false;
    };
    // shared-mime-info: globs match whatever the case unless marked case-sensitive.
    const QByteArray mime = ReadAll(d.Data(QStringLiteral("mime/packages/kestrawin-pellmora.xml")));
    auto ofOurType = [&](const QString& name) {
        QXmlStreamReader r(mime);
        while (!r.atEnd())
            if (r.readNext() == QXmlStreamReader::StartElement && r.name() == u"glob"
                && matchesAny({r.attributes().value(QStringLiteral("pattern")).toString()}, name,
                              r.attributes().value(QStringLiteral("case-sensitive")) != u"true"))
                return true;
        return false;
    };
    using Offers = std::function<bool(const QByteArray& file, const QString& name)>;
    const Offers byType = [&](const QByteArray& file, const QString& name) {
        const auto keys = ParseKeyFile(file);
        for (const QString& value : keys)
            if (value.split(QLatin1Char(';')).contains(QStringLiteral("application/x-pellmora")))
                return ofOurType(name);
        return false;
    };
    struct Manager {
        const char* name;
        QString file;
        Offers offers;
    };
    const QList<Manager> managers = {
        {"type (Files, Caja, Nemo: double-click)",
         d.Data(QStringLiteral("applications/kestrawin-decrypt.desktop")), byType},
        {"Dolphin", d.Data(QStringLiteral("kio/servicemenus/kestrawin-decrypt.desktop")), byType},
        // Nemo compares extensions in lower case.
        {"Nemo", d.Data(QStringLiteral("nemo/actions/kestrawin-decrypt.nemo_action")),
         [](const QByteArray& file, const QString& name) {
             for (const QString& ext : ParseKeyFile(file)
                                           .value(QStringLiteral("Nemo Action/Extensions"))
                                           .split(QLatin1Char(';'), Qt::SkipEmptyParts))
                 if (name.toLower().endsWith(QLatin1Char('.') + ext.toLower())) return true;
             return false;
         }},
        {"PCManFM, caja-actions",
         d.Data(QStringLiteral("file-manager/actions/kestrawin-decrypt.desktop")),
         [&](const QByteArray& file, const QString& name) {
             const auto keys = ParseKeyFile(file);
             return matchesAny(
                 keys.value(QStringLiteral("X-Action-Profile main/Basenames"))
                     .split(QLatin1Char(';')),
                 name, keys.value(QStringLiteral("X-Action-Profile main/Matchcase")) == u"false");
         }},
        // Thunar matches its patterns letter case and all.
        {"Thunar", d.Config(QStringLiteral("Thunar/uca.xml")),
         [&](const QByteArray& file, const QString& name) {
             QXmlStreamReader r(file);
             QString id;
             while (!r.atEnd()) {
                 if (r.readNext() != QXmlStreamReader::StartElement) continue;
                 if (r.name() == u"unique-id") id = r.readElementText();
                 if (r.name() == u"patterns" && id == u"kestrawin-decrypt")
                     return matchesAny(r.readElementText().split(QLatin1Char(';')), name, false);
             }
             return false;
         }},
    };
    for (const Manager& m : managers) {
        SCOPED_TRACE(m.name);
        const QByteArray file = ReadAll(m.file);
        ASSERT_FALSE(file.isEmpty());
        for (const char* name : {"letter.ksw", "OLD.KSW"})
            EXPECT_TRUE(m.offers(file, QString::fromUtf8(name))) << name;
        for (const char* name : {"letter.txt", "ksw.txt"})
            EXPECT_FALSE(m.offers(file, QString::fromUtf8(name))) << name;
    }
}

TEST(Quoting, PythonBytesLiteralKeepsEveryByte)
{
    EXPECT_EQ(PythonBytesLiteral("/usr/bin/kestrawin"), QStringLiteral("b\"/usr/bin/kestrawin\""));
    EXPECT_EQ(PythonBytesLiteral("a\"b\\c\n\xc3\xa9'"),
              QStringLiteral("b\"a\\x22b\\x5cc\\x0a\\xc3\\xa9'\""));
}

// What the package's removal runs for each user: the entries that point at the
// removed program go, the user's other files and other Thunar actions stay.
TEST(PackageRemoval, ForgetsEntriesThatPointAtTheRemovedProgramOnly)
{
    const QString script = QStringLiteral(KESTRAWIN_FORGET_SCRIPT);
    const QString foreign = QStringLiteral(
        "<?xml version=\"1.0\" "
        "encoding=\"UTF-8\"?>\n<actions>\n<action>\n\t<icon>utilities-terminal</icon>\n"
        "\t<name>Open Terminal Here</name>\n\t<unique-id>1588000000000000-1</unique-id>\n"
        "\t<command>exo-open --working-directory "
        "%f</command>\n\t<patterns>*</patterns>\n</action>\n</actions>\n");
    auto forget = [&](TempDesktop& d, const QString& program) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), d.env.home);
        env.remove(QStringLiteral("XDG_DATA_HOME"));
        env.remove(QStringLiteral("XDG_CONFIG_HOME"));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral("/bin/sh"), {script, program});
        EXPECT_TRUE(p.waitForFinished(20000));
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    };

    for (const bool extension : {false, true}) {
        TempDesktop d;
        d.env.nautilusPython = extension;
        const QString removed = d.dir.path() + QStringLiteral("/usr/bin/kestrawin");
        WriteAll(d.Config("Thunar/uca.xml"), foreign.toUtf8());
        WriteAll(d.Data("applications/other.desktop"), "[Desktop Entry]\n");
        WriteAll(d.Data("icons/hicolor/48x48/apps/other.png"), "png");
        d.Register(removed);
        if (extension)
            WriteAll(QFileInfo(NautilusExtensionPath(d.env)).absolutePath()
                         + QStringLiteral("/__pycache__/kestrawin_menu.cpython-311.pyc"),
                     "compiled");
        const QMap<QString, int> registered = d.Files();

        // Entries of a program that still exists, or of another copy, stay.
        WriteAll(removed, "#!/bin/sh\n");
        EXPECT_EQ(forget(d, removed), QString());
        QFile::remove(removed);
        EXPECT_EQ(forget(d, QStringLiteral("/elsewhere/kestrawin")), QString());
        EXPECT_EQ(d.Files(), registered);

        EXPECT_FALSE(forget(d, removed).isEmpty()); // the user's name
        QStringList left = d.Files().keys();
        left.removeIf([](const QString& rel) {
            return rel.contains(QLatin1String("mime/"))
                   && !rel.contains(QLatin1String("packages/"));
        });
        left.removeIf(
            [](const QString& rel) { return rel.endsWith(QLatin1String("mimeinfo.cache")); });
        EXPECT_EQ(left,
                  (QStringList{".config/Thunar/uca.xml", ".local/share/applications/other.desktop",
                               ".local/share/icons/hicolor/48x48/apps/other.png"}));
        if (!QStandardPaths::findExecutable(QStringLiteral("python3")).isEmpty()) {
            const auto commands = ThunarCommands(ReadAll(d.Config("Thunar/uca.xml")));
            EXPECT_EQ(commands.keys(), QStringList{"1588000000000000-1"});
        }
    }
}
