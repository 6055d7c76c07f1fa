// main() for widget tests. Like QTEST_MAIN, except that under the leak
// checker the QApplication is built with leak detection off: the offscreen
// platform plugin never frees the screen and cursor it creates there.
#pragma once

#include <QApplication>
#include <QtTest>
#include <memory>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#define ORVEX_LSAN_OFF __lsan::ScopedDisabler lsanOff
#else
#define ORVEX_LSAN_OFF
#endif

#define ORVEX_GUI_TEST_MAIN(TestObject)                                        \
    int main(int argc, char** argv)                                            \
    {                                                                          \
        std::unique_ptr<QApplication> app;                                     \
        {                                                                      \
            ORVEX_LSAN_OFF;                                                    \
            app = std::make_unique<QApplication>(argc, argv);                  \
        }                                                                      \
        app->setAttribute(Qt::AA_Use96Dpi, true);                              \
        TestObject tc;                                                         \
        QTEST_SET_MAIN_SOURCE_PATH                                             \
        return QTest::qExec(&tc, argc, argv);                                  \
    }
