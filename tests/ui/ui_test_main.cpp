// Widget tests run on the offscreen platform: no display needed.
#include <gtest/gtest.h>

#include <QApplication>
#include <QThreadPool>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
#if defined(__SANITIZE_THREAD__)
    // QtGui splits large image conversions over Qt's global thread pool, whose
    // threads then share its queue under a futex that ThreadSanitizer cannot
    // see, in code without symbols to suppress by name. One pool thread keeps
    // the pool from racing with itself; see tests/tsan.supp for the rest.
    QThreadPool::globalInstance()->setMaxThreadCount(1);
#endif
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
