// SPDX-License-Identifier: Apache-2.0
#include "MessageBoxes.h"

#include "base/Words.h"

#include <QLabel>
#include <QMessageBox>
#include <QWidget>

namespace kestrawin::ui {
namespace {

int Show(QWidget* parent, QMessageBox::Icon icon, const char* caption, const QString& text,
         QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton,
         QPointer<QMessageBox>* open = nullptr, const QString& whole = {})
{
    QMessageBox box(icon, QString::fromUtf8(caption), DisplayText(text), buttons, parent);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(defaultButton);
    box.setWindowModality(Qt::ApplicationModal);
    // A child of an always-on-top window stays on top with it; otherwise the
    // window would cover the box that blocks it.
    if (parent && (parent->window()->windowFlags() & Qt::WindowStaysOnTopHint))
        box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    if (!whole.isEmpty())
        if (auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
            label->setToolTip(whole);
            label->setAccessibleDescription(whole);
        }
    if (open) *open = &box;
    return box.exec();
}

} // namespace

QString DisplayText(const QString& text)
{
    QString shown = text;
    shown.replace(QStringLiteral("\n\r"), QStringLiteral("\n"));
    shown.remove(QLatin1Char('\r'));
    return shown;
}

void DialogMessageBoxes::SetOwner(QWidget* window)
{
    if (!parent_) parent_ = window;
}

void DialogMessageBoxes::Inform(const QString& text)
{
    Show(parent_, QMessageBox::NoIcon, words::MessageCaption, text, QMessageBox::Ok,
         QMessageBox::Ok);
}

bool DialogMessageBoxes::Ask(const QString& text)
{
    return Show(parent_, QMessageBox::NoIcon, words::MessageCaption, text,
                QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes, &question_)
           == QMessageBox::Yes;
}

void DialogMessageBoxes::Dismiss()
{
    if (question_) question_->done(QMessageBox::No);
}

void DialogMessageBoxes::Error(const QString& text)
{
    Show(parent_, QMessageBox::Critical, words::ApplicationTitle, text, QMessageBox::Ok,
         QMessageBox::Ok);
}

void DialogMessageBoxes::List(const QString& text, const QString& whole)
{
    Show(parent_, QMessageBox::NoIcon, words::MessageCaption, text, QMessageBox::Ok,
         QMessageBox::Ok, nullptr, whole);
}

} // namespace kestrawin::ui
