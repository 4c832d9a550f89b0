// SPDX-License-Identifier: Apache-2.0
#include "Style.h"

#include "Contrast.h"

#include <QApplication>
#include <QPainter>
#include <QPalette>
#include <QProxyStyle>
#include <QSettings>
#include <QStyleFactory>
#include <QStyleOptionButton>

#if __has_include(<dlfcn.h>)
#include <dlfcn.h>
#endif

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

// The theme that GTK itself settled on, when the toolkit's GTK platform theme
// has loaded it into this process: GTK follows the desktop's settings
// (GNOME's high-contrast switch among them) on X11 and Wayland alike.
QString LoadedGtkThemeName()
{
#if __has_include(<dlfcn.h>)
    using SettingsOf = void* (*)();
    using Get = void (*)(void*, const char*, ...);
    using Release = void (*)(void*);
    // Only when it is loaded already: nothing is loaded for this.
    void* gtk = dlopen("libgtk-3.so.0", RTLD_LAZY | RTLD_NOLOAD);
    if (!gtk) return {};
    auto settingsOf = reinterpret_cast<SettingsOf>(dlsym(gtk, "gtk_settings_get_default"));
    auto get = reinterpret_cast<Get>(dlsym(gtk, "g_object_get"));
    auto release = reinterpret_cast<Release>(dlsym(gtk, "g_free"));
    void* settings = settingsOf && get && release ? settingsOf() : nullptr;
    dlclose(gtk); // the toolkit holds it
    if (!settings) return {};
    char* name = nullptr;
    get(settings, "gtk-theme-name", &name, nullptr);
    const QString theme = QString::fromUtf8(name);
    release(name);
    return theme;
#else
    return {};
#endif
}

// A desktop's own colours count as high contrast when text and background
// are as far apart as black and white, in the window and in fields alike.
constexpr double kHighContrast = 19.5;

} // namespace

Colours ColoursFor(const QPalette& desktop, const QString& themeName)
{
    Colours colours;
    QColor text, background, link;
    if (themeName.contains(QLatin1String("HighContrast"), Qt::CaseInsensitive)) {
        const bool inverse = themeName.contains(QLatin1String("Inverse"), Qt::CaseInsensitive)
                             || themeName.endsWith(QLatin1String(":dark"), Qt::CaseInsensitive);
        text = inverse ? Qt::white : Qt::black;
        background = inverse ? Qt::black : Qt::white;
        link = text;
    } else if (contrast::Ratio(desktop.color(QPalette::Window), desktop.color(QPalette::WindowText))
                   >= kHighContrast
               && contrast::Ratio(desktop.color(QPalette::Base), desktop.color(QPalette::Text))
                      >= kHighContrast) {
        text = desktop.color(QPalette::WindowText);
        background = desktop.color(QPalette::Window);
        link = desktop.color(QPalette::Link);
        if (contrast::Ratio(link, background) < 7) link = text;
    } else {
        return colours;
    }
    colours.face = colours.messageArea = colours.paper = background;
    colours.ink = colours.boxFrame = colours.buttons = colours.navy = colours.olive = text;
    colours.link = link;
    colours.highContrast = true;
    return colours;
}

QString DesktopThemeName(const QString& configHome)
{
    const QString named = qEnvironmentVariable("GTK_THEME");
    if (!named.isEmpty()) return named;
    const QString loaded = LoadedGtkThemeName();
    if (!loaded.isEmpty()) return loaded;
    const QSettings settings(configHome + QStringLiteral("/gtk-3.0/settings.ini"),
                             QSettings::IniFormat);
    return settings.value(QStringLiteral("Settings/gtk-theme-name")).toString();
}

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
