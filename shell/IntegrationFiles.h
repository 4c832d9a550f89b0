// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <sys/types.h>

#include "shell/ThunarActions.h"

// The files that put the two verbs and the container type into each file
// manager, built from the program path to register. Registration writes them,
// removal deletes them; Thunar's shared uca.xml is handled apart.
namespace kestrawin::shell {

struct Environment;

// What a file feeds, so that the caches built from it are refreshed when it changes.
enum class FileRole { Plain, MimeType, DesktopEntry, Icon };

struct IntegrationFile {
    QString path;
    QByteArray bytes;
    mode_t mode;
    FileRole role;
};

// Every file registration owns, with its content for `program`, in a fixed order
// (the order in which failures are reported).
QList<IntegrationFile> IntegrationFiles(const QString& program, const Environment& env);

// Our two Thunar actions, encrypt then decrypt.
QList<ThunarAction> OurThunarActions(const QString& program);
QStringList OurThunarActionIds();

// Where the files go.
QString MimeFolder(const Environment& env);         // $XDG_DATA_HOME/mime
QString ApplicationsFolder(const Environment& env); // $XDG_DATA_HOME/applications
QString HicolorFolder(const Environment& env);      // $XDG_DATA_HOME/icons/hicolor
QString ThunarUcaPath(const Environment& env);      // $XDG_CONFIG_HOME/Thunar/uca.xml
// GNOME Files: the script in its Scripts submenu, or the Python extension that
// puts both entries at the top of the menu where Nautilus can load one.
QString NautilusScriptPath(const Environment& env);
QString NautilusExtensionPath(const Environment& env);
// What registration deletes because another file stands in for it: the script
// while the extension is written, the extension where it cannot be loaded.
QStringList SupersededFiles(const Environment& env);
// The extension as Python compiled it when Nautilus loaded it.
QStringList CompiledExtensionFiles(const Environment& env);
// The stand-in link registered when the program path cannot be written into a
// launcher line ($XDG_DATA_HOME/kestrawin/kestrawin).
QString ProgramLinkPath(const Environment& env);

} // namespace kestrawin::shell
