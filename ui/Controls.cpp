// SPDX-License-Identifier: Apache-2.0
#include "Controls.h"

#include "Accessibility.h"

#include <QKeyEvent>

namespace kestrawin::ui {

FlatButton::FlatButton(const QString& text, QWidget* parent) : QPushButton(text, parent)
{
    setFlat(true);
    setAutoDefault(false);
    setCursor(Qt::PointingHandCursor);
}

void FlatButton::keyPressEvent(QKeyEvent* event)
{
    // Space as a push button takes it (pressed, then released); Enter here.
    if (IsPress(event) && event->key() != Qt::Key_Space) {
        event->accept();
        click();
        return;
    }
    QPushButton::keyPressEvent(event);
}

} // namespace kestrawin::ui
