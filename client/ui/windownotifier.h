#pragma once

#include <QList>
#include <QPointer>
#include <QWidget>

// A hidden window, one per process, that hears the desktop announce composition switching on
// or off and lets the widgets with an extended frame follow.
class WindowNotifier : public QWidget
{
    Q_OBJECT
public:
    // The window system's number for "composition changed".
    static constexpr quint32 CompositionChangedMessage = 0x031E;

    // Created on first use, with its native window at once so the broadcasts reach it.
    static WindowNotifier *instance();

    void addWidget(QWidget *widget);
    QList<QWidget *> widgets() const;

    // Public so that a message can be handed in without a window system that sends one.
    bool nativeEvent(const QByteArray &eventType, void *message, qintptr *result) override;

private:
    WindowNotifier();
    void compositionChanged();

    // Guarded: a widget may go before the notifier does.
    QList<QPointer<QWidget>> m_widgets;
};

namespace Composition {

// Extends the widget's frame over its client area; the widget's background turns translucent
// on success and then follows composition changes. False, and nothing touched, when the
// desktop has no composition interface.
bool extendFrameIntoClientArea(QWidget *widget, int left, int top, int right, int bottom);

// The start-up step: with the "blurBackground" option on and composition enabled, the frame
// covers the whole window and the contents margins go. True when that was done.
bool applyTranslucentBackground(QWidget *window);

} // namespace Composition
