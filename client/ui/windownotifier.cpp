#include "windownotifier.h"

#include "accounts.h"
#include "composition.h"

namespace {

// The head of the window system's message record: the window, then the message number.
struct MessageHead
{
    void *window;
    quint32 message;
};

} // namespace

WindowNotifier::WindowNotifier()
{
    setObjectName(QStringLiteral("windowNotifier"));
}

WindowNotifier *WindowNotifier::instance()
{
    // Lives until the process ends, as the widgets it serves do.
    static QPointer<WindowNotifier> notifier;
    if (!notifier) {
        notifier = new WindowNotifier;
        notifier->winId();
    }
    return notifier;
}

void WindowNotifier::addWidget(QWidget *widget)
{
    m_widgets.append(widget);
}

QList<QWidget *> WindowNotifier::widgets() const
{
    QList<QWidget *> alive;
    for (const QPointer<QWidget> &widget : m_widgets)
        if (widget)
            alive.append(widget);
    return alive;
}

bool WindowNotifier::nativeEvent(const QByteArray &eventType, void *message, qintptr *result)
{
    if (eventType == "windows_generic_MSG" &&
        static_cast<const MessageHead *>(message)->message == CompositionChangedMessage)
        compositionChanged();
    return QWidget::nativeEvent(eventType, message, result);
}

void WindowNotifier::compositionChanged()
{
    const bool enabled = Composition::isCompositionEnabled();
    for (QWidget *widget : widgets()) {
        widget->setAttribute(Qt::WA_NoSystemBackground, enabled);
        widget->update();
    }
}

namespace Composition {

bool extendFrameIntoClientArea(QWidget *widget, int left, int top, int right, int bottom)
{
    if (!available())
        return false;
    const bool extended = extendFrameIntoClientArea(widget->winId(), left, top, right, bottom);
    if (extended)
        WindowNotifier::instance()->addWidget(widget);
    widget->setAttribute(Qt::WA_TranslucentBackground, extended);
    return extended;
}

bool applyTranslucentBackground(QWidget *window)
{
    if (!Accounts::blurBackground() || !isCompositionEnabled())
        return false;
    extendFrameIntoClientArea(window, -1, -1, -1, -1);
    window->setContentsMargins(0, 0, 0, 0);
    return true;
}

} // namespace Composition
