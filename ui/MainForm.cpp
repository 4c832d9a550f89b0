#include "MainForm.h"

#include "Accessibility.h"
#include "Contrast.h"
#include "Controls.h"
#include "Style.h"
#include "Texts.h"

#include "app/Addresses.h"
#include "app/CommandLine.h"
#include "crypto/PasswordKeys.h"

#include <QCloseEvent>
#include <QApplication>
#include <QDesktopServices>
#include <QGroupBox>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStackedWidget>
#include <QStyleHints>
#include <QThread>
#include <QUrl>

#include <unistd.h>

namespace kestrawin::ui {
namespace {

constexpr int kClientWidth = 200;
constexpr int kClientHeight = 149;
constexpr int kBarHeight = 41;
constexpr int kTitleHeight = 33;
constexpr int kMessageHeight = 75;

QString Q(const char* text)
{
    return QString::fromUtf8(text);
}

void Fill(QWidget* widget, const QColor& colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

void SetTextColour(QWidget* widget, const QColor& colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    palette.setColor(QPalette::ButtonText, colour);
    widget->setPalette(palette);
}

QLabel* MakeLabel(QWidget* parent, const char* text, int x, int y, const QColor& colour)
{
    auto* label = new QLabel(Q(text), parent);
    label->move(x, y);
    label->adjustSize();
    SetTextColour(label, colour);
    return label;
}

QLineEdit* MakePasswordField(QWidget* parent, const char* name)
{
    auto* field = new QLineEdit(parent);
    field->setObjectName(Q(name));
    field->setGeometry(8, 16, 169, 21);
    field->setEchoMode(QLineEdit::Password);
    QPalette palette = field->palette();
    palette.setColor(QPalette::Base, style::Face);
    // The background is fixed: a dark scheme's light text would not show.
    palette.setColor(QPalette::Text, contrast::Readable(palette.color(QPalette::Text), style::Face));
    field->setPalette(palette);
    return field;
}

// A framed box whose caption sits on its top line, as on the original form:
// the frame starts half a line down, so fields at y = 16 sit inside it.
QGroupBox* MakeBox(QWidget* parent, const char* caption, int y, int height, const QColor& captionColour)
{
    auto* box = new QGroupBox(Q(caption), parent);
    box->setGeometry(8, y, 185, height);
    box->setStyleSheet(QStringLiteral("QGroupBox { border: 1px solid #c8c8c8; border-radius: 2px;"
                                      " margin-top: 6px; background: white; }"
                                      "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
                                      " left: 6px; top: 0px; padding: 0px; color: %1; background: white; }")
                           .arg(captionColour.name()));
    return box;
}

// Why an operation failed, as the second line of the Error page.
QString Reason(const workers::WorkResult& result)
{
    QString reason = QString::fromUtf8(OutcomeReason(result.outcome).data(),
                                       static_cast<int>(OutcomeReason(result.outcome).size()));
    if (!reason.isEmpty()) reason[0] = reason[0].toUpper();
    return reason;
}

QString Completed(const char* headline, const workers::WorkResult& result)
{
    return result.inputRemoved ? Q(headline) : Q(headline) + QLatin1Char('\n') + Q(texts::OriginalKept);
}

} // namespace

FormEnvironment FormEnvironment::FromProcess(int argc, const char* const* argv)
{
    FormEnvironment env;
    env.arguments = app::ArgumentsOf(argc, argv);
    std::string cwd(4096, '\0');
    while (!getcwd(cwd.data(), cwd.size()) && errno == ERANGE) cwd.resize(cwd.size() * 2);
    env.workingDirectory = cwd.c_str();
    env.shellEnvironment = shell::Environment::FromProcess();
    env.programPath = shell::ProgramPathForRegistration();
    env.keyFolder = KeyContainer::DefaultFolder();
    return env;
}

TMainForm::TMainForm(FormEnvironment environment, QWidget* parent)
    : QWidget(parent), env_(std::move(environment))
{
    // A box without a parent would open under this always-on-top window.
    Messages().SetOwner(this);
    BuildWindow();
    FormCreate();
}

TMainForm::~TMainForm()
{
    // Nothing ends under a running worker: its output and the deletion of its
    // input finish first.
    if (worker_) {
        worker_->wait();
        delete worker_;
        worker_ = nullptr;
    }
    FormDestroy();
}

MessageBoxes& TMainForm::Messages()
{
    if (env_.messages) return *env_.messages;
    if (!ownMessages_) ownMessages_ = std::make_unique<DialogMessageBoxes>(this);
    return *ownMessages_;
}

// ------------------------------------------------------------------ window

void TMainForm::BuildWindow()
{
    InstallAccessibility();
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(Q(texts::WindowCaption));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);
    setFixedSize(kClientWidth, kClientHeight);
    setFont(style::DefaultFont());
    QIcon icon;
    for (int size : shell::kIconSizes) icon.addFile(shell::IconResourcePath(size), QSize(size, size));
    setWindowIcon(icon);

    Notebook1 = new QStackedWidget(this);
    Notebook1->setObjectName(QStringLiteral("Notebook1"));
    Notebook1->setGeometry(0, 0, kClientWidth, kClientHeight);
    Fill(Notebook1, style::Face);
    Notebook1->addWidget(BuildMainPage());
    Notebook1->addWidget(BuildEncryptPage());
    Notebook1->addWidget(BuildDecryptPage());
    Notebook1->addWidget(BuildErrorPage());

    setTabOrder(Password1, Password2);
    setTabOrder(Password2, SpeedButton3);
    setTabOrder(SpeedButton3, SpeedButton4);
    setTabOrder(Password, SpeedButton1);
    setTabOrder(SpeedButton1, SpeedButton2);

    // Escape closes the window where nothing typed would be lost: on the Main
    // page and once an outcome shows.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, [this] {
        if (currentPage() == app::MainPage || (currentPage() == app::ErrorPage && !busy())) close();
    });
}

QFrame* TMainForm::BuildBottomBar(QWidget* page, QPushButton*& left, const char* leftText,
                                  QPushButton*& right, const char* rightText, bool underlined)
{
    auto* bar = new BottomBar(page);
    bar->setGeometry(0, kClientHeight - kBarHeight, kClientWidth, kBarHeight);
    bar->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    bar->setLineWidth(1);
    Fill(bar, style::Face);
    auto makeButton = [&](const char* text, int x) {
        auto* button = new FlatButton(Q(text), bar);
        button->setGeometry(x, 8, 89, 25);
        // Blue while usable; a disabled button keeps the style's grey.
        QPalette palette = button->palette();
        for (auto group : {QPalette::Active, QPalette::Inactive})
            palette.setColor(group, QPalette::ButtonText, style::Blue);
        button->setPalette(palette);
        if (underlined) {
            QFont font = button->font();
            font.setUnderline(true);
            button->setFont(font);
        }
        return button;
    };
    left = makeButton(leftText, 8);
    right = makeButton(rightText, 104);
    return bar;
}

void TMainForm::BuildTitleBand(QWidget* page)
{
    auto* band = new QWidget(page);
    band->setGeometry(0, 0, kClientWidth, kTitleHeight);
    Fill(band, Qt::white);
    auto* title = new QLabel(Q(texts::TitleBand), band);
    title->setGeometry(8, 8, 185, 17);
    title->setFont(style::TitleFont());
    SetTextColour(title, style::Olive);
}

QWidget* TMainForm::BuildMainPage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("MainPage"));
    BuildTitleBand(page);
    auto* area = new QWidget(page);
    area->setGeometry(0, kTitleHeight, kClientWidth, kMessageHeight);
    Fill(area, style::MessageArea);
    MakeLabel(area, texts::MainLine1, 8, 10, Qt::black);
    // The desktop's text colour where it reads on the fixed light blue.
    MakeLabel(area, texts::MainLine2, 7, 26,
              contrast::Readable(palette().color(QPalette::WindowText), style::MessageArea));

    // The vendor's address: a link that can also be selected and copied.
    auto* link = new LinkLabel(area);
    link->setObjectName(QStringLiteral("Panel11"));
    link->setLink(Q(app::VendorSiteAddress), Q(app::VendorSiteText));
    link->move(8, 48);
    link->adjustSize();
    connect(link, &LinkLabel::activated, this, [this] { Panel11Click(); });
    Panel11 = link;

    BuildBottomBar(page, SpeedButton6, "", SpeedButton5, "", false);
    connect(SpeedButton6, &QPushButton::clicked, this, &TMainForm::SpeedButton6Click);
    connect(SpeedButton5, &QPushButton::clicked, this, &TMainForm::UpdateClick);
    return page;
}

QWidget* TMainForm::BuildEncryptPage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("EncryptPage"));
    auto* area = new QWidget(page);
    area->setGeometry(0, 0, kClientWidth, kClientHeight - kBarHeight);
    Fill(area, Qt::white);
    Password1 = MakePasswordField(MakeBox(area, texts::EnterPasswordBox, 8, 46, Qt::black), "Password1");
    Password2 = MakePasswordField(MakeBox(area, texts::VerifyPasswordBox, 56, 46, Qt::black), "Password2");
    Password1->setAccessibleName(Q(texts::EnterPasswordName));
    Password2->setAccessibleName(Q(texts::VerifyPasswordName));
    BuildBottomBar(page, SpeedButton3, texts::Encrypt, SpeedButton4, texts::Update, false);
    connect(SpeedButton3, &QPushButton::clicked, this, &TMainForm::SpeedButton3Click);
    connect(SpeedButton4, &QPushButton::clicked, this, &TMainForm::UpdateClick);
    // Enter in either field acts as the Encrypt button.
    connect(Password1, &QLineEdit::returnPressed, this, &TMainForm::SpeedButton3Click);
    connect(Password2, &QLineEdit::returnPressed, this, &TMainForm::SpeedButton3Click);
    return page;
}

QWidget* TMainForm::BuildDecryptPage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("DecryptPage"));
    auto* area = new QWidget(page);
    area->setGeometry(0, 0, kClientWidth, kClientHeight - kBarHeight);
    Fill(area, Qt::white);
    QGroupBox* box = MakeBox(area, texts::DecryptionBox, 8, 89, style::Navy);
    MakeLabel(box, texts::DecryptLine1, 8, 16, Qt::black);
    MakeLabel(box, texts::DecryptLine2, 8, 32, Qt::black);
    Password = MakePasswordField(box, "Password");
    Password->move(8, 56);
    Password->setAccessibleName(Q(texts::PasswordName));
    BuildBottomBar(page, SpeedButton1, texts::Decrypt, SpeedButton2, texts::Update, true);
    connect(SpeedButton1, &QPushButton::clicked, this, &TMainForm::SpeedButton1Click);
    connect(SpeedButton2, &QPushButton::clicked, this, &TMainForm::UpdateClick);
    connect(Password, &QLineEdit::returnPressed, this, &TMainForm::SpeedButton1Click);
    return page;
}

QWidget* TMainForm::BuildErrorPage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("ErrorPage"));
    BuildTitleBand(page);
    Panel13 = new StatusLabel(page);
    Panel13->setObjectName(QStringLiteral("Panel13"));
    Panel13->setGeometry(0, kTitleHeight, kClientWidth, kMessageHeight);
    Panel13->setAlignment(Qt::AlignCenter);
    Panel13->setWordWrap(true);
    Panel13->setTextFormat(Qt::PlainText);
    Panel13->setMargin(4);
    Fill(Panel13, style::MessageArea);
    SetTextColour(Panel13, style::Navy);

    ProgressBar1 = new QProgressBar(page);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(12, kTitleHeight + kMessageHeight - 16, kClientWidth - 24, 10);
    ProgressBar1->setRange(0, 1000);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->hide();

    BuildBottomBar(page, SpeedButton9, texts::Update, SpeedButton10, texts::Close, false);
    connect(SpeedButton9, &QPushButton::clicked, this, &TMainForm::UpdateClick);
    connect(SpeedButton10, &QPushButton::clicked, this, &TMainForm::SpeedButton10Click);
    // The second click of a double click on Encrypt or Decrypt must not land
    // on the outcome's buttons.
    SpeedButton9->installEventFilter(this);
    SpeedButton10->installEventFilter(this);
    return page;
}

// ------------------------------------------------------- start and shutdown

void TMainForm::FormCreate()
{
    // 1. The context-menu entries, pointing at this program.
    const shell::RegisterOutcome registration =
        shell::RegisterShell(env_.programPath, env_.shellEnvironment, env_.runTool);

    // 2 and 3. The key store and fresh key pairs, whatever became of the
    // registration: without them every encryption would fail. A store that
    // cannot be saved still gives pairs for this run.
    KeyContainer keys;
    if (KeyContainer::Acquire(env_.keyFolder, &keys).ok()) {
        (void)keys.RegenerateKeyPairs();
        if (keys.hasSignatureKey()) CryptProvider = std::move(keys);
    }

    // 4. The Main page.
    SpeedButton6->setText(Q(texts::Uninstall));
    SpeedButton5->setText(Q(texts::Update));
    ShowPage(app::MainPage);

    if (!registration.error.isEmpty()) Messages().Error(registration.error);
}

void TMainForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (shown_) return;
    shown_ = true;
    // Centred on the screen when it opens.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    FormShow();
}

void TMainForm::FormShow()
{
    const app::PageChoice choice = app::ChoosePage(env_.arguments, env_.workingDirectory);
    if (choice.fileIsEncrypted) {
        ShowResult(Q(texts::FileIsEncrypted));
        return;
    }
    selectedFile_ = choice.selectedFile;
    ShowPage(choice.page);
}

void TMainForm::closeEvent(QCloseEvent* event)
{
    if (busy() || askingToStop_) {
        // Closing now would end the program under the worker: the window
        // stays until the outcome (or the stop) shows.
        event->ignore();
        if (busy() && !askingToStop_) AskToStop();
        return;
    }
    FormClose();
    event->accept();
}

void TMainForm::AskToStop()
{
    askingToStop_ = true;
    const bool stop = Messages().Ask(Q(encrypting_ ? texts::StopEncrypting : texts::StopDecrypting));
    askingToStop_ = false;
    // The work may have ended while the question was open: its outcome stands.
    if (stop && worker_) worker_->RequestCancel();
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event)
{
    const bool press = event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick;
    if (press && (watched == SpeedButton9 || watched == SpeedButton10) && resultShown_.isValid()
        && resultShown_.elapsed() < QGuiApplication::styleHints()->mouseDoubleClickInterval())
        return true;
    return QWidget::eventFilter(watched, event);
}

void TMainForm::FormClose()
{
    CryptProvider.reset();
}

void TMainForm::FormDestroy()
{
    if (currentPage() != app::MainPage) return;
    if (env_.sleep) env_.sleep(3000);
    else QThread::msleep(3000);
    OpenWebPage(Q(app::ProductPageAddress));
}

// --------------------------------------------------------------- the pages

int TMainForm::currentPage() const
{
    return Notebook1->currentIndex();
}

void TMainForm::ShowPage(int index)
{
    if (index < 0 || index >= Notebook1->count() || index == currentPage()) return;
    Notebook1->setCurrentIndex(index);
    // The first field of the page takes the keyboard.
    if (index == app::EncryptPage) Password1->setFocus(Qt::OtherFocusReason);
    else if (index == app::DecryptPage) Password->setFocus(Qt::OtherFocusReason);
    else if (Notebook1->isAncestorOf(QApplication::focusWidget()))
        Notebook1->currentWidget()->setFocus(Qt::OtherFocusReason);
}

void TMainForm::ShowBusy(const QString& text)
{
    Panel13->setStatus(text);
    SpeedButton9->setEnabled(false);
    SpeedButton10->setEnabled(false);
    ProgressBar1->setValue(0);
    ProgressBar1->show();
    resultShown_.invalidate();
    ShowPage(app::ErrorPage);
}

void TMainForm::ShowResult(const QString& text)
{
    Panel13->setStatus(text);
    SpeedButton9->setEnabled(true);
    SpeedButton10->setEnabled(true);
    ProgressBar1->hide();
    resultShown_.start();
    ShowPage(app::ErrorPage);
}

void TMainForm::OpenWebPage(const QString& address)
{
    const QUrl url(address);
    if (env_.openUrl) env_.openUrl(url);
    else QDesktopServices::openUrl(url);
}

// ----------------------------------------------------------------- actions

void TMainForm::SpeedButton3Click()
{
    const QString first = Password1->text();
    const QString second = Password2->text();
    if (first.isEmpty() && second.isEmpty()) {
        Messages().Inform(Q(texts::NoPassword));
        return;
    }
    if (first != second) {
        Messages().Inform(Q(texts::DifferentPasswords));
        return;
    }
    if (first.toUcs4().size() < 6 && !Messages().Ask(Q(texts::ShortPassword))) return;

    static const KeyContainer noKeys; // no store could be opened: the engine says so
    ShowBusy(Q(texts::WaitEncrypting));
    StartWorker(std::make_unique<workers::TEncryptThread>(
                    this, [this] { repaint(); }, CryptProvider ? *CryptProvider : noKeys,
                    selectedFile_, first.toStdString()),
                true);
}

void TMainForm::SpeedButton1Click()
{
    const QString password = Password->text();
    if (password.isEmpty()) {
        Messages().Inform(Q(texts::NoPassword));
        return;
    }
    ShowBusy(Q(texts::WaitDecrypting));
    StartWorker(std::make_unique<workers::TDecryptThread>(this, [this] { repaint(); }, selectedFile_,
                                                          password.toStdString()),
                false);
}

void TMainForm::StartWorker(std::unique_ptr<workers::WorkerThread> worker, bool encrypting)
{
    worker_ = worker.release();
    encrypting_ = encrypting;
    ProgressBar1->setAccessibleName(Q(encrypting ? texts::EncryptionProgress : texts::DecryptionProgress));
    connect(worker_, &workers::WorkerThread::progress, this, &TMainForm::OnProgress);
    // The completion handler runs here, on the window's thread, once the
    // worker's body has returned.
    connect(worker_, &QThread::finished, this, [this, encrypting] {
        workers::WorkerThread* done = worker_;
        worker_ = nullptr;
        if (encrypting) EncryptDone(done->result());
        else DecryptDone(done->result());
        done->deleteLater();
        emit workFinished();
    });
    worker_->start();
}

void TMainForm::OnProgress(qint64 done, qint64 total)
{
    ProgressBar1->setValue(total > 0 ? static_cast<int>(done * 1000 / total) : 1000);
}

void TMainForm::EncryptDone(const workers::WorkResult& result)
{
    if (result.outcome == Outcome::Cancelled)
        ShowResult(Q(texts::EncryptionStopped) + QLatin1Char('\n') + Q(texts::NothingChanged));
    else if (result.outcome == Outcome::Success)
        ShowResult(Completed(texts::EncryptionCompleted, result));
    else
        ShowResult(Q(texts::EncryptionFailed) + QLatin1Char('\n') + Reason(result));
}

void TMainForm::DecryptDone(const workers::WorkResult& result)
{
    switch (result.outcome) {
    case Outcome::Success:
        ShowResult(Completed(texts::DecryptionCompleted, result));
        break;
    case Outcome::WrongPassword:
    case Outcome::NotContainer:
        ShowResult(Q(texts::InvalidPassword));
        break;
    case Outcome::Cancelled:
        ShowResult(Q(texts::DecryptionStopped) + QLatin1Char('\n') + Q(texts::NothingChanged));
        break;
    default:
        ShowResult(Q(texts::DecryptionFailed) + QLatin1Char('\n') + Reason(result));
        break;
    }
}

void TMainForm::SpeedButton6Click()
{
    if (!Messages().Ask(Q(texts::RemoveQuestion))) return;
    shell::UnregisterShell(env_.shellEnvironment, env_.runTool);
    Messages().Inform(Q(texts::Removed));
}

void TMainForm::UpdateClick()
{
    OpenWebPage(Q(app::ProductPageAddress));
}

void TMainForm::SpeedButton10Click()
{
    QCoreApplication::quit();
}

void TMainForm::Panel11Click()
{
    OpenWebPage(Q(app::VendorSiteAddress));
}

} // namespace kestrawin::ui
