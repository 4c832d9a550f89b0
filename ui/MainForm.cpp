// SPDX-License-Identifier: Apache-2.0
#include "MainForm.h"

#include "Accessibility.h"
#include "Contrast.h"
#include "Controls.h"
#include "Style.h"

#include "base/Words.h"
#include "crypto/PasswordKeys.h"
#include "startup/Addresses.h"
#include "startup/CommandLine.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileInfo>
#include <QFontMetrics>
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

#include <algorithm>
#include <utility>

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

QLineEdit* MakePasswordField(QWidget* parent, const char* name, const style::Colours& colours)
{
    auto* field = new QLineEdit(parent);
    field->setObjectName(Q(name));
    field->setGeometry(8, 16, 169, 21);
    field->setEchoMode(QLineEdit::Password);
    QPalette palette = field->palette();
    palette.setColor(QPalette::Base, colours.face);
    // The background is fixed: a dark scheme's light text would not show.
    palette.setColor(QPalette::Text,
                     colours.highContrast
                         ? colours.ink
                         : contrast::Readable(palette.color(QPalette::Text), colours.face));
    field->setPalette(palette);
    return field;
}

// A framed box whose caption sits on its top line, as on the original form:
// the frame starts half a line down, so fields at y = 16 sit inside it.
// Assistive tools get the caption without the spaces that pad it.
QGroupBox* MakeBox(QWidget* parent, const char* caption, int y, int height,
                   const QColor& captionColour, const style::Colours& colours)
{
    auto* box = new QGroupBox(Q(caption), parent);
    box->setGeometry(8, y, 185, height);
    box->setAccessibleName(Q(caption).trimmed());
    box->setStyleSheet(
        QStringLiteral(
            "QGroupBox { border: 1px solid %2; border-radius: 2px;"
            " margin-top: 6px; background: %3; }"
            "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
            " left: 6px; top: 0px; padding: 0px; color: %1; background: %3; }")
            .arg(captionColour.name(), colours.boxFrame.name(), colours.paper.name()));
    return box;
}

// A file's name on one line: line breaks and other control characters
// become a visible mark.
QString OneLine(const QString& text)
{
    QString line = text;
    for (QChar& c : line) {
        const char16_t u = c.unicode();
        if (u == u'\n' || u == u'\r' || u == 0x0b || u == 0x0c || u == 0x85 || u == 0x2028
            || u == 0x2029)
            c = QChar(0x21b5); // a return arrow
        else if (c.category() == QChar::Other_Control)
            c = QChar(0xfffd);
    }
    return line;
}

// How wide a path may be in a message box, in pixels of its font: narrower
// than any box on a screen of 800 pixels, at any scale.
constexpr int kListWidth = 300;

// An engine text as a line of the Error page: first letter in upper case.
QString Sentence(std::string_view text)
{
    QString line = QString::fromUtf8(text.data(), static_cast<int>(text.size()));
    if (!line.isEmpty()) line[0] = line[0].toUpper();
    return line;
}

// Why an operation failed, as the second line of the Error page.
QString Reason(const workers::WorkResult& result)
{
    return Sentence(OutcomeReason(result.result.outcome));
}

// A batch's reason for one file, in the words used for one file alone: a
// wrong password and a file that is no container both read "Invalid
// password!", and a file the stop caught is "stopped", as the page says. With
// `named`, the other file a clash is with.
QString BatchReason(const workers::WorkResult& result, bool named = false)
{
    const Outcome outcome = result.result.outcome;
    if (outcome == Outcome::Cancelled) return Q(words::FileStopped);
    if (outcome == Outcome::WrongPassword || outcome == Outcome::NotContainer)
        return Q(words::InvalidPassword);
    if (named && outcome == Outcome::OutputClash)
        return Reason(result) + QStringLiteral(" (") + QString::fromStdString(result.result.detail)
               + QLatin1Char(')');
    return Reason(result);
}

// A count in its singular or plural; with `of`, "%1 of %2" by the second.
QString CountText(const words::Counted& text, std::size_t n, std::size_t of = SIZE_MAX)
{
    return QString::fromStdString(of == SIZE_MAX ? words::Count(text, n) : words::Count(text, n, of));
}

// The headline, and on a second line what became of the input when it was
// kept, or that other names still lead to its contents.
QString Completed(const char* headline, const workers::WorkResult& result)
{
    // A notice of the result itself (access it could not be given) first.
    const QString done = result.result.detail.empty()
                             ? Q(headline)
                             : Q(headline) + QLatin1Char('\n') + Sentence(result.result.detail);
    if (!result.inputRemoved)
        return done + QLatin1Char('\n') + Sentence(OutcomeReason(result.removal.outcome));
    if (result.otherNames > 0)
        return done + QLatin1Char('\n') + Sentence(OtherNamesNotice(result.otherNames));
    return done;
}

// The field's text as a Secret; the UTF-8 copy made on the way is wiped.
Secret PasswordOf(const QString& text)
{
    QByteArray utf8 = text.toUtf8();
    Secret password(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
    Wipe(utf8.data(), static_cast<std::size_t>(utf8.size()));
    return password;
}

} // namespace

FormEnvironment FormEnvironment::FromProcess(int argc, const char* const* argv)
{
    FormEnvironment env;
    static_cast<startup::Environment&>(env) = startup::Environment::FromProcess(argc, argv);
    env.windowSlotFolder = startup::WindowSlot::DefaultFolder();
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
    if (worker_) worker_->wait();
    worker_.reset();
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
    colours_ = style::ColoursFor(QApplication::palette(), env_.desktopTheme);
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(Q(words::WindowCaption));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);
    setFixedSize(kClientWidth, kClientHeight);
    setFont(style::DefaultFont());
    QIcon icon;
    for (int size : shell::kIconSizes)
        icon.addFile(shell::IconResourcePath(size), QSize(size, size));
    setWindowIcon(icon);

    Notebook1 = new QStackedWidget(this);
    Notebook1->setObjectName(QStringLiteral("Notebook1"));
    Notebook1->setGeometry(0, 0, kClientWidth, kClientHeight);
    Fill(Notebook1, colours_.face);
    Notebook1->addWidget(BuildMainPage());
    Notebook1->addWidget(BuildEncryptPage());
    Notebook1->addWidget(BuildDecryptPage());
    Notebook1->addWidget(BuildErrorPage());

    setTabOrder(Password1, Password2);
    setTabOrder(Password2, SpeedButton3);
    setTabOrder(SpeedButton3, SpeedButton4);
    setTabOrder(Password, SpeedButton1);
    setTabOrder(SpeedButton1, SpeedButton2);
    setTabOrder(Panel11, SpeedButton6);
    setTabOrder(SpeedButton6, SpeedButton5);
    setTabOrder(Panel13, DetailsButton);
    setTabOrder(DetailsButton, SpeedButton9);
    setTabOrder(SpeedButton9, SpeedButton10);

    // Escape closes the window where nothing typed would be lost: on the Main
    // page and once an outcome shows.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, [this] {
        if (currentPage() == startup::MainPage || (currentPage() == startup::ErrorPage && !busy()))
            close();
    });
}

QFrame* TMainForm::BuildBottomBar(QWidget* page, QPushButton*& left, const char* leftText,
                                  QPushButton*& right, const char* rightText, bool underlined)
{
    auto* bar = new BottomBar(page);
    bar->setGeometry(0, kClientHeight - kBarHeight, kClientWidth, kBarHeight);
    bar->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    bar->setLineWidth(1);
    Fill(bar, colours_.face);
    auto makeButton = [&](const char* text, int x) {
        auto* button = new FlatButton(Q(text), bar);
        button->setGeometry(x, 8, 89, 25);
        // Blue while usable; a disabled button keeps the style's grey.
        QPalette palette = button->palette();
        for (auto group : {QPalette::Active, QPalette::Inactive})
            palette.setColor(group, QPalette::ButtonText, colours_.buttons);
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
    Fill(band, colours_.paper);
    auto* title = new QLabel(Q(words::TitleBand), band);
    title->setGeometry(8, 8, 185, 17);
    title->setFont(style::TitleFont());
    SetTextColour(title, colours_.olive);
}

QWidget* TMainForm::BuildMainPage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("MainPage"));
    BuildTitleBand(page);
    // The message is read out when the focus enters it (on the link).
    auto* area = new TextPane(page);
    area->setGeometry(0, kTitleHeight, kClientWidth, kMessageHeight);
    area->setAccessibleName(Q(words::MainLine1) + QLatin1Char(' ') + Q(words::MainLine2));
    Fill(area, colours_.messageArea);
    MakeLabel(area, words::MainLine1, 8, 10, colours_.ink);
    // The desktop's text colour where it reads on the fixed light blue.
    MakeLabel(area, words::MainLine2, 7, 26,
              colours_.highContrast ? colours_.ink
                                    : contrast::Readable(palette().color(QPalette::WindowText),
                                                         colours_.messageArea));

    // The vendor's address: a link that can also be selected and copied.
    auto* link = new LinkLabel(area);
    link->setObjectName(QStringLiteral("Panel11"));
    QPalette linkPalette = link->palette();
    linkPalette.setColor(QPalette::Link, colours_.link);
    link->setPalette(linkPalette);
    link->setLink(Q(startup::VendorSiteAddress), Q(startup::VendorSiteText));
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
    Fill(area, colours_.paper);
    Password1 =
        MakePasswordField(MakeBox(area, words::EnterPasswordBox, 8, 46, colours_.ink, colours_),
                          "Password1", colours_);
    Password2 =
        MakePasswordField(MakeBox(area, words::VerifyPasswordBox, 56, 46, colours_.ink, colours_),
                          "Password2", colours_);
    Password1->setAccessibleName(Q(words::EnterPasswordName));
    Password2->setAccessibleName(Q(words::VerifyPasswordName));
    BuildBottomBar(page, SpeedButton3, words::Encrypt, SpeedButton4, words::Update, false);
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
    Fill(area, colours_.paper);
    QGroupBox* box = MakeBox(area, words::DecryptionBox, 8, 89, colours_.navy, colours_);
    MakeLabel(box, words::DecryptLine1, 8, 16, colours_.ink);
    MakeLabel(box, words::DecryptLine2, 8, 32, colours_.ink);
    Password = MakePasswordField(box, "Password", colours_);
    Password->move(8, 56);
    Password->setAccessibleName(Q(words::PasswordName));
    // The instructions are read out with the field, which has the focus.
    Password->setAccessibleDescription(Q(words::DecryptLine1) + QLatin1Char(' ')
                                       + Q(words::DecryptLine2));
    BuildBottomBar(page, SpeedButton1, words::Decrypt, SpeedButton2, words::Update, true);
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
    Fill(Panel13, colours_.messageArea);
    SetTextColour(Panel13, colours_.navy);

    ProgressBar1 = new QProgressBar(page);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(12, kTitleHeight + kMessageHeight - 16, kClientWidth - 24, 10);
    ProgressBar1->setRange(0, 1000);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->hide();

    // Under the summary of a batch with failures, where the bar was.
    DetailsButton = new FlatButton(Q(words::Details), page);
    DetailsButton->setObjectName(QStringLiteral("DetailsButton"));
    {
        QFont font = DetailsButton->font();
        font.setUnderline(true);
        DetailsButton->setFont(font);
        QPalette palette = DetailsButton->palette();
        for (auto group : {QPalette::Active, QPalette::Inactive})
            palette.setColor(group, QPalette::ButtonText, colours_.link);
        DetailsButton->setPalette(palette);
    }
    DetailsButton->setGeometry(kClientWidth - 64, kTitleHeight + kMessageHeight - 19, 60, 17);
    DetailsButton->hide();
    connect(DetailsButton, &QPushButton::clicked, this, &TMainForm::DetailsClick);

    BuildBottomBar(page, SpeedButton9, words::Update, SpeedButton10, words::Close, false);
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
    // 1 to 3. The context-menu entries, the key store and fresh key pairs.
    startup::Started started = startup::Start(env_);
    CryptProvider = std::move(started.keyStore.keys);
    const shell::ShellOutcome& registration = started.registration;

    // 4. The Main page.
    SpeedButton6->setText(Q(words::Uninstall));
    SpeedButton5->setText(Q(words::Update));
    ShowPage(startup::MainPage);

    // Said in plain words once the page is on the screen (see FormShow).
    if (!registration.failedPaths.isEmpty()) {
        // The deepest folder on the way that exists: where writing failed.
        QFileInfo blocked(QFileInfo(registration.failedPaths.first()).absolutePath());
        while (!blocked.exists() && !blocked.isRoot()) blocked.setFile(blocked.absolutePath());
        startupProblem_ = Q(words::EntriesNotWritten).arg(blocked.absoluteFilePath());
    }
}

void TMainForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (shown_) return;
    shown_ = true;
    // Centred on the screen when it opens; a step aside for each window of
    // ours already open, so that none hides another.
    windowSlot_ = startup::WindowSlot::Take(env_.windowSlotFolder);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        const QRect frame = frameGeometry();
        const startup::Placement at =
            startup::PlaceWindow(windowSlot_.index(), area.x(), area.y(), area.width(),
                                 area.height(), frame.width(), frame.height());
        move(at.x, at.y);
    }
    FormShow();
    // After the page is up, so that the box has the window to stand on.
    if (!startupProblem_.isEmpty())
        QMetaObject::invokeMethod(this, &TMainForm::SayStartupProblem, Qt::QueuedConnection);
}

void TMainForm::FormShow()
{
    const startup::PageChoice choice = startup::ChoosePage(env_);
    if (choice.fileIsEncrypted) {
        ShowResult(Q(words::FileIsEncrypted));
        return;
    }
    selectedFile_ = choice.selectedFile;
    selectedFiles_ = choice.selectedFiles;
    ShowPage(choice.page);
}

void TMainForm::SayStartupProblem()
{
    if (startupProblem_.isEmpty()) return;
    Messages().Error(std::exchange(startupProblem_, QString()));
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
    // The work waits between chunks while the question is open, so that what
    // it says stays true; a file past its last chunk still finishes.
    askingToStop_ = true;
    worker_->Hold();
    const bool many = selectedFiles_.size() > 1;
    const char* question = encrypting_ ? (many ? words::StopEncryptingMany : words::StopEncrypting)
                                       : (many ? words::StopDecryptingMany : words::StopDecrypting);
    const bool stop = Messages().Ask(Q(question));
    askingToStop_ = false;
    // The work may have ended while the question was open: the question was
    // closed then, and the outcome stands.
    if (!worker_) return;
    if (stop) worker_->RequestCancel();
    worker_->Resume();
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event)
{
    const bool press =
        event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick;
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
    if (currentPage() != startup::MainPage) return;
    if (env_.sleep)
        env_.sleep(3000);
    else
        QThread::msleep(3000);
    OpenWebPage(Q(startup::ProductPageAddress));
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
    // The first control of the page takes the keyboard: the password field,
    // the link, or the message (where nothing can be pressed while the work
    // runs), each showing that it has the focus.
    if (index == startup::EncryptPage)
        Password1->setFocus(Qt::OtherFocusReason);
    else if (index == startup::DecryptPage)
        Password->setFocus(Qt::OtherFocusReason);
    else if (index == startup::MainPage)
        Panel11->setFocus(Qt::OtherFocusReason);
    else
        Panel13->setFocus(Qt::OtherFocusReason);
}

void TMainForm::ShowBusy(const QString& text)
{
    ShowWholeName({});
    Panel13->setAlignment(Qt::AlignCenter);
    Panel13->setStatus(text);
    SpeedButton9->setEnabled(false);
    SpeedButton10->setEnabled(false);
    ProgressBar1->setValue(0);
    ProgressBar1->show();
    DetailsButton->hide();
    resultShown_.invalidate();
    ShowPage(startup::ErrorPage);
}

void TMainForm::ShowResult(const QString& text)
{
    ShowWholeName({});
    Panel13->setAlignment(Qt::AlignCenter);
    Panel13->setStatus(text);
    SpeedButton9->setEnabled(true);
    SpeedButton10->setEnabled(true);
    ProgressBar1->hide();
    DetailsButton->hide();
    resultShown_.start();
    ShowPage(startup::ErrorPage);
}

void TMainForm::OpenWebPage(const QString& address)
{
    const QUrl url(address);
    if (env_.openUrl)
        env_.openUrl(url);
    else
        QDesktopServices::openUrl(url);
}

// ----------------------------------------------------------------- actions

void TMainForm::SpeedButton3Click()
{
    const QString first = Password1->text();
    const QString second = Password2->text();
    if (first.isEmpty() && second.isEmpty()) {
        Messages().Inform(Q(words::NoPassword));
        return;
    }
    if (first != second) {
        Messages().Inform(Q(words::DifferentPasswords));
        return;
    }
    if (static_cast<std::size_t>(first.toUcs4().size()) < words::kMinimumPasswordLength
        && !Messages().Ask(Q(words::Fill(words::ShortPassword,
                                         {std::to_string(words::kMinimumPasswordLength)})
                                 .c_str())))
        return;

    if (selectedFiles_.size() > 1) {
        ShowBusy(Q(words::WaitEncryptingMany).arg(selectedFiles_.size()));
        StartWorker(std::make_unique<workers::TBatchThread>(ops::Direction::Encrypt, CryptProvider,
                                                            selectedFiles_, PasswordOf(first)),
                    true);
        return;
    }
    ShowBusy(Q(words::WaitEncrypting));
    // No store could be opened: the worker gets no keys and the engine says so.
    StartWorker(
        std::make_unique<workers::TEncryptThread>(CryptProvider, selectedFile_, PasswordOf(first)),
        true);
}

void TMainForm::SpeedButton1Click()
{
    const QString password = Password->text();
    if (password.isEmpty()) {
        Messages().Inform(Q(words::NoPassword));
        return;
    }
    if (selectedFiles_.size() > 1) {
        ShowBusy(Q(words::WaitDecryptingMany).arg(selectedFiles_.size()));
        StartWorker(std::make_unique<workers::TBatchThread>(ops::Direction::Decrypt, nullptr,
                                                            selectedFiles_, PasswordOf(password)),
                    false);
        return;
    }
    ShowBusy(Q(words::WaitDecrypting));
    StartWorker(std::make_unique<workers::TDecryptThread>(selectedFile_, PasswordOf(password)),
                false);
}

void TMainForm::StartWorker(std::unique_ptr<workers::WorkerThread> worker, bool encrypting)
{
    worker_ = std::move(worker);
    worker_->UseDiskHook(env_.diskHook);
    encrypting_ = encrypting;
    ProgressBar1->setAccessibleName(
        Q(encrypting ? words::EncryptionProgress : words::DecryptionProgress));
    connect(worker_.get(), &workers::WorkerThread::progress, this, &TMainForm::OnProgress);
    // The completion handler runs here, on the window's thread, once the
    // worker's body has returned; the worker is ours until then and goes with
    // the handler.
    connect(worker_.get(), &QThread::finished, this, [this, encrypting] {
        const std::unique_ptr<workers::WorkerThread> done = std::move(worker_);
        done->wait(); // the thread is past run(): this returns at once
        // Whether to stop is no question any more: the outcome shows instead.
        if (askingToStop_) Messages().Dismiss();
        if (const auto* batch = qobject_cast<const workers::TBatchThread*>(done.get()))
            BatchDone(*batch);
        else if (encrypting)
            EncryptDone(done->result());
        else
            DecryptDone(done->result());
        emit workFinished();
    });
    // The busy message is painted before the work starts; the worker never
    // waits for this thread.
    repaint();
    worker_->start();
}

void TMainForm::OnProgress(qint64 done, qint64 total)
{
    ProgressBar1->setValue(total > 0 ? static_cast<int>(done * 1000 / total) : 1000);
}

void TMainForm::EncryptDone(const workers::WorkResult& result)
{
    if (result.result.outcome == Outcome::Cancelled)
        ShowResult(Q(words::EncryptionStopped) + QLatin1Char('\n') + Q(words::NothingChanged));
    else if (result.ok())
        ShowResult(Completed(words::EncryptionCompleted, result));
    else
        ShowResult(Q(words::EncryptionFailed) + QLatin1Char('\n') + Reason(result));
}

void TMainForm::DecryptDone(const workers::WorkResult& result)
{
    switch (result.result.outcome) {
    case Outcome::Success: ShowResult(Completed(words::DecryptionCompleted, result)); break;
    case Outcome::WrongPassword:
    case Outcome::NotContainer: ShowResult(Q(words::InvalidPassword)); break;
    case Outcome::Cancelled:
        ShowResult(Q(words::DecryptionStopped) + QLatin1Char('\n') + Q(words::NothingChanged));
        break;
    default: ShowResult(Q(words::DecryptionFailed) + QLatin1Char('\n') + Reason(result)); break;
    }
}

void TMainForm::BatchDone(const workers::TBatchThread& batch)
{
    const bool encrypting = batch.direction() == ops::Direction::Encrypt;
    const auto& outcomes = batch.outcomes();
    const ops::BatchSummary summary = ops::Summarize(outcomes);
    const int width = Panel13->contentsRect().width() - 2 * Panel13->margin() - 4;
    QString named; // the whole path of the file the summary names
    auto elided = [&](const std::string& path) {
        named = OneLine(QString::fromStdString(path));
        const QString name = named.section(QLatin1Char('/'), -1);
        return Panel13->fontMetrics().elidedText(name, Qt::ElideMiddle, width);
    };

    // Stopped: the stop leads, then what was done before it. Files the stop
    // caught are as they were, so only a real failure is named. Containers
    // left as they were in an encryption are what was asked: counted apart,
    // never as failures.
    const auto cancelled = [](const workers::WorkResult& o) {
        return o.result.outcome == Outcome::Cancelled;
    };
    const auto failed = [](const workers::WorkResult& o) {
        return !o.ok() && o.result.outcome != Outcome::Cancelled
               && o.result.outcome != Outcome::AlreadyEncrypted;
    };
    const std::size_t worked = summary.total - summary.skipped;
    const QString doneOf = CountText(encrypting ? words::SomeFilesEncrypted : words::SomeFilesDecrypted,
                                 summary.succeeded, worked);
    QStringList lines;
    if (std::any_of(outcomes.begin(), outcomes.end(), cancelled)) {
        lines << Q(encrypting ? words::EncryptionStopped : words::DecryptionStopped) << doneOf;
        const auto failure = std::find_if(outcomes.begin(), outcomes.end(), failed);
        if (failure != outcomes.end()) lines << elided(failure->path) << BatchReason(*failure);
    } else if (!summary.firstFailure) {
        lines << Q(encrypting ? words::EncryptionCompleted : words::DecryptionCompleted)
              << CountText(encrypting ? words::FilesEncrypted : words::FilesDecrypted,
                       summary.succeeded);
    } else {
        lines << doneOf << elided(summary.firstFailure->path) << BatchReason(*summary.firstFailure);
    }
    if (summary.skipped > 0) lines << CountText(words::LeftAsTheyWere, summary.skipped);
    if (summary.inputsKept > 0) lines << CountText(words::OriginalsKept, summary.inputsKept);
    ShowResult(lines.join(QLatin1Char('\n')));
    ShowWholeName(named);

    // Every file that failed, was left as it was, or whose original stayed,
    // with its reason; once, however many times it was named. Each path on one
    // line, shortened in its middle to fit the box, whole in the box's tooltip.
    QStringList details, whole;
    const QFontMetrics boxFont(QApplication::font());
    for (const workers::WorkResult& o : outcomes) {
        if (o.repeated) continue;
        QString reason;
        if (o.result.outcome == Outcome::AlreadyEncrypted)
            reason = Q(words::LeftAsItWas);
        else if (!o.ok())
            reason = BatchReason(o, true);
        else if (o.inputKept())
            reason = Sentence(OutcomeReason(o.removal.outcome));
        else if (!o.result.detail.empty())
            reason = Sentence(o.result.detail);
        else
            continue;
        const QString path = OneLine(QString::fromStdString(o.path));
        details << boxFont.elidedText(path, Qt::ElideMiddle, kListWidth) + QStringLiteral(": ")
                       + reason;
        whole << path + QStringLiteral(": ") + reason;
    }
    details_ = details.join(QLatin1Char('\n'));
    detailsWhole_ = whole.join(QLatin1Char('\n'));
    DetailsButton->setVisible(!details_.isEmpty());
    // Four lines and the button: the text moves up to leave the button room.
    if (!details_.isEmpty() && lines.size() > 3)
        Panel13->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
}

void TMainForm::DetailsClick()
{
    Messages().List(details_, detailsWhole_);
}

void TMainForm::ShowWholeName(const QString& path)
{
    Panel13->setToolTip(path);
    Panel13->setAccessibleDescription(path);
}

void TMainForm::SpeedButton6Click()
{
    if (!Messages().Ask(Q(words::RemoveQuestion))) return;
    const shell::ShellOutcome removal = shell::UnregisterShell(env_.shellEnvironment, env_.runTool);
    if (removal.ok())
        Messages().Inform(Q(words::Removed));
    else
        Messages().Error(Q(words::Fill(words::EntryNotWritten, {removal.result.detail}).c_str()));
}

void TMainForm::UpdateClick()
{
    OpenWebPage(Q(startup::ProductPageAddress));
}

void TMainForm::SpeedButton10Click()
{
    QCoreApplication::quit();
}

void TMainForm::Panel11Click()
{
    OpenWebPage(Q(startup::VendorSiteAddress));
}

} // namespace kestrawin::ui
