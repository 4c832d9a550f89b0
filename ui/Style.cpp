// SPDX-License-Identifier: Apache-2.0
#include "Style.h"

#include <QApplication>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOptionButton>

namespace kestrawin::ui::style {
namespace {

class KestrawinStyle final : public QProxyStyle {
public:
    KestrawinStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter) return '*';
        if (hint == SH_DialogButtonBox_ButtonsHaveIcons) return 0; // plain OK, Yes and No
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override
    {
        QProxyStyle::drawControl(element, option, painter, widget);
        const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
        if (element != CE_PushButton || !button || !(button->features & QStyleOptionButton::Flat)
            || !(button->state & State_HasFocus))
            return;
        // A flat button has no bevel to light up, so the base style shows no
        // focus at all: a dotted frame in the caption's colour marks it.
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing, false);
        painter->setPen(QPen(button->palette.color(QPalette::ButtonText), 1, Qt::DotLine));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(button->rect.adjusted(2, 2, -3, -3));
        painter->restore();
    }
};

QFont Font(const QStringList& families, int pixels, bool bold)
{
    QFont font(families.front());
    font.setFamilies(families);
    font.setPixelSize(pixels);
    font.setBold(bold);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

} // namespace

QFont DefaultFont()
{
    return Font({QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"),
                 QStringLiteral("Arimo"), QStringLiteral("DejaVu Sans Condensed"),
                 QStringLiteral("DejaVu Sans")},
                11, false);
}

QFont TitleFont()
{
    return Font({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                 QStringLiteral("Arimo"), QStringLiteral("DejaVu Sans Condensed"),
                 QStringLiteral("DejaVu Sans")},
                13, true);
}

void Apply(QApplication& app)
{
    app.setStyle(new KestrawinStyle);
    // Application-wide as well as on the window: widgets with a style sheet
    // take the application's font, not their parent's.
    QApplication::setFont(DefaultFont());
}

} // namespace kestrawin::ui::style
