// SPDX-License-Identifier: Apache-2.0
#pragma once
// The program's one window: a notebook of four pages (Main, Encrypt, Decrypt,
// Error) in a fixed, always-on-top 200 x 149 window.

#include "Accessibility.h"
#include "MessageBoxes.h"
#include "Style.h"

#include "startup/Startup.h"
#include "startup/WindowSlot.h"
#include "workers/Workers.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QUrl;

namespace kestrawin::ui {

// Everything the window takes from the world around it: the session's
// environment and the window's own outside effects. Tests replace each piece;
// FromProcess gives the real ones.
struct FormEnvironment : startup::Environment {
    MessageBoxes* messages = nullptr;         // null: real, application-modal boxes
    std::function<void(const QUrl&)> openUrl; // null: the desktop's browser
    std::function<void(int ms)> sleep;        // null: the thread sleeps
    io::DiskHook diskHook;                    // tests: disk steps that fail
    std::string windowSlotFolder;             // the open windows' registry; empty: none
    QString desktopTheme; // the desktop's GTK theme (style::DesktopThemeName), once Qt is up

    static FormEnvironment FromProcess(int argc, const char* const* argv);
};

class TMainForm : public QWidget {
    Q_OBJECT
public:
    // Builds the window and runs FormCreate.
    explicit TMainForm(FormEnvironment environment, QWidget* parent = nullptr);
    // Waits for a running worker, then runs FormDestroy.
    ~TMainForm() override;

    void ShowPage(int index);
    void ShowBusy(const QString& text);
    void ShowResult(const QString& text);
    void OpenWebPage(const QString& address);

    [[nodiscard]] int currentPage() const;
    [[nodiscard]] bool busy() const { return worker_ != nullptr; }
    [[nodiscard]] const std::string& SelectedFile() const { return selectedFile_; }
    // Every file of the start: SelectedFile alone, or a batch.
    [[nodiscard]] const std::vector<std::string>& SelectedFiles() const { return selectedFiles_; }
    [[nodiscard]] bool hasCryptProvider() const { return CryptProvider != nullptr; }

    // Controls, by their names on the form.
    QStackedWidget* Notebook1 = nullptr;
    QPushButton* SpeedButton1 = nullptr;  // Decrypt
    QPushButton* SpeedButton2 = nullptr;  // Update (Decrypt page)
    QPushButton* SpeedButton3 = nullptr;  // Encrypt
    QPushButton* SpeedButton4 = nullptr;  // Update (Encrypt page)
    QPushButton* SpeedButton5 = nullptr;  // Update (Main page)
    QPushButton* SpeedButton6 = nullptr;  // Uninstall
    QPushButton* SpeedButton9 = nullptr;  // Update (Error page)
    QPushButton* SpeedButton10 = nullptr; // Close
    QLineEdit* Password1 = nullptr;
    QLineEdit* Password2 = nullptr;
    QLineEdit* Password = nullptr;
    QLabel* Panel11 = nullptr;            // the vendor's address
    StatusLabel* Panel13 = nullptr;       // the Error page's message
    QProgressBar* ProgressBar1 = nullptr; // under the waiting message
    QPushButton* DetailsButton = nullptr; // after a batch with failures: each file's reason

    // Button and link actions.
    void SpeedButton3Click();
    void SpeedButton1Click();
    void SpeedButton6Click();
    void UpdateClick();
    void SpeedButton10Click();
    void Panel11Click();
    void DetailsClick();

signals:
    // A worker's result is on the Error page (tests wait for this).
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
    QWidget* BuildErrorPage();
    QFrame* BuildBottomBar(QWidget* page, QPushButton*& left, const char* leftText,
                           QPushButton*& right, const char* rightText, bool underlined);
    void BuildTitleBand(QWidget* page);

    void FormCreate();
    void FormShow();
    void FormClose();
    void FormDestroy();

    void StartWorker(std::unique_ptr<workers::WorkerThread> worker, bool encrypting);
    void AskToStop();
    void EncryptDone(const workers::WorkResult& result);
    void DecryptDone(const workers::WorkResult& result);
    void BatchDone(const workers::TBatchThread& batch);
    void OnProgress(qint64 done, qint64 total);
    // The whole path of the file the Error page names, for its tooltip and
    // assistive tools; empty: none.
    void ShowWholeName(const QString& path);
    void SayStartupProblem();
    MessageBoxes& Messages();

    FormEnvironment env_;
    std::unique_ptr<MessageBoxes> ownMessages_;
    std::shared_ptr<const ops::KeyContainer> CryptProvider;
    std::string selectedFile_;
    std::vector<std::string> selectedFiles_;
    QString details_;        // what the Details button shows
    QString detailsWhole_;   // the same with every path whole
    QString startupProblem_; // said once the page shows
    startup::WindowSlot windowSlot_;
    std::unique_ptr<workers::WorkerThread> worker_;
    bool encrypting_ = false;
    bool shown_ = false;
    bool askingToStop_ = false;
    QElapsedTimer resultShown_; // since the Error page last showed an outcome
    style::Colours colours_;
};

} // namespace kestrawin::ui
