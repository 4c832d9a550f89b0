// SPDX-License-Identifier: Apache-2.0
#pragma once
// The program's one window: four pages (Main, Encrypt, Decrypt, Outcome) in a
// fixed, always-on-top 200 x 149 window. A view of the page model
// (pages/PageModel.h): the model says which page shows and what it says, the
// window lays it out, runs the workers and asks the message boxes. Its
// controls are its own; tests reach them by their object names.

#include "Accessibility.h"
#include "MessageBoxes.h"
#include "Style.h"

#include "pages/PageModel.h"
#include "startup/Startup.h"
#include "startup/WindowSlot.h"
#include "workers/Workers.h"

#include <QElapsedTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QFrame;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QUrl;

namespace kestrawin::ui {

// Everything the window takes from the world around it: the start-up's
// environment and the window's own outside effects. Tests replace each piece;
// FromProcess gives the real ones.
struct WindowEnvironment : startup::Environment {
    MessageBoxes* messages = nullptr;         // null: real, application-modal boxes
    std::function<void(const QUrl&)> openUrl; // null: the desktop's browser
    std::function<void(int ms)> sleep;        // null: the thread sleeps
    io::DiskHook diskHook;                    // tests: disk steps that fail
    std::string windowSlotFolder;             // the open windows' registry; empty: none
    QString desktopTheme; // the desktop's GTK theme (style::DesktopThemeName), once Qt is up

    static WindowEnvironment FromProcess(int argc, const char* const* argv);
};

// The controls' object names.
namespace controls {
inline constexpr const char* Pages = "pages";
inline constexpr const char* VendorLink = "vendorLink";
inline constexpr const char* UninstallButton = "uninstallButton";
inline constexpr const char* MainUpdateButton = "mainUpdateButton";
inline constexpr const char* Password = "password";
inline constexpr const char* PasswordAgain = "passwordAgain";
inline constexpr const char* EncryptButton = "encryptButton";
inline constexpr const char* EncryptUpdateButton = "encryptUpdateButton";
inline constexpr const char* DecryptPassword = "decryptPassword";
inline constexpr const char* DecryptButton = "decryptButton";
inline constexpr const char* DecryptUpdateButton = "decryptUpdateButton";
inline constexpr const char* OutcomeLine = "outcomeLine";
inline constexpr const char* ProgressBar = "progressBar";
inline constexpr const char* DetailsButton = "detailsButton";
inline constexpr const char* OutcomeUpdateButton = "outcomeUpdateButton";
inline constexpr const char* CloseButton = "closeButton";
} // namespace controls

class MainWindow : public QWidget {
    Q_OBJECT

public:
    // Builds the window and starts: the context-menu entries, the key store.
    explicit MainWindow(WindowEnvironment environment, QWidget* parent = nullptr);
    // Waits for a running worker, then, from the Main page, opens the
    // product page after a pause.
    ~MainWindow() override;

    [[nodiscard]] int currentPage() const;
    [[nodiscard]] bool busy() const { return worker_ != nullptr; }
    // Every file of the start: one, or a batch.
    [[nodiscard]] const std::vector<std::string>& SelectedFiles() const { return model_.files(); }
    [[nodiscard]] bool hasKeys() const { return keys_ != nullptr; }
    // Shows an outcome on the outcome page, its buttons usable.
    void ShowOutcome(const QString& text);

signals:
    // A worker's result is on the outcome page (tests wait for this).
    void workFinished();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildWindow();
    QWidget* BuildMainPage();
    QWidget* BuildEncryptPage();
    QWidget* BuildDecryptPage();
    QWidget* BuildOutcomePage();
    QFrame* BuildBottomBar(QWidget* page, QPushButton*& left, const char* leftName,
                           const char* leftText, QPushButton*& right, const char* rightName,
                           const char* rightText, bool underlined);
    void BuildTitleBand(QWidget* page);

    void Start();
    void ShowChosenPage();
    void ShowPage(int index);
    void ShowBusy();
    void DrawOutcome();
    void OpenWebPage(const QString& address);
    void SayStartupProblem();
    MessageBoxes& Messages();

    // What the person does.
    void EncryptClicked();
    void DecryptClicked();
    void UninstallClicked();
    void UpdateClicked();
    void CloseClicked();
    void VendorLinkClicked();
    void DetailsClicked();

    void StartWorker(std::unique_ptr<workers::Worker> worker);
    void AskToStop();
    void WorkDone(const workers::Worker& worker);
    void OnProgress(qint64 done, qint64 total);

    WindowEnvironment env_;
    std::unique_ptr<MessageBoxes> ownMessages_;
    pages::PageModel model_;
    std::shared_ptr<const ops::KeyContainer> keys_;
    QString details_;        // what the Details button shows
    QString detailsWhole_;   // the same with every path whole
    QString startupProblem_; // said once the page shows
    startup::WindowSlot windowSlot_;
    std::unique_ptr<workers::Worker> worker_;
    bool shown_ = false;
    bool askingToStop_ = false;
    QElapsedTimer resultShown_; // since the outcome page last showed an outcome
    style::Colours colours_;

    // The controls.
    QStackedWidget* pages_ = nullptr;
    LinkLabel* vendorLink_ = nullptr;
    QPushButton* uninstallButton_ = nullptr;
    QPushButton* mainUpdateButton_ = nullptr;
    QLineEdit* password_ = nullptr;
    QLineEdit* passwordAgain_ = nullptr;
    QPushButton* encryptButton_ = nullptr;
    QPushButton* encryptUpdateButton_ = nullptr;
    QLineEdit* decryptPassword_ = nullptr;
    QPushButton* decryptButton_ = nullptr;
    QPushButton* decryptUpdateButton_ = nullptr;
    StatusLabel* outcomeLine_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    QPushButton* detailsButton_ = nullptr;
    QPushButton* outcomeUpdateButton_ = nullptr;
    QPushButton* closeButton_ = nullptr;
};

} // namespace kestrawin::ui
