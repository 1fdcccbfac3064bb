#pragma once

#include <QString>

// Points HOME and every XDG directory at a fresh temporary folder, so that nothing a test
// does touches the real user's files. Call before the QCoreApplication is constructed.
namespace TestEnvironment {
// Returns the temporary root; it is removed when the process exits.
QString isolate();
// The root chosen by isolate().
QString root();
} // namespace TestEnvironment

// Like QTEST_MAIN / QTEST_GUILESS_MAIN, but isolates the environment first.
#define BRAMBLE_TEST_MAIN_IMPL(TestObject, AppType)                                                          \
    int main(int argc, char **argv)                                                                          \
    {                                                                                                        \
        TestEnvironment::isolate();                                                                          \
        AppType app(argc, argv);                                                                             \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                             \
        TestObject tc;                                                                                       \
        QTEST_SET_MAIN_SOURCE_PATH                                                                           \
        return QTest::qExec(&tc, argc, argv);                                                                \
    }

#define BRAMBLE_TEST_MAIN(TestObject) BRAMBLE_TEST_MAIN_IMPL(TestObject, QApplication)
#define BRAMBLE_TEST_GUI_MAIN(TestObject) BRAMBLE_TEST_MAIN_IMPL(TestObject, QGuiApplication)
#define BRAMBLE_TEST_CORE_MAIN(TestObject) BRAMBLE_TEST_MAIN_IMPL(TestObject, QCoreApplication)
