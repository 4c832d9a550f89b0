#include "shell/IntegrationFiles.h"

#include <QFile>

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
// also list them, absolute, one a line, in a variable. Neither is whole: a
// name holding "%f" arrives mangled in the arguments, a name holding a line
// break cannot be told apart in the variable. So each argument that names a
// file is taken (made absolute), then each line of the variable that names a
// file not taken yet; every file goes to the program in one call.
QByteArray EncryptScript(const QString& program)
{
    return Lines({
        QStringLiteral("#!/bin/sh"),
        QStringLiteral("prog=") + ShellQuote(program),
        QStringLiteral(
            "listed=${NAUTILUS_SCRIPT_SELECTED_FILE_PATHS-${CAJA_SCRIPT_SELECTED_FILE_PATHS-}}"),
        QStringLiteral("n=$#; for f in \"$@\"; do case \"$f\" in /*) ;; *) f=\"$PWD/$f\";; esac; "
                       "if [ -z \"$listed\" ] || [ -e \"$f\" ] || [ -L \"$f\" ]; then set -- "
                       "\"$@\" \"$f\"; fi; "
                       "done; shift $n"),
        QStringLiteral("nl='"),
        QStringLiteral("'; IFS=$nl; set -f"),
        QStringLiteral("for f in $listed; do [ -e \"$f\" ] || [ -L \"$f\" ] || continue; taken=; "
                       "for g in \"$@\"; do [ \"$g\" = \"$f\" ] && taken=1; done; "
                       "[ -n \"$taken\" ] || set -- \"$@\" \"$f\"; done"),
        QStringLiteral("exec \"$prog\" \"$@\" ") + kEncryptSwitch,
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
    files.append({data + QStringLiteral("/nautilus") + scriptName, EncryptScript(program),
                  kExecutableMode, FileRole::Plain});
    files.append({env.configHome + QStringLiteral("/caja") + scriptName, EncryptScript(program),
                  kExecutableMode, FileRole::Plain});
    return files;
}

} // namespace kestrawin::shell
