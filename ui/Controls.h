// SPDX-License-Identifier: Apache-2.0
#pragma once
// The flat buttons of the bottom bars.

#include <QPushButton>

namespace kestrawin::ui {

// A flat button that Enter and Return press as well as Space.
class FlatButton final : public QPushButton {
    Q_OBJECT
public:
    FlatButton(const QString& text, QWidget* parent);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace kestrawin::ui
