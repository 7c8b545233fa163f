// Widget tests run on the offscreen platform: no display needed.
#include <gtest/gtest.h>

#include <QApplication>
#include <QThreadPool>

#if defined(__SANITIZE_THREAD__)
// QtGui splits large image conversions and scalings over Qt's global thread
// pool and waits for the parts on a futex, an ordering ThreadSanitizer cannot
// see, in code without symbols to name in a suppression. Here Qt has no pool
// to offer (this definition takes the place of QtCore's for the calls QtGui
// makes), so QtGui does that work on the calling thread, where every access
// it makes through the allocator or memcpy stays visible to the tool.
QThreadPool* QThreadPool::globalInstance() { return nullptr; }
#endif

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
