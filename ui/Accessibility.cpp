// SPDX-License-Identifier: Apache-2.0
#include "Accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>

namespace kestrawin::ui {
namespace {

QString Masked(const QString& text)
{
    // One "*" per UTF-16 unit, as the field draws them: offsets stay valid.
    return QString(text.size(), QLatin1Char('*'));
}

// The handler that was installed before ours; null when events go straight
// to the platform's bridge.
QAccessible::UpdateHandler g_next = nullptr;
bool g_installed = false;
QPointer<QObject> g_reportedFocus; // the last object whose focus was handed on

void HandOn(QAccessibleEvent* event)
{
    if (g_next) {
        g_next(event);
        return;
    }
    // With no handler installed, updateAccessibility gives the event to the
    // platform's bridge: step aside for this one event.
    QAccessible::installUpdateHandler(nullptr);
    QAccessible::updateAccessibility(event);
    QAccessible::installUpdateHandler(&FilterAccessibilityEvent);
}

// A copy of a text event from a secret field, its text masked.
template <class Event, class... Text>
void HandOnMasked(const Event& original, QObject* object, QAccessibleInterface* iface,
                  Text... texts)
{
    Event masked = object ? Event(object, original.changePosition(), Masked(texts)...)
                          : Event(iface, original.changePosition(), Masked(texts)...);
    masked.setCursorPosition(original.cursorPosition());
    HandOn(&masked);
}

class PanelInterface final : public QAccessibleWidget {
public:
    explicit PanelInterface(QWidget* widget) : QAccessibleWidget(widget, QAccessible::Pane) {}
};

class LinkInterface final : public QAccessibleWidget {
public:
    explicit LinkInterface(LinkLabel* label) : QAccessibleWidget(label, QAccessible::Link) {}

    QString text(QAccessible::Text t) const override
    {
        const auto* label = static_cast<const LinkLabel*>(widget());
        switch (t) {
        case QAccessible::Name:
            return label->accessibleName().isEmpty() ? label->linkText() : label->accessibleName();
        case QAccessible::Value:
        case QAccessible::Description: return label->address();
        default: return QAccessibleWidget::text(t);
        }
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.linked = true;
        s.focusable = true;
        return s;
    }

    QStringList actionNames() const override
    {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& action) override
    {
        if (action == pressAction())
            emit static_cast<LinkLabel*>(widget())->activated();
        else
            QAccessibleWidget::doAction(action);
    }
};

class StatusInterface final : public QAccessibleWidget {
public:
    explicit StatusInterface(QLabel* label) : QAccessibleWidget(label, QAccessible::Notification) {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name) {
            const auto* label = static_cast<const QLabel*>(widget());
            QString shown = label->text();
            shown.replace(QLatin1Char('\n'), QStringLiteral(". ")); // a pause between the lines
            return shown;
        }
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* Factory(const QString& key, QObject* object)
{
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget) return nullptr;
    // Pages that show one at a time are one plain panel, not a "layered pane".
    if (key == QLatin1String(BottomBar::staticMetaObject.className())
        || key == QLatin1String(TextPane::staticMetaObject.className())
        || key == QLatin1String("QStackedWidget"))
        return new PanelInterface(widget);
    // A plain top-level widget is a window (the toolkit calls it a client area).
    if (key == QLatin1String("QWidget") && widget->isWindow())
        return new QAccessibleWidget(widget, QAccessible::Window);
    if (key == QLatin1String(LinkLabel::staticMetaObject.className()))
        return new LinkInterface(static_cast<LinkLabel*>(widget));
    if (key == QLatin1String(StatusLabel::staticMetaObject.className()))
        return new StatusInterface(static_cast<QLabel*>(widget));
    return nullptr;
}

} // namespace

bool IsSecretField(const QObject* object)
{
    const auto* field = qobject_cast<const QLineEdit*>(object);
    return field && field->echoMode() != QLineEdit::Normal;
}

void FilterAccessibilityEvent(QAccessibleEvent* event)
{
    QObject* object = event->object();
    QAccessibleInterface* iface = object ? nullptr : event->accessibleInterface();
    QObject* source = object ? object : iface ? iface->object() : nullptr;

    // A field taking the focus moves its caret before the toolkit reports the
    // focus. A screen reader hearing the caret first takes the field as
    // focused already and then stays silent about it: caret and selection
    // news only count for the field whose focus has been reported.
    if (event->type() == QAccessible::Focus) g_reportedFocus = source;
    if ((event->type() == QAccessible::TextCaretMoved
         || event->type() == QAccessible::TextSelectionChanged)
        && source && source != g_reportedFocus)
        return;

    const bool secret = IsSecretField(source) || (iface && iface->state().passwordEdit);
    if (!secret) {
        HandOn(event);
        return;
    }
    switch (event->type()) {
    case QAccessible::TextInserted: {
        const auto& e = *static_cast<QAccessibleTextInsertEvent*>(event);
        HandOnMasked(e, object, iface, e.textInserted());
        return;
    }
    case QAccessible::TextRemoved: {
        const auto& e = *static_cast<QAccessibleTextRemoveEvent*>(event);
        HandOnMasked(e, object, iface, e.textRemoved());
        return;
    }
    case QAccessible::TextUpdated: {
        const auto& e = *static_cast<QAccessibleTextUpdateEvent*>(event);
        HandOnMasked(e, object, iface, e.textRemoved(), e.textInserted());
        return;
    }
    case QAccessible::ValueChanged: {
        const auto& e = *static_cast<QAccessibleValueChangeEvent*>(event);
        QAccessibleValueChangeEvent masked = object
                                                 ? QAccessibleValueChangeEvent(object, QVariant())
                                                 : QAccessibleValueChangeEvent(iface, QVariant());
        if (e.value().canConvert<QString>()) masked.setValue(Masked(e.value().toString()));
        HandOn(&masked);
        return;
    }
    default:
        HandOn(event); // focus, caret, selection, state: no text
        return;
    }
}

void InstallAccessibility()
{
    if (g_installed) return;
    g_installed = true;
    QAccessible::installFactory(&Factory);
    g_next = QAccessible::installUpdateHandler(&FilterAccessibilityEvent);
}

bool IsPress(const QKeyEvent* event)
{
    const int key = event->key();
    return (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space)
           && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier
           && !event->isAutoRepeat();
}

BottomBar::BottomBar(QWidget* parent) : QFrame(parent) {}

TextPane::TextPane(QWidget* parent) : QWidget(parent) {}

LinkLabel::LinkLabel(QWidget* parent) : QLabel(parent)
{
    setTextFormat(Qt::RichText);
    // The mouse follows the link or selects its text. Not the keyboard: Tab
    // would walk into the label's anchor and back without moving the focus,
    // unheard; Enter and Space are handled below.
    setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::TextSelectableByMouse);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    connect(this, &QLabel::linkActivated, this, &LinkLabel::activated);
}

void LinkLabel::setLink(const QString& address, const QString& text)
{
    address_ = address;
    linkText_ = text;
    // The colour goes into the markup: links otherwise take the application's.
    setText(QStringLiteral("<a href=\"%1\" style=\"color:%3; text-decoration:underline\">%2</a>")
                .arg(address.toHtmlEscaped(), text.toHtmlEscaped(),
                     palette().color(QPalette::Link).name()));
}

void LinkLabel::keyPressEvent(QKeyEvent* event)
{
    if (IsPress(event)) {
        event->accept();
        emit activated();
        return;
    }
    QLabel::keyPressEvent(event);
}

void LinkLabel::paintEvent(QPaintEvent* event)
{
    QLabel::paintEvent(event);
    if (!hasFocus()) return;
    QPainter painter(this);
    painter.setPen(QPen(palette().color(QPalette::Link), 1, Qt::DotLine));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

StatusLabel::StatusLabel(QWidget* parent) : QLabel(parent)
{
    setFocusPolicy(Qt::StrongFocus);
}

void StatusLabel::paintEvent(QPaintEvent* event)
{
    QLabel::paintEvent(event);
    if (!hasFocus()) return;
    QPainter painter(this);
    painter.setPen(QPen(palette().color(QPalette::WindowText), 1, Qt::DotLine));
    painter.drawRect(rect().adjusted(2, 2, -3, -3));
}

void StatusLabel::setStatus(const QString& text)
{
    const bool inView = isVisible();
    setText(text);
    // Screen readers speak a notification when it is shown: a label coming
    // into view is shown by the toolkit, one already in view is shown anew.
    if (inView) {
        QAccessibleEvent shown(this, QAccessible::ObjectShow);
        QAccessible::updateAccessibility(&shown);
    }
    // For bridges that present alerts rather than notifications.
    QAccessibleEvent alert(this, QAccessible::Alert);
    QAccessible::updateAccessibility(&alert);
}

} // namespace kestrawin::ui
