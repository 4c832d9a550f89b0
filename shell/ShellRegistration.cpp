// SPDX-License-Identifier: Apache-2.0
#include "shell/ShellRegistration.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <cerrno>
#include <mutex>
#include <unistd.h>

#include "shell/FileWriter.h"
#include "shell/IntegrationFiles.h"

// Q_INIT_RESOURCE must be used outside any namespace. Calling it also makes the
// linker keep the resource object of this static library.
static void InitKestrawinIconResource()
{
    Q_INIT_RESOURCE(kestrawin);
}

namespace kestrawin::shell {
namespace {

constexpr int kToolTimeoutMs = 10000;

QString XdgHome(const char* variable, const QString& fallback)
{
    const QString value = qEnvironmentVariable(variable);
    // Relative values are invalid and ignored.
    return QDir::isAbsolutePath(value) ? QDir::cleanPath(value) : fallback;
}

QStringList XdgDirs(const char* variable, const QStringList& fallback)
{
    QStringList dirs;
    for (const QString& dir :
         qEnvironmentVariable(variable).split(QLatin1Char(':'), Qt::SkipEmptyParts))
        if (QDir::isAbsolutePath(dir)) dirs.append(QDir::cleanPath(dir));
    return dirs.isEmpty() ? fallback : dirs;
}

// Where python3-nautilus (and its like elsewhere) puts the library through which
// Nautilus loads Python extensions: <libdir>[/<triplet>]/nautilus/extensions-<N>/.
bool NautilusLoadsPython()
{
    for (const QString& base : {QStringLiteral("/usr/lib"), QStringLiteral("/usr/lib64"),
                                QStringLiteral("/usr/local/lib")}) {
        QStringList nautilusDirs{base + QStringLiteral("/nautilus")};
        for (const QString& sub : QDir(base).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            nautilusDirs.append(base + QLatin1Char('/') + sub + QStringLiteral("/nautilus"));
        for (const QString& dir : nautilusDirs) {
            for (const QString& ext :
                 QDir(dir).entryList({QStringLiteral("extensions-*")}, QDir::Dirs))
                if (QFileInfo::exists(dir + QLatin1Char('/') + ext
                                      + QStringLiteral("/libnautilus-python.so")))
                    return true;
        }
    }
    return false;
}

// GLib's launcher breaks on a `%` or a line break in the program path however it
// is quoted.
bool NeedsProgramLink(const QString& program)
{
    return program.contains(QLatin1Char('%')) || program.contains(QLatin1Char('\n'))
           || program.contains(QLatin1Char('\r'));
}

QString LinkTarget(const QString& link)
{
    const QByteArray path = QFile::encodeName(link);
    QByteArray buffer(4096, '\0');
    const ssize_t n =
        ::readlink(path.constData(), buffer.data(), static_cast<size_t>(buffer.size()));
    return n < 0 ? QString() : QFile::decodeName(buffer.left(n));
}

// Makes `link` a symbolic link to `target`, replacing an older one in one rename.
WriteResult PointLinkAt(const QString& link, const QString& target)
{
    if (QFileInfo(link).isSymLink() && LinkTarget(link) == target) return WriteResult::Unchanged;
    if (!QDir().mkpath(QFileInfo(link).absolutePath())) return WriteResult::Failed;
    const QByteArray temp = QFile::encodeName(link + QStringLiteral(".new-%1").arg(::getpid()));
    ::unlink(temp.constData());
    if (::symlink(QFile::encodeName(target).constData(), temp.constData()) != 0)
        return WriteResult::Failed;
    if (::rename(temp.constData(), QFile::encodeName(link).constData()) != 0) {
        ::unlink(temp.constData());
        return WriteResult::Failed;
    }
    return WriteResult::Written;
}

WriteResult RemoveProgramLink(const Environment& env)
{
    const QString link = ProgramLinkPath(env);
    if (!QFileInfo(link).isSymLink()) return WriteResult::Unchanged;
    const WriteResult removed = RemoveIfPresent(link);
    QDir().rmdir(QFileInfo(link).absolutePath()); // our own folder, only when empty
    return removed;
}

// Which caches must be rebuilt after the files changed.
struct Refresh {
    bool mime = false, desktop = false, icons = false;

    void Note(FileRole role)
    {
        mime = mime || role == FileRole::MimeType;
        desktop = desktop || role == FileRole::DesktopEntry;
        icons = icons || role == FileRole::Icon;
    }

    void Run(const Environment& env, const ToolRunner& runTool) const
    {
        const ToolRunner& run = runTool ? runTool : ToolRunner(RunToolQuietly);
        if (icons) TouchPath(HicolorFolder(env)); // icon caches compare this folder's time
        if (mime) run(QStringLiteral("update-mime-database"), {MimeFolder(env)});
        if (desktop) run(QStringLiteral("update-desktop-database"), {ApplicationsFolder(env)});
    }
};

// The uca.xml to start from when the user has none: the one Thunar would read
// otherwise, so that its own actions are not lost.
QByteArray StartingUca(const Environment& env)
{
    for (const QString& dir : env.configDirs) {
        QByteArray bytes;
        if (ReadWholeFile(dir + QStringLiteral("/Thunar/uca.xml"), &bytes)
            && MergeThunarActions(bytes, {}).status != UcaStatus::Malformed)
            return bytes;
    }
    return EmptyUcaDocument();
}

// Puts our actions into the user's uca.xml. A file that does not parse is left
// as it is and fails.
WriteResult RegisterThunarActions(const QString& program, const Environment& env)
{
    const QString path = ThunarUcaPath(env);
    const bool exists = QFileInfo::exists(path);
    QByteArray base;
    if (!exists)
        base = StartingUca(env);
    else if (!ReadWholeFile(path, &base))
        return WriteResult::Failed;
    const UcaEdit edit = MergeThunarActions(base, OurThunarActions(program));
    if (edit.status == UcaStatus::Malformed) return WriteResult::Failed;
    if (exists && edit.status == UcaStatus::Unchanged) return WriteResult::Unchanged;
    const int mode = exists ? FileMode(path) : 0644;
    return WriteFileIfDifferent(path, edit.bytes, mode < 0 ? 0644 : static_cast<mode_t>(mode));
}

} // namespace

Environment Environment::FromProcess()
{
    Environment env;
    env.home = QDir::homePath();
    env.dataHome =
        XdgHome("XDG_DATA_HOME", QDir::cleanPath(env.home + QStringLiteral("/.local/share")));
    env.configHome =
        XdgHome("XDG_CONFIG_HOME", QDir::cleanPath(env.home + QStringLiteral("/.config")));
    env.configDirs = XdgDirs("XDG_CONFIG_DIRS", {QStringLiteral("/etc/xdg")});
    env.dataDirs = XdgDirs("XDG_DATA_DIRS",
                           {QStringLiteral("/usr/local/share"), QStringLiteral("/usr/share")});
    env.nautilusPython = NautilusLoadsPython();
    return env;
}

QString ProgramPathForRegistration()
{
    const QString appImage = qEnvironmentVariable("APPIMAGE");
    if (!appImage.isEmpty()) return QFileInfo(appImage).absoluteFilePath();
    QString path = LinkTarget(QStringLiteral("/proc/self/exe"));
    // A program file replaced while it runs reads as "<path> (deleted)".
    const QLatin1String deleted(" (deleted)");
    if (path.endsWith(deleted) && !QFileInfo::exists(path)) path.chop(deleted.size());
    if (path.isEmpty() && QCoreApplication::instance())
        path = QCoreApplication::applicationFilePath();
    return path;
}

void RunToolQuietly(const QString& program, const QStringList& args)
{
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(program, args);
    if (!process.waitForStarted(kToolTimeoutMs))
        return; // not installed: the caches are the desktop's business then
    if (!process.waitForFinished(kToolTimeoutMs)) {
        process.kill();
        process.waitForFinished(1000);
    }
}

namespace {

// Notes what became of one file in the outcome of a whole registration or removal.
WriteResult Note(ShellOutcome& outcome, WriteResult result, const QString& path)
{
    if (result == WriteResult::Written) outcome.changed = true;
    if (result == WriteResult::Failed) {
        if (outcome.failedPaths.isEmpty())
            outcome.result = Result::fail(Outcome::OutputUnwritable, path.toStdString());
        outcome.failedPaths.append(path);
    }
    return result;
}

} // namespace

ShellOutcome RegisterShell(const QString& programPath, const Environment& env,
                           const ToolRunner& runTool)
{
    ShellOutcome outcome;
    auto note = [&outcome](WriteResult result, const QString& path) {
        return Note(outcome, result, path);
    };

    QString program = programPath;
    if (NeedsProgramLink(programPath)) {
        // When the link cannot be made, the real path still serves the launchers
        // that are not GLib's.
        if (note(PointLinkAt(ProgramLinkPath(env), programPath), ProgramLinkPath(env))
            != WriteResult::Failed)
            program = ProgramLinkPath(env);
    } else if (RemoveProgramLink(env) == WriteResult::Written) {
        outcome.changed = true;
    }

    Refresh refresh;
    for (const IntegrationFile& file : IntegrationFiles(program, env)) {
        if (note(WriteFileIfDifferent(file.path, file.bytes, file.mode), file.path)
            == WriteResult::Written)
            refresh.Note(file.role);
    }
    for (const QString& path :
         SupersededFiles(env) + (env.nautilusPython ? QStringList() : CompiledExtensionFiles(env)))
        note(RemoveIfPresent(path), path);
    note(RegisterThunarActions(program, env), ThunarUcaPath(env));
    refresh.Run(env, runTool);
    return outcome;
}

ShellOutcome UnregisterShell(const Environment& env, const ToolRunner& runTool)
{
    ShellOutcome outcome;
    Refresh refresh;
    for (const IntegrationFile& file : IntegrationFiles(QString(), env)) {
        if (Note(outcome, RemoveIfPresent(file.path), file.path) == WriteResult::Written)
            refresh.Note(file.role);
    }
    for (const QString& path : SupersededFiles(env) + CompiledExtensionFiles(env))
        Note(outcome, RemoveIfPresent(path), path);
    Note(outcome, RemoveProgramLink(env), ProgramLinkPath(env));

    // A uca.xml that does not parse is not ours to touch.
    const QString uca = ThunarUcaPath(env);
    QByteArray bytes;
    const int mode = FileMode(uca);
    if (ReadWholeFile(uca, &bytes) && mode >= 0) {
        const UcaEdit edit = RemoveThunarActions(bytes, OurThunarActionIds());
        if (edit.status == UcaStatus::Changed)
            Note(outcome, WriteFileIfDifferent(uca, edit.bytes, static_cast<mode_t>(mode)), uca);
    }
    refresh.Run(env, runTool);
    return outcome;
}

void InitIconResources()
{
    static std::once_flag once;
    std::call_once(once, InitKestrawinIconResource);
}

QString IconResourcePath(int size)
{
    InitIconResources();
    return size == 0 ? QStringLiteral(":/kestrawin/icons/kestrawin.svg")
                     : QStringLiteral(":/kestrawin/icons/kestrawin-%1.png").arg(size);
}

} // namespace kestrawin::shell
