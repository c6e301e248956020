#pragma once

#include <QCoreApplication>
#ifdef QT_WIDGETS_LIB
#include <QApplication>
#endif
#include <QTemporaryDir>
#include <QTest>

// Gives a test binary its own HOME and configuration folder, set before the application
// object (and with it any settings store) exists, so tests never touch a real home.
class TestHome
{
public:
    TestHome();
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
};

#define PELICARD_TEST_MAIN_IMPL(AppType, TestObject)                                               \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        TestHome home;                                                                             \
        AppType app(argc, argv);                                                                   \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                   \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }

// Widgets on the offscreen platform unless the caller chose another.
#define PELICARD_TEST_MAIN(TestObject) PELICARD_TEST_MAIN_IMPL(QApplication, TestObject)
#define PELICARD_TEST_GUILESS_MAIN(TestObject) PELICARD_TEST_MAIN_IMPL(QCoreApplication, TestObject)
