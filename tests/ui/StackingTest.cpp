// SPDX-License-Identifier: Apache-2.0
// The real message boxes on a real X server with a window manager: each must
// be stacked above the always-on-top window that it blocks.

#include "Harness.h"

#include "base/Words.h"
#include "ui/Style.h"

#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>

using namespace kestrawin;
using namespace kestrawin::ui;
using namespace kestrawin::ui::testing;

namespace {

QString RootProperty(const QString& name)
{
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"), {QStringLiteral("-root"), name});
    return xprop.waitForFinished(10000) ? QString::fromLocal8Bit(xprop.readAllStandardOutput())
                                        : QString();
}

// The window manager's stacking order, bottom to top.
QList<WId> StackingOrder()
{
    QList<WId> order;
    const QString out = RootProperty(QStringLiteral("_NET_CLIENT_LIST_STACKING"));
    static const QRegularExpression id(QStringLiteral("0x[0-9a-fA-F]+"));
    for (auto it = id.globalMatch(out); it.hasNext();)
        order << it.next().captured().toULong(nullptr, 16);
    return order;
}

// Runs `trigger`, which opens a box, and reports whether the box ended up
// above the window; then answers it.
bool OpensAbove(MainWindow& form, const std::function<void()>& trigger, QString* boxText)
{
    bool above = false;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) return;
        poll.stop();
        *boxText = box->text();
        // Give the window manager time to settle, then look.
        for (int i = 0; i < 100 && !above; ++i) {
            QTest::qWait(50);
            const QList<WId> order = StackingOrder();
            const auto window = order.indexOf(form.winId());
            const auto dialog = order.indexOf(box->winId());
            above = window >= 0 && dialog > window;
        }
        box->done(QMessageBox::No);
    });
    poll.start();
    trigger();
    poll.stop();
    return above;
}

} // namespace

class StackingTest : public QObject {
    Q_OBJECT

private slots:
    void messageBoxesStayAboveTheWindow()
    {
        if (!RootProperty(QStringLiteral("_NET_SUPPORTED"))
                 .contains(QStringLiteral("_NET_CLIENT_LIST_STACKING")))
            QSKIP("no window manager that reports its stacking order");
        Harness h;
        WindowEnvironment env = h.Environment({S(h.path(QStringLiteral("f.txt"))), "/crypt"});
        DialogMessageBoxes boxes(nullptr); // the real boxes, made as the program makes them
        env.messages = &boxes;
        MainWindow form(env);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTest::qWait(300);

        QString text;
        QVERIFY(OpensAbove(
            form, [&] { Find<QPushButton>(form, controls::EncryptButton)->click(); }, &text));
        QCOMPARE(text, QStringLiteral("You have not entered a password!"));

        Find<QLineEdit>(form, controls::Password)->setText(QStringLiteral("one"));
        QVERIFY(OpensAbove(
            form, [&] { Find<QPushButton>(form, controls::EncryptButton)->click(); }, &text));
        QCOMPARE(
            text,
            QStringLiteral(
                "You have entered two different passwords.\nPlease make sure the password match."));

        Find<QLineEdit>(form, controls::PasswordAgain)->setText(QStringLiteral("one"));
        QVERIFY(OpensAbove(
            form, [&] { Find<QPushButton>(form, controls::EncryptButton)->click(); },
            &text)); // answered No
        QCOMPARE(text.left(40), QStringLiteral("You have entered a password which has le"));
        QCOMPARE(form.currentPage(), 1);
    }
};

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    style::Apply(app);
    StackingTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "StackingTest.moc"
