// SPDX-License-Identifier: Apache-2.0
#include "shell/Quoting.h"

namespace kestrawin::shell {

QString EscapeKeyFileValue(const QString& value)
{
    QString out;
    out.reserve(value.size() + 8);
    for (const QChar c : value) {
        switch (c.unicode()) {
        case u'\\': out += QLatin1String("\\\\"); break;
        case u'\n': out += QLatin1String("\\n"); break;
        case u'\t': out += QLatin1String("\\t"); break;
        case u'\r': out += QLatin1String("\\r"); break;
        default: out += c;
        }
    }
    return out;
}

QString EscapePercent(const QString& text)
{
    QString out = text;
    out.replace(QLatin1Char('%'), QLatin1String("%%"));
    return out;
}

QString ShellQuote(const QString& argument)
{
    QString out = argument;
    out.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + out + QLatin1Char('\'');
}

QString QuoteDesktopExecArgument(const QString& argument)
{
    static const QString kReserved = QStringLiteral(" \t\n\"'\\<>~|&;$*?#()`");
    const QString escaped = EscapePercent(argument);
    bool needsQuotes = false;
    for (const QChar c : escaped) {
        if (kReserved.contains(c)) {
            needsQuotes = true;
            break;
        }
    }
    if (!needsQuotes) return escaped;
    QString out = QStringLiteral("\"");
    for (const QChar c : escaped) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\') out += QLatin1Char('\\');
        out += c;
    }
    out += QLatin1Char('"');
    return out;
}

QString DesktopExecValue(const QString& program, const QString& rest)
{
    return EscapeKeyFileValue(QuoteDesktopExecArgument(program) + QLatin1Char(' ') + rest);
}

QString ActionExecValue(const QString& program, const QString& rest)
{
    return EscapeKeyFileValue(ThunarCommand(program, rest));
}

QString ThunarCommand(const QString& program, const QString& rest)
{
    return EscapePercent(ShellQuote(program)) + QLatin1Char(' ') + rest;
}

QString PythonBytesLiteral(const QByteArray& bytes)
{
    QString out = QStringLiteral("b\"");
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7f && byte != '"' && byte != '\\')
            out += QLatin1Char(c);
        else
            out += QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0'));
    }
    return out + QLatin1Char('"');
}

} // namespace kestrawin::shell
