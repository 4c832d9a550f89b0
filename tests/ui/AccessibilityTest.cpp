// SPDX-License-Identifier: Apache-2.0
// What assistive tools receive from the window, read where the platform's
// bridge would read it: every accessibility event that the window hands on,
// and the answers of its accessible interfaces.

#include "Harness.h"

#include "base/Words.h"
#include "ui/Accessibility.h"
#include "ui/Style.h"

#include <QAccessible>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>

#include <QtGui/private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

using namespace kestrawin;
using namespace kestrawin::ui;
using namespace kestrawin::ui::testing;

namespace {

// One event as the bridge received it.
struct Heard {
    QAccessible::Event type;
    QPointer<QObject> object;
    QStringList texts; // every text the event carries
    QString name;      // the source's accessible name at that moment
};

QList<Heard>& Log()
{
    static QList<Heard> log;
    return log;
}

// Stands in for the platform's bridge: installed before any window, so the
// window's own handler hands its events on to this one.
void Bridge(QAccessibleEvent* event)
{
    Heard heard{event->type(), event->object(), {}, {}};
    switch (event->type()) {
    case QAccessible::TextInserted:
        heard.texts << static_cast<QAccessibleTextInsertEvent*>(event)->textInserted();
        break;
    case QAccessible::TextRemoved:
        heard.texts << static_cast<QAccessibleTextRemoveEvent*>(event)->textRemoved();
        break;
    case QAccessible::TextUpdated:
        heard.texts << static_cast<QAccessibleTextUpdateEvent*>(event)->textRemoved()
                    << static_cast<QAccessibleTextUpdateEvent*>(event)->textInserted();
        break;
    case QAccessible::ValueChanged:
        heard.texts << static_cast<QAccessibleValueChangeEvent*>(event)->value().toString();
        break;
    default: break;
    }
    QAccessibleInterface* iface =
        event->type() == QAccessible::ObjectDestroyed ? nullptr : event->accessibleInterface();
    if (iface && iface->isValid()) {
        heard.name = iface->text(QAccessible::Name);
        heard.texts << iface->text(QAccessible::Value);
    }
    Log() << heard;
}

QList<Heard> From(QObject* object, QAccessible::Event type)
{
    QList<Heard> found;
    for (const Heard& h : Log())
        if (h.object == object && h.type == type) found << h;
    return found;
}

// Every text that any query on a field's interface can give.
QStringList Answers(QLineEdit* field)
{
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(field);
    QStringList answers;
    for (auto t :
         {QAccessible::Name, QAccessible::Value, QAccessible::Description, QAccessible::Help})
        answers << iface->text(t);
    QAccessibleTextInterface* text = iface->textInterface();
    if (!text) return answers;
    const int count = text->characterCount();
    answers << text->text(0, count) << text->text(0, -1);
    for (int offset = 0; offset <= count; ++offset) {
        for (auto boundary :
             {QAccessible::CharBoundary, QAccessible::WordBoundary, QAccessible::SentenceBoundary,
              QAccessible::ParagraphBoundary, QAccessible::LineBoundary, QAccessible::NoBoundary}) {
            int start = 0, end = 0;
            answers << text->textAtOffset(offset, boundary, &start, &end)
                    << text->textBeforeOffset(offset, boundary, &start, &end)
                    << text->textAfterOffset(offset, boundary, &start, &end);
        }
        int start = 0, end = 0;
        answers << text->attributes(offset, &start, &end);
    }
    for (int i = 0; i < text->selectionCount(); ++i) {
        int start = 0, end = 0;
        text->selection(i, &start, &end);
        answers << text->text(start, end);
    }
    return answers;
}

QString Leaked(const QStringList& texts, const QString& secret)
{
    for (const QString& text : texts)
        for (QChar c : secret)
            if (text.contains(c)) return text;
    return {};
}

// Types into a field every way a user can change it.
void Edit(QLineEdit* field, const QString& secret)
{
    field->setFocus();
    QTest::keyClicks(field, secret);
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClick(field, Qt::Key_Left);
    QTest::keyClick(field, Qt::Key_Delete);
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier); // select all, then type over it
    QTest::keyClicks(field, secret.left(2));
    field->selectAll();
    field->insert(secret.mid(2));
    field->setText(secret);
    QTest::keyClick(field, Qt::Key_Home, Qt::ShiftModifier);
}

} // namespace

class AccessibilityTest : public QObject {
    Q_OBJECT

private slots:
    void init() { Log().clear(); }

    void passwordsNeverReachAssistiveTools()
    {
        const QString secret = QStringLiteral("QXZ#7%JK"); // none of these in the names
        Harness h;
        auto encrypt = h.Open({S(h.path(QStringLiteral("f.txt"))), "/crypt"});
        auto decrypt = h.Open({S(h.path(QStringLiteral("f.txt.ksw"))), "/encrypt"});
        for (QLineEdit* field : {Find<QLineEdit>(*encrypt, controls::Password),
                                 Find<QLineEdit>(*encrypt, controls::PasswordAgain),
                                 Find<QLineEdit>(*decrypt, controls::DecryptPassword)}) {
            Log().clear();
            QApplication::setActiveWindow(field->window());
            Edit(field, secret);

            // The field's changes were heard, as stars...
            const QList<Heard> inserted = From(field, QAccessible::TextInserted);
            QVERIFY2(!inserted.isEmpty(), qPrintable(field->objectName()));
            QCOMPARE(inserted.first().texts.first(), QStringLiteral("*"));
            QVERIFY(!From(field, QAccessible::TextRemoved).isEmpty());
            QVERIFY(!From(field, QAccessible::TextUpdated).isEmpty());
            // A value change (some bridges ask for one) carries stars as well.
            QAccessibleValueChangeEvent changed(field, secret);
            QAccessible::updateAccessibility(&changed);
            const QList<Heard> values = From(field, QAccessible::ValueChanged);
            QVERIFY(!values.isEmpty());
            QCOMPARE(values.last().texts.first(), QString(secret.size(), QLatin1Char('*')));
            // ...and no event of any kind carried a typed character.
            for (const Heard& heard : Log())
                QVERIFY2(Leaked(heard.texts, secret).isEmpty(),
                         qPrintable(QStringLiteral("%1 heard \"%2\"")
                                        .arg(field->objectName(), Leaked(heard.texts, secret))));

            // Nor does any question put to the field.
            field->selectAll();
            const QStringList answers = Answers(field);
            QVERIFY2(Leaked(answers, secret).isEmpty(), qPrintable(Leaked(answers, secret)));
            QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(field);
            QCOMPARE(iface->role(), QAccessible::EditableText);
            QVERIFY(iface->state().passwordEdit);
            QCOMPARE(iface->textInterface()->characterCount(), secret.size());
            QCOMPARE(field->text(), secret); // the field itself still holds what was typed
        }
    }

    void everyControlHasARoleAndNameAListenerUnderstands()
    {
        Harness h;
        auto encrypt = h.Open({S(h.path(QStringLiteral("f.txt"))), "/crypt"});
        auto decrypt = h.Open({S(h.path(QStringLiteral("f.txt.ksw"))), "/encrypt"});
        auto main = h.Open({});
        auto name = [](QObject* o) {
            return QAccessible::queryAccessibleInterface(o)->text(QAccessible::Name);
        };
        QCOMPARE(name(Find<QLineEdit>(*encrypt, controls::Password)),
                 QStringLiteral("Enter a password"));
        QCOMPARE(name(Find<QLineEdit>(*encrypt, controls::PasswordAgain)),
                 QStringLiteral("Verify the password"));
        QCOMPARE(name(Find<QLineEdit>(*decrypt, controls::DecryptPassword)),
                 QStringLiteral("Password"));

        // Only the window itself is a window: bars and boxes are panels, so
        // their buttons are announced when they take the focus.
        for (MainWindow* form : {encrypt.get(), decrypt.get(), main.get()}) {
            QCOMPARE(QAccessible::queryAccessibleInterface(form)->role(), QAccessible::Window);
            for (QWidget* widget : form->findChildren<QWidget*>()) {
                QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(widget);
                if (!iface) continue;
                const QAccessible::Role role = iface->role();
                QVERIFY2(role != QAccessible::Window && role != QAccessible::Border
                             && role != QAccessible::Dialog && role != QAccessible::LayeredPane,
                         qPrintable(QStringLiteral("%1 in %2")
                                        .arg(role)
                                        .arg(widget->metaObject()->className())));
                // Names as they are read out: without the padding of the captions.
                const QString spoken = iface->text(QAccessible::Name);
                QCOMPARE(spoken, spoken.trimmed());
                if (qobject_cast<BottomBar*>(widget)) QCOMPARE(role, QAccessible::Pane);
                if (auto* button = qobject_cast<QPushButton*>(widget)) {
                    QCOMPARE(role, QAccessible::Button);
                    QCOMPARE(iface->text(QAccessible::Name), button->text());
                }
            }
        }

        // The vendor's address is a link, pressed through its action.
        QAccessibleInterface* link =
            QAccessible::queryAccessibleInterface(Find<QLabel>(*main, controls::VendorLink));
        QCOMPARE(link->role(), QAccessible::Link);
        QCOMPARE(link->text(QAccessible::Name), QStringLiteral("kestrawin.example"));
        QVERIFY(link->state().focusable);
        QVERIFY(link->actionInterface()->actionNames().contains(
            QAccessibleActionInterface::pressAction()));
        link->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(h.opened, QList<QUrl>{QUrl(QStringLiteral("https://kestrawin.example/"))});
    }

    void waitingTextAndOutcomesAreAnnounced()
    {
        Harness h;
        QVERIFY(h.Write(QStringLiteral("f.txt"), "plain"));
        auto form = h.Open({S(h.path(QStringLiteral("f.txt"))), "/crypt"});
        EncryptWith(*form, QStringLiteral("password1"));
        QCOMPARE(
            QAccessible::queryAccessibleInterface(Find<QProgressBar>(*form, controls::ProgressBar))
                ->text(QAccessible::Name),
            QStringLiteral("Encryption progress"));
        QVERIFY(WaitForWork(*form));

        auto spoken = [&] {
            // A notification is spoken when it shows.
            QStringList said;
            for (const Heard& heard :
                 From(Find<QLabel>(*form, controls::OutcomeLine), QAccessible::ObjectShow))
                said << heard.name;
            return said;
        };
        QCOMPARE(QAccessible::queryAccessibleInterface(Find<QLabel>(*form, controls::OutcomeLine))
                     ->role(),
                 QAccessible::Notification);
        QCOMPARE(spoken(), (QStringList{QStringLiteral("Please wait while the file is encrypted"),
                                        QStringLiteral("Encryption completed")}));
        QCOMPARE(From(Find<QLabel>(*form, controls::OutcomeLine), QAccessible::Alert).size(), 2);
        form.reset();

        // A wrong password, and a failure with its reason.
        Log().clear();
        form = h.Open({S(h.path(QStringLiteral("f.txt.ksw"))), "/encrypt"});
        QTest::keyClicks(Find<QLineEdit>(*form, controls::DecryptPassword),
                         QStringLiteral("not it"));
        QTest::keyClick(Find<QLineEdit>(*form, controls::DecryptPassword), Qt::Key_Return);
        QVERIFY(WaitForWork(*form));
        QCOMPARE(spoken(), (QStringList{QStringLiteral("Please wait while the file is decrypted"),
                                        QStringLiteral("Invalid password!")}));
        form.reset();

        Log().clear();
        form = h.Open({S(h.path(QStringLiteral("gone.ksw"))), "/encrypt"});
        QTest::keyClicks(Find<QLineEdit>(*form, controls::DecryptPassword),
                         QStringLiteral("password1"));
        QTest::keyClick(Find<QLineEdit>(*form, controls::DecryptPassword), Qt::Key_Return);
        QVERIFY(WaitForWork(*form));
        QCOMPARE(spoken().last(), QStringLiteral("Decryption failed. The file does not exist"));
    }

    // What a screen reader says as the focus lands: the focused control's name
    // and description, after the names of the panels around it.
    void everyPageIsSpokenFromItsFirstFocusOn_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("said");
        QTest::newRow("main") << QStringList{}
                              << QStringList{"Please use the context menu",
                                             "to encrypt and decrypt your file",
                                             "kestrawin.example"};
        QTest::newRow("encrypt") << QStringList{"/x/f.txt", "/crypt"}
                                 << QStringList{"Enter a password"};
        QTest::newRow("decrypt") << QStringList{"/x/f.ksw", "/encrypt"}
                                 << QStringList{"Decryption", "Password", "Enter the password used",
                                                "to encrypt the file"};
        QTest::newRow("outcome") << QStringList{"/x/f.ksw", "/crypt"}
                                 << QStringList{"This file is encrypted"};
    }

    void everyPageIsSpokenFromItsFirstFocusOn()
    {
        QFETCH(QStringList, args);
        QFETCH(QStringList, said);
        Harness h;
        std::vector<std::string> arguments;
        for (const QString& a : args) arguments.push_back(S(a));
        auto form = h.Open(arguments);
        QWidget* first = QApplication::focusWidget();
        QVERIFY(first && form->isAncestorOf(first));
        QStringList heard;
        for (QWidget* w = first; w && w != form.get(); w = w->parentWidget()) {
            QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
            if (w == first)
                heard << iface->text(QAccessible::Name) << iface->text(QAccessible::Description);
            else if (iface->role() == QAccessible::Pane || iface->role() == QAccessible::Grouping)
                heard.prepend(iface->text(QAccessible::Name));
        }
        const QString spoken = heard.join(QLatin1Char(' '));
        for (const QString& text : said) QVERIFY2(spoken.contains(text), qPrintable(spoken));

        // The first Tab moves the focus somewhere else, and that is heard.
        Log().clear();
        QTest::keyClick(first, Qt::Key_Tab);
        QWidget* next = QApplication::focusWidget();
        QVERIFY(next != first);
        QCOMPARE(From(next, QAccessible::Focus).size(), 1);
    }

    void tabToTheSecondFieldIsAnnounced()
    {
        Harness h;
        auto form = h.Open({S(h.path(QStringLiteral("f.txt"))), "/crypt"});
        QCOMPARE(QApplication::focusWidget(), Find<QLineEdit>(*form, controls::Password));
        Log().clear();
        QTest::keyClick(Find<QLineEdit>(*form, controls::Password), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), Find<QLineEdit>(*form, controls::PasswordAgain));
        const QList<Heard> focus =
            From(Find<QLineEdit>(*form, controls::PasswordAgain), QAccessible::Focus);
        QCOMPARE(focus.size(), 1);
        QCOMPARE(focus.first().name, QStringLiteral("Verify the password"));
        // Nothing about the field comes before its focus: a screen reader that
        // hears its caret move first takes it as already focused and stays silent.
        QVERIFY(!Log().isEmpty());
        for (const Heard& heard : Log()) {
            if (heard.object != Find<QLineEdit>(*form, controls::PasswordAgain)) continue;
            QCOMPARE(heard.type, QAccessible::Focus);
            break;
        }
        // And on to the buttons, each announced by its caption.
        QTest::keyClick(Find<QLineEdit>(*form, controls::PasswordAgain), Qt::Key_Tab);
        QCOMPARE(From(Find<QPushButton>(*form, controls::EncryptButton), QAccessible::Focus).size(),
                 1);
        QCOMPARE(From(Find<QPushButton>(*form, controls::EncryptButton), QAccessible::Focus)
                     .first()
                     .name,
                 QStringLiteral("Encrypt"));
    }
};

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    style::Apply(app);
    // As when a screen reader runs: accessibility on, and a bridge listening.
    QPlatformAccessibility* platform =
        QGuiApplicationPrivate::platformIntegration()->accessibility();
    if (!platform) qFatal("no platform accessibility");
    platform->setActive(true);
    QAccessible::installUpdateHandler(&Bridge);
    AccessibilityTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "AccessibilityTest.moc"
