// SPDX-License-Identifier: Apache-2.0
#include "shell/IntegrationFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "shell/Quoting.h"
#include "shell/ShellRegistration.h"

namespace kestrawin::shell {
namespace {

const QString kEncryptCaption = QStringLiteral("Encrypt with \"Kestrawin\"");
const QString kDecryptCaption = QStringLiteral("Decrypt with \"Kestrawin\"");
// The switches the window's command line expects: the decrypt verb passes /encrypt.
const QString kEncryptSwitch = QStringLiteral("/crypt");
const QString kDecryptSwitch = QStringLiteral("/encrypt");

constexpr mode_t kPlainMode = 0644;
constexpr mode_t kExecutableMode = 0755;

QByteArray Lines(const QStringList& lines)
{
    return (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
}

QByteArray MimePackage()
{
    return Lines({
        QStringLiteral(
            "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">"),
        QStringLiteral("  <mime-type type=\"application/x-pellmora\">"),
        QStringLiteral("    <comment>Encrypted file</comment>"),
        QStringLiteral("    <icon name=\"kestrawin\"/>"),
        // Without a generic icon of our own, GTK themes show their blank page.
        QStringLiteral("    <generic-icon name=\"kestrawin\"/>"),
        QStringLiteral("    <glob pattern=\"*.ksw\"/>"),
        QStringLiteral("  </mime-type>"),
        QStringLiteral("</mime-info>"),
    });
}

QByteArray DecryptDesktopEntry(const QString& program)
{
    return Lines({
        QStringLiteral("[Desktop Entry]"),
        QStringLiteral("Type=Application"),
        QStringLiteral("Name=Kestrawin"),
        QStringLiteral("Exec=") + DesktopExecValue(program, QStringLiteral("%F ") + kDecryptSwitch),
        QStringLiteral("Icon=kestrawin"),
        QStringLiteral("NoDisplay=true"),
        QStringLiteral("MimeType=application/x-pellmora;"),
        QStringLiteral("Terminal=false"),
    });
}

// Both menus name their single action "encrypt": the id is internal to each file.
QByteArray KdeServiceMenu(const QString& program, const QString& mimeTypes, const QString& caption,
                          const QString& switchArg)
{
    return Lines({
        QStringLiteral("[Desktop Entry]"),
        QStringLiteral("Type=Service"),
        QStringLiteral("MimeType=") + mimeTypes,
        QStringLiteral("Actions=encrypt;"),
        QStringLiteral("X-KDE-Protocols=file"),
        QStringLiteral("X-KDE-Priority=TopLevel"),
        QStringLiteral("[Desktop Action encrypt]"),
        QStringLiteral("Name=") + caption,
        QStringLiteral("Icon=kestrawin"),
        QStringLiteral("Exec=") + DesktopExecValue(program, QStringLiteral("%F ") + switchArg),
    });
}

// %F, not %f: in Nemo %f is the display name.
QByteArray NemoAction(const QString& program, const QString& caption, const QString& switchArg,
                      const QString& extensions)
{
    return Lines({
        QStringLiteral("[Nemo Action]"),
        QStringLiteral("Name=") + caption,
        QStringLiteral("Exec=") + ActionExecValue(program, QStringLiteral("%F ") + switchArg),
        QStringLiteral("Icon-Name=kestrawin"),
        QStringLiteral("Selection=notnone"),
        QStringLiteral("Extensions=") + extensions,
    });
}

QByteArray FileManagerAction(const QString& program, const QString& caption,
                             const QString& switchArg, const QStringList& matchLines)
{
    return Lines(
        QStringList{
            QStringLiteral("[Desktop Entry]"),
            QStringLiteral("Type=Action"),
            QStringLiteral("Name=") + caption,
            QStringLiteral("Icon=kestrawin"),
            QStringLiteral("Profiles=main;"),
            QStringLiteral("TargetContext=true"),
            QStringLiteral("[X-Action-Profile main]"),
            QStringLiteral("Exec=") + ActionExecValue(program, QStringLiteral("%F ") + switchArg),
        }
        + matchLines);
}

// Nautilus and Caja pass the selected names relative to the folder shown, and
// list the same files in `listVariable` as absolute paths, one a line. A name
// holding "%f" arrives mangled in the arguments (the manager expands field codes
// in them) but whole in the list; a name holding a line break spans several lines
// of the list. So each argument takes as many lines as it holds, and the list is
// used when it holds exactly those lines; otherwise the arguments are made
// absolute. Every file goes to one start of the program.
QByteArray EncryptScript(const QString& program, const QString& listVariable)
{
    return Lines({
        QStringLiteral("#!/bin/sh"),
        QStringLiteral("prog=") + ShellQuote(program),
        QStringLiteral("list=${") + listVariable + QStringLiteral("-}"),
        QStringLiteral("nl='"),
        QStringLiteral("'"),
        QStringLiteral("case $list in *\"$nl\") ;; ?*) list=$list$nl ;; esac"),
        QStringLiteral("fits=yes rest=$list"),
        QStringLiteral("for f do"),
        QStringLiteral("    while :; do"),
        QStringLiteral("        case $rest in *\"$nl\"*) rest=${rest#*\"$nl\"} ;; *) fits=no; "
                       "break 2 ;; esac"),
        QStringLiteral("        case $f in *\"$nl\"*) f=${f#*\"$nl\"} ;; *) break ;; esac"),
        QStringLiteral("    done"),
        QStringLiteral("done"),
        QStringLiteral("[ -z \"$rest\" ] || fits=no"),
        QStringLiteral("rest=$list n=$#"),
        QStringLiteral("while [ \"$n\" -gt 0 ]; do"),
        QStringLiteral("    f=$1 n=$((n - 1))"),
        QStringLiteral("    shift"),
        QStringLiteral("    if [ \"$fits\" = yes ]; then"),
        QStringLiteral("        lines=$f f="),
        QStringLiteral("        while :; do"),
        QStringLiteral("            f=$f${rest%%\"$nl\"*} rest=${rest#*\"$nl\"}"),
        QStringLiteral("            case $lines in *\"$nl\"*) lines=${lines#*\"$nl\"} f=$f$nl ;; "
                       "*) break ;; esac"),
        QStringLiteral("        done"),
        QStringLiteral("    else"),
        QStringLiteral("        case $f in /*) ;; *) f=$PWD/$f ;; esac"),
        QStringLiteral("    fi"),
        QStringLiteral("    set -- \"$@\" \"$f\""),
        QStringLiteral("done"),
        QStringLiteral("exec \"$prog\" \"$@\" ") + kEncryptSwitch,
    });
}

// GNOME Files' menu entries, loaded by its Python extension support. The program
// path is a bytes literal, so that any path survives; the selected files go to one
// start of the program, local files only. Written for Nautilus 43 and later (API
// 4.0, get_file_items(files)) and earlier ones (3.0, get_file_items(window, files)).
QByteArray NautilusExtension(const QString& program)
{
    return Lines({
        QStringLiteral(
            "# Encrypt with \"Kestrawin\" and Decrypt with \"Kestrawin\" in the context menu of"),
        QStringLiteral(
            "# GNOME Files. Written by Kestrawin at every start; its Uninstall button removes it."),
        QStringLiteral("import gi"),
        QStringLiteral("try:"),
        QStringLiteral("    gi.require_version(\"Nautilus\", \"4.0\")"),
        QStringLiteral("except ValueError:"),
        QStringLiteral("    gi.require_version(\"Nautilus\", \"3.0\")"),
        QStringLiteral("import os"),
        QStringLiteral("from gi.repository import GLib, GObject, Nautilus"),
        QString(),
        QStringLiteral("PROGRAM = ") + PythonBytesLiteral(QFile::encodeName(program)),
        QString(),
        QString(),
        QStringLiteral("def _local_paths(files):"),
        QStringLiteral("    paths = []"),
        QStringLiteral("    for f in files:"),
        QStringLiteral("        location = f.get_location()"),
        QStringLiteral("        path = location.get_path() if location is not None else None"),
        QStringLiteral("        if path is None or f.is_directory():"),
        QStringLiteral("            return []"),
        QStringLiteral("        paths.append(path)"),
        QStringLiteral("    return paths"),
        QString(),
        QString(),
        QStringLiteral("def _start(menu, argv):"),
        QStringLiteral("    stdin = [(os.POSIX_SPAWN_OPEN, 0, os.devnull, os.O_RDONLY, 0)]"),
        QStringLiteral(
            "    pid = os.posix_spawn(argv[0], argv, os.environ, file_actions=stdin, setsid=True)"),
        QStringLiteral("    # GLib waits for the program, so that Files keeps no finished child."),
        QStringLiteral(
            "    GLib.child_watch_add(GLib.PRIORITY_DEFAULT, pid, lambda *unused: None)"),
        QString(),
        QString(),
        QStringLiteral("class KestrawinMenu(GObject.GObject, Nautilus.MenuProvider):"),
        QStringLiteral("    def get_file_items(self, *args):"),
        QStringLiteral("        paths = _local_paths(args[-1])"),
        QStringLiteral("        if not paths:"),
        QStringLiteral("            return []"),
        QStringLiteral("        encrypt = Nautilus.MenuItem(name=\"Kestrawin::encrypt\", label=")
            + QStringLiteral("'Encrypt with \"Kestrawin\"', icon=\"kestrawin\")"),
        QStringLiteral("        encrypt.connect(\"activate\", _start, [PROGRAM] + paths + [\"")
            + kEncryptSwitch + QStringLiteral("\"])"),
        QStringLiteral("        items = [encrypt]"),
        QStringLiteral("        if all(p.lower().endswith(\".ksw\") for p in paths):"),
        QStringLiteral(
            "            decrypt = Nautilus.MenuItem(name=\"Kestrawin::decrypt\", label=")
            + QStringLiteral("'Decrypt with \"Kestrawin\"', icon=\"kestrawin\")"),
        QStringLiteral("            decrypt.connect(\"activate\", _start, [PROGRAM] + paths + [\"")
            + kDecryptSwitch + QStringLiteral("\"])"),
        QStringLiteral("            items.append(decrypt)"),
        QStringLiteral("        return items"),
    });
}

QByteArray IconResource(const QString& name)
{
    InitIconResources();
    QFile file(QStringLiteral(":/kestrawin/icons/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

QString MimeFolder(const Environment& env)
{
    return env.dataHome + QStringLiteral("/mime");
}

QString ApplicationsFolder(const Environment& env)
{
    return env.dataHome + QStringLiteral("/applications");
}

QString HicolorFolder(const Environment& env)
{
    return env.dataHome + QStringLiteral("/icons/hicolor");
}

QString ThunarUcaPath(const Environment& env)
{
    return env.configHome + QStringLiteral("/Thunar/uca.xml");
}

QString NautilusScriptPath(const Environment& env)
{
    return env.dataHome + QStringLiteral("/nautilus/scripts/") + kEncryptCaption;
}

QString NautilusExtensionPath(const Environment& env)
{
    return env.dataHome + QStringLiteral("/nautilus-python/extensions/kestrawin_menu.py");
}

QStringList SupersededFiles(const Environment& env)
{
    return {env.nautilusPython ? NautilusScriptPath(env) : NautilusExtensionPath(env)};
}

QStringList CompiledExtensionFiles(const Environment& env)
{
    const QDir cache(QFileInfo(NautilusExtensionPath(env)).absolutePath()
                     + QStringLiteral("/__pycache__"));
    QStringList files;
    for (const QString& name :
         cache.entryList({QStringLiteral("kestrawin_menu.*.pyc")}, QDir::Files))
        files.append(cache.filePath(name));
    return files;
}

QString ProgramLinkPath(const Environment& env)
{
    return env.dataHome + QStringLiteral("/kestrawin/kestrawin");
}

QList<ThunarAction> OurThunarActions(const QString& program)
{
    return {
        {QStringLiteral("kestrawin-encrypt"), kEncryptCaption,
         ThunarCommand(program, QStringLiteral("%F ") + kEncryptSwitch), QStringLiteral("*")},
        // Thunar matches patterns case-sensitively.
        {QStringLiteral("kestrawin-decrypt"), kDecryptCaption,
         ThunarCommand(program, QStringLiteral("%F ") + kDecryptSwitch),
         QStringLiteral("*.ksw;*.KSW")},
    };
}

QStringList OurThunarActionIds()
{
    QStringList ids;
    for (const ThunarAction& a : OurThunarActions(QString())) ids.append(a.uniqueId);
    return ids;
}

QList<IntegrationFile> IntegrationFiles(const QString& program, const Environment& env)
{
    const QString data = env.dataHome;
    const QString allFiles = QStringLiteral("all/allfiles;");
    const QString pellmora = QStringLiteral("application/x-pellmora;");
    const QString scriptName = QStringLiteral("/scripts/") + kEncryptCaption;

    QList<IntegrationFile> files;
    files.append({MimeFolder(env) + QStringLiteral("/packages/kestrawin-pellmora.xml"),
                  MimePackage(), kPlainMode, FileRole::MimeType});
    for (const int size : kIconSizes) {
        files.append({HicolorFolder(env) + QStringLiteral("/%1x%1/apps/kestrawin.png").arg(size),
                      IconResource(QStringLiteral("kestrawin-%1.png").arg(size)), kPlainMode,
                      FileRole::Icon});
    }
    files.append({HicolorFolder(env) + QStringLiteral("/scalable/apps/kestrawin.svg"),
                  IconResource(QStringLiteral("kestrawin.svg")), kPlainMode, FileRole::Icon});
    files.append({ApplicationsFolder(env) + QStringLiteral("/kestrawin-decrypt.desktop"),
                  DecryptDesktopEntry(program), kPlainMode, FileRole::DesktopEntry});
    // KDE refuses to run a user service menu that is not executable.
    files.append({data + QStringLiteral("/kio/servicemenus/kestrawin-encrypt.desktop"),
                  KdeServiceMenu(program, allFiles, kEncryptCaption, kEncryptSwitch),
                  kExecutableMode, FileRole::Plain});
    files.append({data + QStringLiteral("/kio/servicemenus/kestrawin-decrypt.desktop"),
                  KdeServiceMenu(program, pellmora, kDecryptCaption, kDecryptSwitch),
                  kExecutableMode, FileRole::Plain});
    files.append({data + QStringLiteral("/nemo/actions/kestrawin-encrypt.nemo_action"),
                  NemoAction(program, kEncryptCaption, kEncryptSwitch, QStringLiteral("nodirs;")),
                  kPlainMode, FileRole::Plain});
    files.append({data + QStringLiteral("/nemo/actions/kestrawin-decrypt.nemo_action"),
                  NemoAction(program, kDecryptCaption, kDecryptSwitch, QStringLiteral("ksw;")),
                  kPlainMode, FileRole::Plain});
    files.append({data + QStringLiteral("/file-manager/actions/kestrawin-encrypt.desktop"),
                  FileManagerAction(program, kEncryptCaption, kEncryptSwitch,
                                    {QStringLiteral("MimeTypes=") + allFiles}),
                  kPlainMode, FileRole::Plain});
    files.append(
        {data + QStringLiteral("/file-manager/actions/kestrawin-decrypt.desktop"),
         FileManagerAction(program, kDecryptCaption, kDecryptSwitch,
                           {QStringLiteral("Basenames=*.ksw;"), QStringLiteral("Matchcase=false")}),
         kPlainMode, FileRole::Plain});
    // The script's file name is its label in the Scripts submenu.
    // Files: an extension at the top of the menu where Nautilus can load Python
    // extensions, else the script.
    if (env.nautilusPython) {
        files.append(
            {NautilusExtensionPath(env), NautilusExtension(program), kPlainMode, FileRole::Plain});
    } else {
        files.append({NautilusScriptPath(env),
                      EncryptScript(program, QStringLiteral("NAUTILUS_SCRIPT_SELECTED_FILE_PATHS")),
                      kExecutableMode, FileRole::Plain});
    }
    files.append({env.configHome + QStringLiteral("/caja") + scriptName,
                  EncryptScript(program, QStringLiteral("CAJA_SCRIPT_SELECTED_FILE_PATHS")),
                  kExecutableMode, FileRole::Plain});
    return files;
}

} // namespace kestrawin::shell
