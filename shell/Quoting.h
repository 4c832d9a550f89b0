// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>

// Quoting of the program path for each launcher format. Every function takes the
// plain path and returns the text that goes into the file, so that the launcher
// hands the program exactly that path back as its argv[0].
namespace kestrawin::shell {

// Key-file value escapes shared by desktop entries, KDE service menus, Nemo
// actions and file-manager actions: backslash, newline, tab and carriage return.
QString EscapeKeyFileValue(const QString& value);

// `%` becomes `%%`: launchers treat a lone `%` as the start of a field code.
QString EscapePercent(const QString& text);

// POSIX shell single quotes; a `'` becomes `'\''`.
QString ShellQuote(const QString& argument);

// One argument of a desktop `Exec` line before key-file escaping: `%%` for `%`,
// then double quotes (with `"`, backtick, `$` and `\` escaped) when it holds a
// reserved character.
QString QuoteDesktopExecArgument(const QString& argument);

// Whole `Exec=` values: the quoted program, a space, then `rest` (field code and
// switch, which need no quoting).
QString DesktopExecValue(const QString& program, const QString& rest); // desktop entry, KDE
QString ActionExecValue(const QString& program, const QString& rest);  // Nemo, file-manager actions
QString ThunarCommand(const QString& program, const QString& rest);    // XML-escaped by the writer

// A Python bytes literal, b"...", holding exactly `bytes`: printable ASCII as it
// is, everything else (and `"`, `\`) as \xNN escapes.
QString PythonBytesLiteral(const QByteArray& bytes);

} // namespace kestrawin::shell
