// SPDX-License-Identifier: Apache-2.0
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <optional>
#include <sys/wait.h>
#include <unistd.h>

#include "ShellTestSupport.h"
#include "shell/IntegrationFiles.h"
#include "shell/ThunarActions.h"

using namespace kestrawin::shell;
using namespace kestrawin::shell::testing;

namespace {

const QString kProgram = QStringLiteral("/opt/kestrawin/kestrawin");

// Our files below HOME with their modes, uca.xml aside.
QMap<QString, int> ExpectedFiles()
{
    QMap<QString, int> files{
        {".local/share/mime/packages/kestrawin-pellmora.xml", 0644},
        {".local/share/icons/hicolor/scalable/apps/kestrawin.svg", 0644},
        {".local/share/applications/kestrawin-decrypt.desktop", 0644},
        {".local/share/kio/servicemenus/kestrawin-encrypt.desktop", 0755},
        {".local/share/kio/servicemenus/kestrawin-decrypt.desktop", 0755},
        {".local/share/nemo/actions/kestrawin-encrypt.nemo_action", 0644},
        {".local/share/nemo/actions/kestrawin-decrypt.nemo_action", 0644},
        {".local/share/file-manager/actions/kestrawin-encrypt.desktop", 0644},
        {".local/share/file-manager/actions/kestrawin-decrypt.desktop", 0644},
        {".local/share/nautilus/scripts/Encrypt with \"Kestrawin\"", 0755},
        {".config/caja/scripts/Encrypt with \"Kestrawin\"", 0755},
    };
    for (const int n : kIconSizes)
        files.insert(QStringLiteral(".local/share/icons/hicolor/%1x%1/apps/kestrawin.png").arg(n),
                     0644);
    return files;
}

const QByteArray kForeignUca =
    "<?xml version=\"1.0\" "
    "encoding=\"UTF-8\"?>\n<actions>\n<action>\n\t<icon>utilities-terminal</icon>\n"
    "\t<name>Open Terminal Here</name>\n\t<unique-id>1588000000000000-1</unique-id>\n"
    "\t<command>exo-open --working-directory %f --launch TerminalEmulator</command>\n"
    "\t<patterns>*</patterns>\n\t<directories/>\n</action>\n</actions>\n";

} // namespace

TEST(Registration, WritesExactFileSetWithModesAndRunsUpdateTools)
{
    TempDesktop d;
    const ShellOutcome outcome = d.Register(kProgram);
    EXPECT_TRUE(outcome.ok()) << Told(outcome).toStdString();
    EXPECT_TRUE(outcome.changed);

    QMap<QString, int> expected = ExpectedFiles();
    expected.insert(".config/Thunar/uca.xml", 0644);
    EXPECT_EQ(d.Files(), expected);
    EXPECT_EQ(d.toolRuns,
              (QList<QStringList>{{"update-mime-database", d.Data("mime")},
                                  {"update-desktop-database", d.Data("applications")}}));

    EXPECT_EQ(
        ReadAll(d.Data("mime/packages/kestrawin-pellmora.xml")),
        "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
        "  <mime-type type=\"application/x-pellmora\">\n    <comment>Encrypted file</comment>\n"
        "    <icon name=\"kestrawin\"/>\n    <generic-icon name=\"kestrawin\"/>\n"
        "    <glob pattern=\"*.ksw\"/>\n  </mime-type>\n</mime-info>\n");
    EXPECT_EQ(ReadAll(d.Data("applications/kestrawin-decrypt.desktop")),
              "[Desktop Entry]\nType=Application\nName=Kestrawin\nExec=/opt/kestrawin/kestrawin %F "
              "/encrypt\n"
              "Icon=kestrawin\nNoDisplay=true\nMimeType=application/x-pellmora;\nTerminal=false\n");
    EXPECT_EQ(ReadAll(d.Data("icons/hicolor/48x48/apps/kestrawin.png")),
              ReadAll(IconResourcePath(48)));
    EXPECT_TRUE(ReadAll(d.Data("icons/hicolor/256x256/apps/kestrawin.png")).startsWith("\x89PNG"));
    EXPECT_TRUE(ReadAll(d.Data("icons/hicolor/scalable/apps/kestrawin.svg")).contains("<svg"));

    const auto commands = ThunarCommands(ReadAll(d.Config("Thunar/uca.xml")));
    EXPECT_EQ(commands.values("kestrawin-encrypt"),
              QStringList{"'/opt/kestrawin/kestrawin' %F /crypt"});
    EXPECT_EQ(commands.values("kestrawin-decrypt"),
              QStringList{"'/opt/kestrawin/kestrawin' %F /encrypt"});
}

TEST(Registration, SecondStartChangesNothing)
{
    TempDesktop d;
    d.Register(kProgram);
    // Age every file so that a rewrite would show in its time.
    const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    QMap<QString, QByteArray> before;
    for (const QString& rel : d.Files().keys()) {
        const QString path = d.env.home + QLatin1Char('/') + rel;
        before.insert(rel, ReadAll(path));
        ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), old, 0);
    }
    d.toolRuns.clear();

    const ShellOutcome again = d.Register(kProgram);
    EXPECT_FALSE(again.changed);
    EXPECT_TRUE(again.ok());
    EXPECT_TRUE(d.toolRuns.isEmpty());
    for (const QString& rel : before.keys()) {
        const QString path = d.env.home + QLatin1Char('/') + rel;
        EXPECT_EQ(ReadAll(path), before[rel]) << rel.toStdString();
        EXPECT_EQ(QFileInfo(path).lastModified().toSecsSinceEpoch(), 1000000000)
            << rel.toStdString();
    }
}

TEST(Registration, MovedProgramIsReferencedEverywhereAndStaleModesAreMended)
{
    TempDesktop d;
    d.Register(kProgram);
    ::chmod(QFile::encodeName(d.Data("kio/servicemenus/kestrawin-encrypt.desktop")).constData(),
            0644);
    EXPECT_TRUE(d.Register(kProgram).changed);
    EXPECT_EQ(ModeOf(d.Data("kio/servicemenus/kestrawin-encrypt.desktop")), 0755);

    const QString moved = QStringLiteral("/home/someone/Apps/kestrawin-1.8");
    d.toolRuns.clear();
    EXPECT_TRUE(d.Register(moved).changed);

    int referencing = 0;
    for (const QString& rel : d.Files().keys()) {
        const QByteArray bytes = ReadAll(d.env.home + QLatin1Char('/') + rel);
        EXPECT_FALSE(bytes.contains(kProgram.toUtf8())) << rel.toStdString();
        referencing += bytes.contains(moved.toUtf8()) ? 1 : 0;
    }
    EXPECT_EQ(referencing, 10); // desktop entry, 2 KDE, 2 Nemo, 2 file-manager, 2 scripts, uca.xml
    EXPECT_EQ(ThunarCommands(ReadAll(d.Config("Thunar/uca.xml"))).size(), 2);
    EXPECT_EQ(d.toolRuns.size(), 1); // the desktop entry changed, the type did not
}

TEST(Registration, PathThatLaunchersCannotCarryGoesThroughLink)
{
    TempDesktop d;
    const QString odd = d.dir.path() + QStringLiteral("/50% off\n/kestrawin");
    d.Register(odd);
    const QString link = ProgramLinkPath(d.env);
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), odd);
    const auto exec = ParseKeyFile(ReadAll(d.Data("applications/kestrawin-decrypt.desktop")));
    EXPECT_EQ(exec["Desktop Entry/Exec"], link + QStringLiteral(" %F /encrypt"));

    d.Register(kProgram); // a plain path needs no link any more
    EXPECT_FALSE(QFileInfo(link).isSymLink());
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(link).absolutePath()));
}

TEST(Registration, RemovalDeletesOnlyOurs)
{
    TempDesktop d;
    const QStringList foreign = {
        d.Data("kio/servicemenus/other.desktop"),     d.Data("nemo/actions/other.nemo_action"),
        d.Data("applications/other.desktop"),         d.Data("mime/packages/other.xml"),
        d.Data("nautilus/scripts/Other script"),      d.Data("icons/hicolor/48x48/apps/other.png"),
        d.Data("file-manager/actions/other.desktop"), d.Config("caja/scripts/Other script")};
    for (const QString& path : foreign) WriteAll(path, "theirs");
    WriteAll(d.Config("Thunar/uca.xml"), kForeignUca);
    d.Register(kProgram);
    d.toolRuns.clear();

    EXPECT_TRUE(UnregisterShell(d.env, d.recorder).ok());
    QMap<QString, int> left = d.Files();
    EXPECT_EQ(left.size(), foreign.size() + 1) << QStringList(left.keys()).join(", ").toStdString();
    for (const QString& path : foreign) EXPECT_EQ(ReadAll(path), "theirs");
    const auto commands = ThunarCommands(ReadAll(d.Config("Thunar/uca.xml")));
    EXPECT_EQ(commands.keys(), QStringList{"1588000000000000-1"});
    EXPECT_EQ(d.toolRuns.size(), 2);
    EXPECT_TRUE(QFileInfo(d.Data("kio/servicemenus")).isDir());
}

TEST(Registration, CopiesSystemUcaWhenUserHasNoneAndKeepsTheUsersMode)
{
    TempDesktop d;
    const QString system = d.dir.path() + QStringLiteral("/etc/xdg/Thunar/uca.xml");
    WriteAll(system, kForeignUca);
    d.env.configDirs.prepend(d.dir.path() + QStringLiteral("/nothing-here"));
    d.Register(kProgram);
    EXPECT_EQ(ThunarCommands(ReadAll(d.Config("Thunar/uca.xml"))).keys(),
              (QStringList{"1588000000000000-1", "kestrawin-decrypt", "kestrawin-encrypt"}));
    EXPECT_EQ(ReadAll(system), kForeignUca);

    ::chmod(QFile::encodeName(d.Config("Thunar/uca.xml")).constData(), 0600);
    d.Register(QStringLiteral("/elsewhere/kestrawin"));
    EXPECT_EQ(ModeOf(d.Config("Thunar/uca.xml")), 0600);
}

TEST(Registration, MalformedUcaIsLeftAloneAndReported)
{
    TempDesktop d;
    const QByteArray broken = "<actions><action><name>half</name>";
    WriteAll(d.Config("Thunar/uca.xml"), broken);
    const ShellOutcome outcome = d.Register(kProgram);
    EXPECT_EQ(ReadAll(d.Config("Thunar/uca.xml")), broken);
    EXPECT_EQ(Told(outcome),
              QStringLiteral("Failed to set data for '%1'").arg(d.Config("Thunar/uca.xml")));
    EXPECT_EQ(outcome.failedPaths.size(), 1);
    EXPECT_EQ(d.Files().size(), ExpectedFiles().size() + 1); // everything else was written
}

TEST(Registration, FailingFileDoesNotStopTheOthers)
{
    TempDesktop d;
    WriteAll(d.Data("kio"), "a file where a folder belongs");
    const ShellOutcome outcome = d.Register(kProgram);
    const QString first = d.Data("kio/servicemenus/kestrawin-encrypt.desktop");
    EXPECT_EQ(Told(outcome), QStringLiteral("Failed to set data for '%1'").arg(first));
    EXPECT_EQ(outcome.failedPaths,
              (QStringList{first, d.Data("kio/servicemenus/kestrawin-decrypt.desktop")}));
    EXPECT_EQ(d.Files().size(), ExpectedFiles().size() - 2 + 2); // + uca.xml and the blocking file
}

// Runs `body` where file permissions apply: as root, in a child that has become
// nobody. Returns the body's complaint, empty when it had none.
static std::string WithPermissionsEnforced(const std::function<std::string()>& body)
{
    if (::geteuid() != 0) return body();
    int fds[2];
    if (::pipe(fds) != 0) return "pipe failed";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        std::string result =
            (::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0)
                ? body()
                : std::string("could not drop privileges");
        (void)!::write(fds[1], result.data(), result.size());
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string result;
    char buffer[512];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
        result.append(buffer, size_t(n));
    ::close(fds[0]);
    ::waitpid(pid, nullptr, 0);
    return result;
}

TEST(Registration, RemovalNamesWhatItCouldNotDelete)
{
    TempDesktop d;
    ASSERT_TRUE(d.Register(kProgram).ok());
    // A folder turned into a link to itself: nothing below it can be deleted,
    // whoever asks.
    const QString kio = d.Data("kio/servicemenus");
    ASSERT_TRUE(QDir(kio).removeRecursively());
    ASSERT_EQ(::symlink("servicemenus", QFile::encodeName(kio).constData()), 0);

    const ShellOutcome outcome = UnregisterShell(d.env, d.recorder);
    const QString first = d.Data("kio/servicemenus/kestrawin-encrypt.desktop");
    EXPECT_FALSE(outcome.ok());
    EXPECT_EQ(Told(outcome), QStringLiteral("Failed to set data for '%1'").arg(first));
    EXPECT_EQ(outcome.failedPaths,
              (QStringList{first, d.Data("kio/servicemenus/kestrawin-decrypt.desktop")}));
    // The others went all the same.
    EXPECT_FALSE(QFileInfo::exists(d.Data("applications/kestrawin-decrypt.desktop")));
    EXPECT_TRUE(outcome.changed);
}

TEST(Registration, ReadOnlyDataFolderGivesTheMessage)
{
    TempDesktop d;
    QDir().mkpath(d.env.dataHome);
    QDir().mkpath(d.env.configHome);
    for (const QString& path : {d.dir.path(), d.env.home, d.env.home + QStringLiteral("/.local")})
        ::chmod(QFile::encodeName(path).constData(), 0755);
    ::chmod(QFile::encodeName(d.env.dataHome).constData(), 0555);
    ::chmod(QFile::encodeName(d.env.configHome).constData(), 0777);

    const std::string complaint = WithPermissionsEnforced([&]() -> std::string {
        const ShellOutcome outcome = d.Register(kProgram);
        if (Told(outcome)
            != QStringLiteral("Failed to set data for '%1'")
                   .arg(d.Data("mime/packages/kestrawin-pellmora.xml")))
            return "error was: " + Told(outcome).toStdString();
        if (outcome.failedPaths.size() != ExpectedFiles().size() - 1)
            return "failed: " + outcome.failedPaths.join(", ").toStdString();
        if (!QFileInfo::exists(d.Config("Thunar/uca.xml"))
            || !QFileInfo::exists(d.Config("caja/scripts")))
            return "the config files were not written";
        return {};
    });
    ::chmod(QFile::encodeName(d.env.dataHome).constData(), 0755);
    EXPECT_EQ(complaint, "");
}

TEST(ThunarActions, DuplicatesCollapseAndReformattedActionsAreKept)
{
    const QList<ThunarAction> ours = OurThunarActions(kProgram);
    const UcaEdit first = MergeThunarActions(kForeignUca, ours);
    ASSERT_EQ(first.status, UcaStatus::Changed);

    // The same actions laid out differently (as Thunar saves them) need no rewrite.
    QByteArray reformatted = first.bytes;
    reformatted.replace("\n  <unique-id>", "\n\t\t<unique-id>");
    EXPECT_EQ(MergeThunarActions(reformatted, ours).status, UcaStatus::Unchanged);

    // A copy of our action (a file merged by hand) is dropped; the foreign one stays first.
    QByteArray doubled = first.bytes;
    const qsizetype start = doubled.indexOf("<action><icon>kestrawin");
    const qsizetype end = doubled.indexOf("</action>", start) + 9;
    doubled.insert(end, "\n" + doubled.mid(start, end - start));
    const UcaEdit mended = MergeThunarActions(doubled, ours);
    EXPECT_EQ(mended.status, UcaStatus::Changed);
    EXPECT_EQ(mended.bytes, first.bytes);

    EXPECT_EQ(RemoveThunarActions(first.bytes, OurThunarActionIds()).bytes, kForeignUca);
    EXPECT_EQ(MergeThunarActions("", ours).status, UcaStatus::Changed);
    EXPECT_EQ(MergeThunarActions("<menu/>", ours).status, UcaStatus::Malformed);
}

TEST(Environment, FollowsXdgVariablesAndIgnoresRelativeOnes)
{
    const char* names[] = {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_DIRS"};
    const char* values[] = {"/h", "relative/share", "/a:relative:/b"};
    QList<std::optional<QByteArray>> saved;
    for (int i = 0; i < 3; ++i) {
        saved.append(qEnvironmentVariableIsSet(names[i]) ? std::optional(qgetenv(names[i]))
                                                         : std::nullopt);
        qputenv(names[i], values[i]);
    }
    const Environment env = Environment::FromProcess();
    for (int i = 0; i < 3; ++i) saved[i] ? qputenv(names[i], *saved[i]) : qunsetenv(names[i]);
    EXPECT_EQ(env.dataHome, "/h/.local/share");
    EXPECT_EQ(env.configDirs, (QStringList{"/a", "/b"}));
    RunToolQuietly(QStringLiteral("kestrawin-no-such-tool"), {}); // a missing tool is no error
}

TEST(Environment, RegistersTheRunningProgramOrItsAppImage)
{
    ASSERT_FALSE(qEnvironmentVariableIsSet("APPIMAGE"));
    EXPECT_EQ(ProgramPathForRegistration(), QCoreApplication::applicationFilePath());
    qputenv("APPIMAGE", "/opt/Kestrawin-1.8.AppImage");
    EXPECT_EQ(ProgramPathForRegistration(), "/opt/Kestrawin-1.8.AppImage");
    qunsetenv("APPIMAGE");
}
