// SPDX-License-Identifier: Apache-2.0
#include "shell/ThunarActions.h"

#include <QSet>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>

namespace kestrawin::shell {
namespace {

using Fields = QList<QPair<QString, QString>>; // child element name and text

struct ScannedAction {
    QString uniqueId;
    Fields fields; // sorted, so that Thunar's own ordering of children does not count
};

void WriteAction(QXmlStreamWriter& w, const ThunarAction& a)
{
    w.writeStartElement(QStringLiteral("action"));
    w.writeTextElement(QStringLiteral("icon"), QStringLiteral("kestrawin"));
    w.writeTextElement(QStringLiteral("name"), a.name);
    w.writeTextElement(QStringLiteral("submenu"), QString());
    w.writeCharacters(QStringLiteral("\n  "));
    w.writeTextElement(QStringLiteral("unique-id"), a.uniqueId);
    w.writeCharacters(QStringLiteral("\n  "));
    w.writeTextElement(QStringLiteral("command"), a.command);
    w.writeTextElement(QStringLiteral("description"), QString());
    w.writeTextElement(QStringLiteral("range"), QString());
    w.writeCharacters(QStringLiteral("\n  "));
    w.writeTextElement(QStringLiteral("patterns"), a.patterns);
    for (const char* kind :
         {"audio-files", "image-files", "other-files", "text-files", "video-files"})
        w.writeEmptyElement(QString::fromLatin1(kind));
    w.writeEndElement();
}

bool IsBlank(const QByteArray& bytes)
{
    return bytes.trimmed().isEmpty();
}

// The top-level <action> elements in document order; false when the file does not
// parse or its root is not <actions>.
bool ScanActions(const QByteArray& uca, QList<ScannedAction>* actions)
{
    QXmlStreamReader r(uca);
    if (!r.readNextStartElement() || r.name() != u"actions") return false;
    while (r.readNextStartElement()) {
        if (r.name() != u"action") {
            r.skipCurrentElement();
            continue;
        }
        ScannedAction action;
        while (r.readNextStartElement()) {
            const QString name = r.name().toString();
            const QString text = r.readElementText(QXmlStreamReader::IncludeChildElements);
            if (name == u"unique-id") action.uniqueId = text;
            action.fields.append({name, text});
        }
        std::sort(action.fields.begin(), action.fields.end());
        actions->append(action);
    }
    while (!r.atEnd()) r.readNext();
    return !r.hasError();
}

Fields FieldsOf(const ThunarAction& action)
{
    QByteArray doc;
    QXmlStreamWriter w(&doc);
    w.writeStartElement(QStringLiteral("actions"));
    WriteAction(w, action);
    w.writeEndElement();
    QList<ScannedAction> scanned;
    ScanActions(doc, &scanned);
    return scanned.value(0).fields;
}

const ThunarAction* FindById(const QList<ThunarAction>& actions, const QString& id)
{
    for (const ThunarAction& a : actions)
        if (a.uniqueId == id) return &a;
    return nullptr;
}

// Copies the document token by token, replacing or dropping the actions whose
// unique-id is in `ids` and appending the members of `put` not yet placed.
QByteArray Rewrite(const QByteArray& uca, const QList<ScannedAction>& scanned,
                   const QList<ThunarAction>& put, const QSet<QString>& ids)
{
    QXmlStreamReader r(uca);
    QByteArray out;
    QXmlStreamWriter w(&out);
    QSet<QString> placed;
    int depth = 0;
    qsizetype actionIndex = 0;
    bool dropWhitespace = false;
    while (!r.atEnd()) {
        const QXmlStreamReader::TokenType token = r.readNext();
        if (token == QXmlStreamReader::Invalid) return {};
        if (token == QXmlStreamReader::StartElement && depth == 1 && r.name() == u"action") {
            const QString& id = scanned.at(actionIndex++).uniqueId;
            if (ids.contains(id)) {
                r.skipCurrentElement();
                const ThunarAction* replacement = FindById(put, id);
                dropWhitespace = replacement == nullptr || placed.contains(id);
                if (!dropWhitespace) {
                    WriteAction(w, *replacement);
                    placed.insert(id);
                }
                continue;
            }
        }
        if (token == QXmlStreamReader::Characters && dropWhitespace && r.isWhitespace()) {
            dropWhitespace = false;
            continue;
        }
        dropWhitespace = false;
        if (token == QXmlStreamReader::EndElement && depth == 1) {
            for (const ThunarAction& a : put) {
                if (placed.contains(a.uniqueId)) continue;
                WriteAction(w, a);
                w.writeCharacters(QStringLiteral("\n"));
            }
        }
        w.writeCurrentToken(r);
        if (token == QXmlStreamReader::StartDocument) w.writeCharacters(QStringLiteral("\n"));
        if (token == QXmlStreamReader::StartElement)
            ++depth;
        else if (token == QXmlStreamReader::EndElement)
            --depth;
    }
    if (!out.endsWith('\n')) out += '\n';
    return out;
}

UcaEdit EditActions(const QByteArray& uca, const QList<ThunarAction>& put, const QStringList& ids)
{
    QList<ScannedAction> scanned;
    if (!ScanActions(uca, &scanned)) return {UcaStatus::Malformed, {}};
    bool needed = false;
    for (const QString& id : ids) {
        QList<const ScannedAction*> found;
        for (const ScannedAction& s : scanned)
            if (s.uniqueId == id) found.append(&s);
        const ThunarAction* wanted = FindById(put, id);
        needed = needed
                 || (wanted ? found.size() != 1 || found.front()->fields != FieldsOf(*wanted)
                            : !found.isEmpty());
    }
    if (!needed) return {UcaStatus::Unchanged, uca};
    const QSet<QString> idSet(ids.begin(), ids.end());
    const QByteArray rewritten = Rewrite(uca, scanned, put, idSet);
    if (rewritten.isEmpty()) return {UcaStatus::Malformed, {}};
    return {UcaStatus::Changed, rewritten};
}

} // namespace

QByteArray EmptyUcaDocument()
{
    return QByteArrayLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<actions>\n</actions>\n");
}

UcaEdit MergeThunarActions(const QByteArray& uca, const QList<ThunarAction>& actions)
{
    QStringList ids;
    for (const ThunarAction& a : actions) ids.append(a.uniqueId);
    return EditActions(IsBlank(uca) ? EmptyUcaDocument() : uca, actions, ids);
}

UcaEdit RemoveThunarActions(const QByteArray& uca, const QStringList& uniqueIds)
{
    if (IsBlank(uca)) return {UcaStatus::Unchanged, uca};
    return EditActions(uca, {}, uniqueIds);
}

} // namespace kestrawin::shell
