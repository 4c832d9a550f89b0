// SPDX-License-Identifier: Apache-2.0
// Entry: the application, its title, the main window and the message loop.

#include "base/Secret.h"
#include "base/Words.h"
#include "startup/CommandLine.h"
#include "startup/Information.h"
#include "ui/MainWindow.h"
#include "ui/Style.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <exception>

namespace {

// Errors that escape a handler are reported, and the loop goes on.
class Application final : public QApplication {
public:
    using QApplication::QApplication;
    kestrawin::ui::MessageBoxes* messages = nullptr;

    bool notify(QObject* receiver, QEvent* event) override
    {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& error) {
            if (messages) messages->Error(QString::fromUtf8(error.what()));
        }
        return false;
    }
};

} // namespace

int main(int argc, char** argv)
{
    // Before any password can be typed: no core files, not dumpable.
    kestrawin::ProtectProcessMemory();
    // Answered without a window, a display or the registration.
    const kestrawin::startup::Information asked =
        kestrawin::startup::InformationAskedFor(kestrawin::startup::ArgumentsOf(argc, argv));
    if (asked != kestrawin::startup::Information::None) {
        const std::string text = kestrawin::startup::InformationText(asked);
        const bool written = std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0;
        return written ? 0 : 1;
    }
    // Qt would abort with its own words; say what is missing instead.
    if (!kestrawin::startup::CanShowWindow(std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"),
                                           std::getenv("QT_QPA_PLATFORM"),
                                           kestrawin::startup::ArgumentsOf(argc, argv))) {
        std::fputs(kestrawin::startup::NoSessionMessage().c_str(), stderr);
        return 1;
    }

    // The environment is read before Qt takes its own options out of argv.
    kestrawin::ui::WindowEnvironment environment =
        kestrawin::ui::WindowEnvironment::FromProcess(argc, argv);

    Application app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(kestrawin::words::ApplicationTitle));
    QGuiApplication::setDesktopFileName(QStringLiteral("kestrawin"));
    kestrawin::ui::style::Apply(app);
    // Now that the toolkit has loaded its platform theme (GTK, on GNOME).
    environment.desktopTheme =
        kestrawin::ui::style::DesktopThemeName(environment.shellEnvironment.configHome);

    kestrawin::ui::DialogMessageBoxes messages(nullptr);
    app.messages = &messages;
    environment.messages = &messages;

    kestrawin::ui::MainWindow window(std::move(environment));
    window.show();
    const int status = QApplication::exec();
    window.hide();
    return status;
}
