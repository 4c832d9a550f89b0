// SPDX-License-Identifier: Apache-2.0
#include "MainWindow.h"

#include "Accessibility.h"
#include "Contrast.h"
#include "Controls.h"
#include "Style.h"

#include "base/Words.h"
#include "startup/Addresses.h"
#include "startup/CommandLine.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
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

// How wide a path may be in a message box, in pixels of its font: narrower
// than any box on a screen of 800 pixels, at any scale.
constexpr int kListWidth = 300;

QString Q(const std::string& text)
{
    return QString::fromStdString(text);
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

WindowEnvironment WindowEnvironment::FromProcess(int argc, const char* const* argv)
{
    WindowEnvironment env;
    static_cast<startup::Environment&>(env) = startup::Environment::FromProcess(argc, argv);
    env.windowSlotFolder = startup::WindowSlot::DefaultFolder();
    return env;
}

MainWindow::MainWindow(WindowEnvironment environment, QWidget* parent)
    : QWidget(parent), env_(std::move(environment))
{
    // A box without a parent would open under this always-on-top window.
    Messages().SetOwner(this);
    BuildWindow();
    Start();
}

MainWindow::~MainWindow()
{
    // Nothing ends under a running worker: its output and the deletion of its
    // input finish first.
    if (worker_) worker_->wait();
    worker_.reset();
    if (!model_.ClosingOpensProductPage()) return;
    if (env_.sleep)
        env_.sleep(3000);
    else
        QThread::msleep(3000);
    OpenWebPage(Q(startup::ProductPageAddress));
}

MessageBoxes& MainWindow::Messages()
{
    if (env_.messages) return *env_.messages;
    if (!ownMessages_) ownMessages_ = std::make_unique<DialogMessageBoxes>(this);
    return *ownMessages_;
}

// ------------------------------------------------------------------ window

void MainWindow::BuildWindow()
{
    InstallAccessibility();
    colours_ = style::ColoursFor(QApplication::palette(), env_.desktopTheme);
    setObjectName(QStringLiteral("mainWindow"));
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

    pages_ = new QStackedWidget(this);
    pages_->setObjectName(Q(controls::Pages));
    pages_->setGeometry(0, 0, kClientWidth, kClientHeight);
    Fill(pages_, colours_.face);
    pages_->addWidget(BuildMainPage());
    pages_->addWidget(BuildEncryptPage());
    pages_->addWidget(BuildDecryptPage());
    pages_->addWidget(BuildOutcomePage());

    setTabOrder(password_, passwordAgain_);
    setTabOrder(passwordAgain_, encryptButton_);
    setTabOrder(encryptButton_, encryptUpdateButton_);
    setTabOrder(decryptPassword_, decryptButton_);
    setTabOrder(decryptButton_, decryptUpdateButton_);
    setTabOrder(vendorLink_, uninstallButton_);
    setTabOrder(uninstallButton_, mainUpdateButton_);
    setTabOrder(outcomeLine_, detailsButton_);
    setTabOrder(detailsButton_, outcomeUpdateButton_);
    setTabOrder(outcomeUpdateButton_, closeButton_);

    // Escape closes the window where nothing typed would be lost: on the Main
    // page and once an outcome shows.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, [this] {
        if (model_.EscapeCloses()) close();
    });
}

QFrame* MainWindow::BuildBottomBar(QWidget* page, QPushButton*& left, const char* leftName,
                                   const char* leftText, QPushButton*& right, const char* rightName,
                                   const char* rightText, bool underlined)
{
    auto* bar = new BottomBar(page);
    bar->setGeometry(0, kClientHeight - kBarHeight, kClientWidth, kBarHeight);
    bar->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    bar->setLineWidth(1);
    Fill(bar, colours_.face);
    auto makeButton = [&](const char* name, const char* text, int x) {
        auto* button = new FlatButton(Q(text), bar);
        button->setObjectName(Q(name));
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
    left = makeButton(leftName, leftText, 8);
    right = makeButton(rightName, rightText, 104);
    return bar;
}

void MainWindow::BuildTitleBand(QWidget* page)
{
    auto* band = new QWidget(page);
    band->setGeometry(0, 0, kClientWidth, kTitleHeight);
    Fill(band, colours_.paper);
    auto* title = new QLabel(Q(words::TitleBand), band);
    title->setGeometry(8, 8, 185, 17);
    title->setFont(style::TitleFont());
    SetTextColour(title, colours_.olive);
}

QWidget* MainWindow::BuildMainPage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("mainPage"));
    BuildTitleBand(page);
    // The message is read out when the focus enters it (on the link).
    auto* area = new TextPane(page);
    area->setGeometry(0, kTitleHeight, kClientWidth, kMessageHeight);
    area->setAccessibleName(Q(pages::MainPageSpoken()));
    Fill(area, colours_.messageArea);
    MakeLabel(area, words::MainLine1, 8, 10, colours_.ink);
    // The desktop's text colour where it reads on the fixed light blue.
    MakeLabel(area, words::MainLine2, 7, 26,
              colours_.highContrast ? colours_.ink
                                    : contrast::Readable(palette().color(QPalette::WindowText),
                                                         colours_.messageArea));

    // The vendor's address: a link that can also be selected and copied.
    auto* link = new LinkLabel(area);
    link->setObjectName(Q(controls::VendorLink));
    QPalette linkPalette = link->palette();
    linkPalette.setColor(QPalette::Link, colours_.link);
    link->setPalette(linkPalette);
    link->setLink(Q(startup::VendorSiteAddress), Q(startup::VendorSiteText));
    link->move(8, 48);
    link->adjustSize();
    connect(link, &LinkLabel::activated, this, &MainWindow::VendorLinkClicked);
    vendorLink_ = link;

    BuildBottomBar(page, uninstallButton_, controls::UninstallButton, "", mainUpdateButton_,
                   controls::MainUpdateButton, "", false);
    connect(uninstallButton_, &QPushButton::clicked, this, &MainWindow::UninstallClicked);
    connect(mainUpdateButton_, &QPushButton::clicked, this, &MainWindow::UpdateClicked);
    return page;
}

QWidget* MainWindow::BuildEncryptPage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("encryptPage"));
    auto* area = new QWidget(page);
    area->setGeometry(0, 0, kClientWidth, kClientHeight - kBarHeight);
    Fill(area, colours_.paper);
    password_ =
        MakePasswordField(MakeBox(area, words::EnterPasswordBox, 8, 46, colours_.ink, colours_),
                          controls::Password, colours_);
    passwordAgain_ =
        MakePasswordField(MakeBox(area, words::VerifyPasswordBox, 56, 46, colours_.ink, colours_),
                          controls::PasswordAgain, colours_);
    password_->setAccessibleName(Q(words::EnterPasswordName));
    passwordAgain_->setAccessibleName(Q(words::VerifyPasswordName));
    BuildBottomBar(page, encryptButton_, controls::EncryptButton, words::Encrypt,
                   encryptUpdateButton_, controls::EncryptUpdateButton, words::Update, false);
    connect(encryptButton_, &QPushButton::clicked, this, &MainWindow::EncryptClicked);
    connect(encryptUpdateButton_, &QPushButton::clicked, this, &MainWindow::UpdateClicked);
    // Enter in either field acts as the Encrypt button.
    connect(password_, &QLineEdit::returnPressed, this, &MainWindow::EncryptClicked);
    connect(passwordAgain_, &QLineEdit::returnPressed, this, &MainWindow::EncryptClicked);
    return page;
}

QWidget* MainWindow::BuildDecryptPage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("decryptPage"));
    auto* area = new QWidget(page);
    area->setGeometry(0, 0, kClientWidth, kClientHeight - kBarHeight);
    Fill(area, colours_.paper);
    QGroupBox* box = MakeBox(area, words::DecryptionBox, 8, 89, colours_.navy, colours_);
    MakeLabel(box, words::DecryptLine1, 8, 16, colours_.ink);
    MakeLabel(box, words::DecryptLine2, 8, 32, colours_.ink);
    decryptPassword_ = MakePasswordField(box, controls::DecryptPassword, colours_);
    decryptPassword_->move(8, 56);
    decryptPassword_->setAccessibleName(Q(words::PasswordName));
    // The instructions are read out with the field, which has the focus.
    decryptPassword_->setAccessibleDescription(Q(pages::DecryptInstructions()));
    BuildBottomBar(page, decryptButton_, controls::DecryptButton, words::Decrypt,
                   decryptUpdateButton_, controls::DecryptUpdateButton, words::Update, true);
    connect(decryptButton_, &QPushButton::clicked, this, &MainWindow::DecryptClicked);
    connect(decryptUpdateButton_, &QPushButton::clicked, this, &MainWindow::UpdateClicked);
    connect(decryptPassword_, &QLineEdit::returnPressed, this, &MainWindow::DecryptClicked);
    return page;
}

QWidget* MainWindow::BuildOutcomePage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("outcomePage"));
    BuildTitleBand(page);
    outcomeLine_ = new StatusLabel(page);
    outcomeLine_->setObjectName(Q(controls::OutcomeLine));
    outcomeLine_->setGeometry(0, kTitleHeight, kClientWidth, kMessageHeight);
    outcomeLine_->setAlignment(Qt::AlignCenter);
    outcomeLine_->setWordWrap(true);
    outcomeLine_->setTextFormat(Qt::PlainText);
    outcomeLine_->setMargin(4);
    Fill(outcomeLine_, colours_.messageArea);
    SetTextColour(outcomeLine_, colours_.navy);

    progressBar_ = new QProgressBar(page);
    progressBar_->setObjectName(Q(controls::ProgressBar));
    progressBar_->setGeometry(12, kTitleHeight + kMessageHeight - 16, kClientWidth - 24, 10);
    progressBar_->setRange(0, 1000);
    progressBar_->setTextVisible(false);
    progressBar_->hide();

    // Under the summary of a batch with failures, where the bar was.
    detailsButton_ = new FlatButton(Q(words::Details), page);
    detailsButton_->setObjectName(Q(controls::DetailsButton));
    {
        QFont font = detailsButton_->font();
        font.setUnderline(true);
        detailsButton_->setFont(font);
        QPalette palette = detailsButton_->palette();
        for (auto group : {QPalette::Active, QPalette::Inactive})
            palette.setColor(group, QPalette::ButtonText, colours_.link);
        detailsButton_->setPalette(palette);
    }
    detailsButton_->setGeometry(kClientWidth - 64, kTitleHeight + kMessageHeight - 19, 60, 17);
    detailsButton_->hide();
    connect(detailsButton_, &QPushButton::clicked, this, &MainWindow::DetailsClicked);

    BuildBottomBar(page, outcomeUpdateButton_, controls::OutcomeUpdateButton, words::Update,
                   closeButton_, controls::CloseButton, words::Close, false);
    connect(outcomeUpdateButton_, &QPushButton::clicked, this, &MainWindow::UpdateClicked);
    connect(closeButton_, &QPushButton::clicked, this, &MainWindow::CloseClicked);
    // The second click of a double click on Encrypt or Decrypt must not land
    // on the outcome's buttons.
    outcomeUpdateButton_->installEventFilter(this);
    closeButton_->installEventFilter(this);
    return page;
}

// ------------------------------------------------------- start and shutdown

void MainWindow::Start()
{
    // The context-menu entries, the key store and fresh key pairs.
    startup::Started started = startup::Start(env_);
    keys_ = std::move(started.keyStore.keys);
    const shell::ShellOutcome& registration = started.registration;

    // The Main page.
    uninstallButton_->setText(Q(words::Uninstall));
    mainUpdateButton_->setText(Q(words::Update));
    ShowPage(startup::MainPage);

    // Said in plain words once the page is on the screen (see showEvent).
    if (!registration.failedPaths.isEmpty())
        startupProblem_ =
            Q(pages::EntriesNotWritten(registration.failedPaths.first().toStdString()));
}

void MainWindow::showEvent(QShowEvent* event)
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
    ShowChosenPage();
    // After the page is up, so that the box has the window to stand on.
    if (!startupProblem_.isEmpty())
        QMetaObject::invokeMethod(this, &MainWindow::SayStartupProblem, Qt::QueuedConnection);
}

void MainWindow::ShowChosenPage()
{
    model_.Choose(startup::ChoosePage(env_));
    if (model_.page() == startup::OutcomePage)
        DrawOutcome();
    else
        ShowPage(model_.page());
}

void MainWindow::SayStartupProblem()
{
    if (startupProblem_.isEmpty()) return;
    Messages().Error(std::exchange(startupProblem_, QString()));
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (busy() || askingToStop_) {
        // Closing now would end the program under the worker: the window
        // stays until the outcome (or the stop) shows.
        event->ignore();
        if (busy() && !askingToStop_) AskToStop();
        return;
    }
    keys_.reset();
    event->accept();
}

void MainWindow::AskToStop()
{
    // The work waits between chunks while the question is open, so that what
    // it says stays true; a file past its last chunk still finishes.
    askingToStop_ = true;
    worker_->Hold();
    const bool stop = Messages().Ask(Q(model_.StopQuestion()));
    askingToStop_ = false;
    // The work may have ended while the question was open: the question was
    // closed then, and the outcome stands.
    if (!worker_) return;
    if (stop) worker_->RequestCancel();
    worker_->Resume();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    const bool press =
        event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick;
    if (press && (watched == outcomeUpdateButton_ || watched == closeButton_)
        && resultShown_.isValid()
        && resultShown_.elapsed() < QGuiApplication::styleHints()->mouseDoubleClickInterval())
        return true;
    return QWidget::eventFilter(watched, event);
}

// --------------------------------------------------------------- the pages

int MainWindow::currentPage() const
{
    return pages_->currentIndex();
}

void MainWindow::ShowPage(int index)
{
    if (index < 0 || index >= pages_->count() || index == currentPage()) return;
    pages_->setCurrentIndex(index);
    // The first control of the page takes the keyboard: the password field,
    // the link, or the message (where nothing can be pressed while the work
    // runs), each showing that it has the focus.
    if (index == startup::EncryptPage)
        password_->setFocus(Qt::OtherFocusReason);
    else if (index == startup::DecryptPage)
        decryptPassword_->setFocus(Qt::OtherFocusReason);
    else if (index == startup::MainPage)
        vendorLink_->setFocus(Qt::OtherFocusReason);
    else
        outcomeLine_->setFocus(Qt::OtherFocusReason);
}

void MainWindow::ShowBusy()
{
    outcomeLine_->setToolTip({});
    outcomeLine_->setAccessibleDescription({});
    outcomeLine_->setAlignment(Qt::AlignCenter);
    outcomeLine_->setStatus(Q(model_.outcome().Joined()));
    outcomeUpdateButton_->setEnabled(false);
    closeButton_->setEnabled(false);
    progressBar_->setValue(0);
    progressBar_->show();
    detailsButton_->hide();
    resultShown_.invalidate();
    ShowPage(startup::OutcomePage);
}

void MainWindow::ShowOutcome(const QString& text)
{
    outcomeLine_->setToolTip({});
    outcomeLine_->setAccessibleDescription({});
    outcomeLine_->setAlignment(Qt::AlignCenter);
    outcomeLine_->setStatus(text);
    outcomeUpdateButton_->setEnabled(true);
    closeButton_->setEnabled(true);
    progressBar_->hide();
    detailsButton_->hide();
    resultShown_.start();
    ShowPage(startup::OutcomePage);
}

// The model's outcome: each name shortened in its middle to the message's
// width, the whole path aside (tooltip, assistive tools); Details with each
// path shortened to fit the box and whole in the box's tooltip.
void MainWindow::DrawOutcome()
{
    const pages::OutcomeText& outcome = model_.outcome();
    const int width = outcomeLine_->contentsRect().width() - 2 * outcomeLine_->margin() - 4;
    QStringList lines;
    for (const pages::Line& line : outcome.lines)
        lines << (line.name
                      ? outcomeLine_->fontMetrics().elidedText(Q(line.text), Qt::ElideMiddle, width)
                      : Q(line.text));
    ShowOutcome(lines.join(QLatin1Char('\n')));
    outcomeLine_->setToolTip(Q(outcome.wholeName));
    outcomeLine_->setAccessibleDescription(Q(outcome.wholeName));

    QStringList details, whole;
    const QFontMetrics boxFont(QApplication::font());
    for (const pages::Detail& detail : outcome.details) {
        const QString path = Q(detail.path);
        const QString reason = QStringLiteral(": ") + Q(detail.reason);
        details << boxFont.elidedText(path, Qt::ElideMiddle, kListWidth) + reason;
        whole << path + reason;
    }
    details_ = details.join(QLatin1Char('\n'));
    detailsWhole_ = whole.join(QLatin1Char('\n'));
    detailsButton_->setVisible(!details_.isEmpty());
    // Four lines and the button: the text moves up to leave the button room.
    if (!details_.isEmpty() && lines.size() > 3)
        outcomeLine_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
}

void MainWindow::OpenWebPage(const QString& address)
{
    const QUrl url(address);
    if (env_.openUrl)
        env_.openUrl(url);
    else
        QDesktopServices::openUrl(url);
}

// ----------------------------------------------------------------- actions

void MainWindow::EncryptClicked()
{
    Secret first = PasswordOf(password_->text());
    const Secret second = PasswordOf(passwordAgain_->text());
    const pages::Check check = model_.CheckEncryptPasswords(first.view(), second.view());
    if (check.verdict == pages::Check::Verdict::Refuse) {
        Messages().Inform(Q(check.message));
        return;
    }
    if (check.verdict == pages::Check::Verdict::Ask && !Messages().Ask(Q(check.message))) return;

    model_.StartWork(ops::Direction::Encrypt);
    ShowBusy();
    // No store could be opened: the worker gets no keys and the engine says so.
    if (model_.batch())
        StartWorker(std::make_unique<workers::BatchWorker>(ops::Direction::Encrypt, keys_,
                                                           model_.files(), std::move(first)));
    else
        StartWorker(std::make_unique<workers::EncryptWorker>(keys_, model_.files().front(),
                                                             std::move(first)));
}

void MainWindow::DecryptClicked()
{
    Secret password = PasswordOf(decryptPassword_->text());
    const pages::Check check = model_.CheckDecryptPassword(password.view());
    if (check.verdict == pages::Check::Verdict::Refuse) {
        Messages().Inform(Q(check.message));
        return;
    }
    model_.StartWork(ops::Direction::Decrypt);
    ShowBusy();
    if (model_.batch())
        StartWorker(std::make_unique<workers::BatchWorker>(ops::Direction::Decrypt, nullptr,
                                                           model_.files(), std::move(password)));
    else
        StartWorker(
            std::make_unique<workers::DecryptWorker>(model_.files().front(), std::move(password)));
}

void MainWindow::StartWorker(std::unique_ptr<workers::Worker> worker)
{
    worker_ = std::move(worker);
    worker_->UseDiskHook(env_.diskHook);
    progressBar_->setAccessibleName(Q(model_.ProgressName()));
    connect(worker_.get(), &workers::Worker::progress, this, &MainWindow::OnProgress);
    // The completion handler runs here, on the window's thread, once the
    // worker's body has returned; the worker is ours until then and goes with
    // the handler.
    connect(worker_.get(), &QThread::finished, this, [this] {
        const std::unique_ptr<workers::Worker> done = std::move(worker_);
        done->wait(); // the thread is past run(): this returns at once
        // Whether to stop is no question any more: the outcome shows instead.
        if (askingToStop_) Messages().Dismiss();
        WorkDone(*done);
        emit workFinished();
    });
    // The busy message is painted before the work starts; the worker never
    // waits for this thread.
    repaint();
    worker_->start();
}

void MainWindow::OnProgress(qint64 done, qint64 total)
{
    progressBar_->setValue(total > 0 ? static_cast<int>(done * 1000 / total) : 1000);
}

void MainWindow::WorkDone(const workers::Worker& worker)
{
    model_.WorkDone(worker.outcomes());
    DrawOutcome();
}

void MainWindow::DetailsClicked()
{
    Messages().List(details_, detailsWhole_);
}

void MainWindow::UninstallClicked()
{
    if (!Messages().Ask(Q(words::RemoveQuestion))) return;
    const shell::ShellOutcome removal = shell::UnregisterShell(env_.shellEnvironment, env_.runTool);
    if (removal.ok())
        Messages().Inform(Q(words::Removed));
    else
        Messages().Error(Q(pages::EntryNotWritten(removal.result)));
}

void MainWindow::UpdateClicked()
{
    OpenWebPage(Q(startup::ProductPageAddress));
}

void MainWindow::CloseClicked()
{
    QCoreApplication::quit();
}

void MainWindow::VendorLinkClicked()
{
    OpenWebPage(Q(startup::VendorSiteAddress));
}

} // namespace kestrawin::ui
