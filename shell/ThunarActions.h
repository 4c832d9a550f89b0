// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// Our custom actions in Thunar's uca.xml. The file belongs to the user (and to
// Thunar, which rewrites it), so it is parsed as XML, our actions are found by
// their unique-id, and everything else is carried over as it was.
namespace kestrawin::shell {

struct ThunarAction {
    QString uniqueId;
    QString name;
    QString command; // already quoted for Thunar; the XML writer escapes it
    QString patterns;
};

enum class UcaStatus { Unchanged, Changed, Malformed };

struct UcaEdit {
    UcaStatus status = UcaStatus::Unchanged;
    QByteArray bytes; // the new file when Changed, the input when Unchanged, empty when Malformed
};

// A uca.xml with no actions, the base when neither the user nor the system has one.
QByteArray EmptyUcaDocument();

// Puts `actions` into the file: each replaces the first action with its unique-id
// where it stands, later duplicates are dropped, missing ones go at the end.
// Unchanged when each is already there once with the same content. A blank file
// counts as one without actions.
UcaEdit MergeThunarActions(const QByteArray& uca, const QList<ThunarAction>& actions);

// Drops every action whose unique-id is listed.
UcaEdit RemoveThunarActions(const QByteArray& uca, const QStringList& uniqueIds);

} // namespace kestrawin::shell
