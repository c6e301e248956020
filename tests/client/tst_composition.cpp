#include "clienttest.h"
#include "composition.h"
#include "fakedwmapi.h"
#include "windownotifier.h"

#include <QLibrary>

using namespace ClientTest;

namespace {

// The head of a window system message, as the notifier reads it.
struct Message
{
    void *window;
    quint32 number;
};

// The stand-in library is found by name, as the real one would be: ctest points the library
// path at it.
FakeDwmState *fake()
{
    using StateCall = FakeDwmState *(*)();
    static auto call =
        reinterpret_cast<StateCall>(QLibrary(QStringLiteral("dwmapi")).resolve("fakeDwmState"));
    if (!call)
        qFatal("no stand-in dwmapi on the library path; run this test through ctest");
    return call();
}

} // namespace

class TestComposition : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        *fake() = FakeDwmState();
        resetStore();
    }

    void query_data()
    {
        QTest::addColumn<int>("enabled");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("expected");
        QTest::newRow("on") << 1 << 0 << true;
        QTest::newRow("off") << 0 << 0 << false;
        QTest::newRow("failed") << 1 << -1 << false;
    }

    void query()
    {
        QFETCH(int, enabled);
        QFETCH(int, status);
        QFETCH(bool, expected);
        fake()->enabled = enabled;
        fake()->queryStatus = status;
        QVERIFY(Composition::available());
        QCOMPARE(Composition::isCompositionEnabled(), expected);
        QCOMPARE(fake()->queries, 1);
    }

    void extendFrame_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("expected");
        QTest::newRow("extended") << 0 << true;
        QTest::newRow("refused") << int(0x80070057) << false;
    }

    void extendFrame()
    {
        QFETCH(int, status);
        QFETCH(bool, expected);
        fake()->extendStatus = status;
        QWidget widget;
        widget.setAttribute(Qt::WA_TranslucentBackground, !expected);
        QCOMPARE(Composition::extendFrameIntoClientArea(&widget, 1, 2, 3, 4), expected);
        QCOMPARE(widget.testAttribute(Qt::WA_TranslucentBackground), expected);
        QCOMPARE(fake()->window, reinterpret_cast<void *>(widget.winId()));
        QCOMPARE(QList<int>(fake()->margins, fake()->margins + 4), (QList<int>{1, 3, 2, 4}));
        QCOMPARE(WindowNotifier::instance()->widgets().contains(&widget), expected);
    }

    // Widgets of earlier tests are gone; the notifier must not reach for them.
    void notifierFollowsCompositionSwitching()
    {
        QWidget widget;
        QVERIFY(Composition::extendFrameIntoClientArea(&widget, -1, -1, -1, -1));
        WindowNotifier *notifier = WindowNotifier::instance();
        QCOMPARE(WindowNotifier::instance(), notifier);
        QVERIFY(notifier->isWindow() && notifier->isHidden() && notifier->internalWinId());
        QCOMPARE(notifier->widgets(), QList<QWidget *>{&widget});

        auto send = [&](quint32 number, int enabled) {
            fake()->enabled = enabled;
            Message message{nullptr, number};
            qintptr result = 0;
            notifier->nativeEvent("windows_generic_MSG", &message, &result);
        };
        send(WindowNotifier::CompositionChangedMessage, 1);
        QVERIFY(widget.testAttribute(Qt::WA_NoSystemBackground));
        send(WindowNotifier::CompositionChangedMessage, 0);
        QVERIFY(!widget.testAttribute(Qt::WA_NoSystemBackground));
        QCOMPARE(fake()->queries, 2);
        send(0x0010, 1); // any other message is only passed on
        QVERIFY(!widget.testAttribute(Qt::WA_NoSystemBackground));
        QCOMPARE(fake()->queries, 2);
    }

    void translucentBackgroundAtStartUp_data()
    {
        QTest::addColumn<bool>("blur");
        QTest::addColumn<int>("enabled");
        QTest::addColumn<bool>("applied");
        QTest::addColumn<int>("queries");
        QTest::newRow("option off") << false << 1 << false << 0;
        QTest::newRow("no composition") << true << 0 << false << 1;
        QTest::newRow("translucent") << true << 1 << true << 1;
    }

    void translucentBackgroundAtStartUp()
    {
        QFETCH(bool, blur);
        QFETCH(int, enabled);
        QFETCH(bool, applied);
        QFETCH(int, queries);
        Accounts::setBlurBackground(blur);
        fake()->enabled = enabled;
        QWidget window;
        window.setContentsMargins(1, 2, 3, 4);
        QCOMPARE(Composition::applyTranslucentBackground(&window), applied);
        QCOMPARE(fake()->queries, queries);
        QCOMPARE(window.testAttribute(Qt::WA_TranslucentBackground), applied);
        QCOMPARE(window.contentsMargins(), applied ? QMargins() : QMargins(1, 2, 3, 4));
        const QList<int> margins(fake()->margins, fake()->margins + 4);
        QCOMPARE(margins, applied ? QList<int>(4, -1) : QList<int>(4, 0));
    }
};

PELICARD_TEST_MAIN(TestComposition)
#include "tst_composition.moc"
