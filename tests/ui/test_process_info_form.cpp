// The "Process Info" dialog: filled when it opens, not modal, kept as it is
// while open; with a look-up, open at once and filled off the window thread.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>
#include <QtTest/QTest>

#include <memory>

#include "common/thread_gate.h"
#include "ui/process_info_form.h"

namespace tarnwick {
namespace {

TProcessInfoFields FieldsNamed(const std::string& prefix) {
    TProcessInfoFields fields;
    for (size_t i = 0; i < fields.Values.size(); ++i) fields.Values[i] = prefix + std::to_string(i);
    return fields;
}

TEST(ProcessInfoFormTest, OpensWithoutModalityAndFillsEveryField) {
    QWidget main;
    main.setGeometry(100, 100, 800, 600);
    TProcessInfo_F form(&main);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.windowTitle(), "Process Info");

    form.ShowForProcess("/usr/bin/some tool", FieldsNamed("v"));
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(form.isModal());
    EXPECT_EQ(form.Label1->text(), "some tool");
    EXPECT_EQ(form.Edit1->text(), "/usr/bin/some tool");
    EXPECT_FALSE(form.Image1->pixmap().isNull());
    for (size_t i = 0; i < form.Values.size(); ++i) {
        const QLineEdit* edit = form.findChild<QLineEdit*>(QStringLiteral("Edit%1").arg(i + 2));
        ASSERT_EQ(edit, form.Values[i]);
        EXPECT_EQ(edit->text().toStdString(), "v" + std::to_string(i));
        EXPECT_TRUE(edit->isReadOnly());
        EXPECT_FALSE(edit->hasFrame());
    }
    EXPECT_EQ(form.Captions[0]->text(), "Product Name:");
    EXPECT_EQ(form.Captions[7]->text(), "File Version:");
}

TEST(ProcessInfoFormTest, KeepsItsFieldsWhileOpenAndRefillsOnReopen) {
    TProcessInfo_F form(nullptr);
    form.ShowForProcess("/bin/first", FieldsNamed("a"));
    form.ShowForProcess("/bin/second", FieldsNamed("b"));
    EXPECT_EQ(form.Edit1->text(), "/bin/first");
    EXPECT_EQ(form.Values[0]->text(), "a0");

    form.BitBtn1->click();
    EXPECT_FALSE(form.isVisible());
    form.ShowForProcess("/bin/second", FieldsNamed("b"));
    EXPECT_EQ(form.Edit1->text(), "/bin/second");
    EXPECT_EQ(form.Values[0]->text(), "b0");

    // Without an executable the dialog stays as it was.
    form.close();
    form.ShowForProcess(std::nullopt, FieldsNamed("c"));
    EXPECT_EQ(form.Edit1->text(), "/bin/second");
    EXPECT_EQ(form.Values[0]->text(), "b0");
}

// A look-up that blocks until released and tells when it has returned. Its
// gates are shared, since the look-up may outlive the test's scope.
struct TSlowLookup {
    std::shared_ptr<testing::TGate> Release = std::make_shared<testing::TGate>();
    std::shared_ptr<testing::TGate> Returned = std::make_shared<testing::TGate>();

    TProcessInfo_F::TFieldsLookup Lookup(const std::string& prefix) const {
        return [release = Release, returned = Returned, prefix](const std::string&) {
            release->Wait();
            returned->Open();
            return FieldsNamed(prefix);
        };
    }
};

TEST(ProcessInfoFormTest, OpensAtOnceAndFillsWhenTheLookupReturns) {
    TProcessInfo_F form(nullptr);
    const TSlowLookup slow;
    form.ShowForProcess("/usr/bin/slow", slow.Lookup("v"));
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.Edit1->text(), "/usr/bin/slow");
    EXPECT_EQ(form.Values[0]->text(), TProcessInfo_F::kPendingValue);

    slow.Release->Open();
    EXPECT_TRUE(QTest::qWaitFor([&] { return form.Values[0]->text() == "v0"; }, 5000));
    EXPECT_EQ(form.Values[7]->text(), "v7");
}

TEST(ProcessInfoFormTest, AReplacedLookupIsDropped) {
    TProcessInfo_F form(nullptr);
    const TSlowLookup first;
    const TSlowLookup second;
    form.ShowForProcess("/bin/first", first.Lookup("a"));
    form.close();
    form.ShowForProcess("/bin/second", second.Lookup("b"));

    second.Release->Open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.Values[0]->text() == "b0"; }, 5000));
    first.Release->Open();
    first.Returned->Wait();
    QTest::qWait(100);
    EXPECT_EQ(form.Edit1->text(), "/bin/second");
    EXPECT_EQ(form.Values[0]->text(), "b0");
}

TEST(ProcessInfoFormTest, DestroyedWhileTheLookupRunsTheLookupEndsAndLetsGoOfItsWork) {
    const TSlowLookup slow;
    {
        TProcessInfo_F form(nullptr);
        form.ShowForProcess("/usr/bin/slow", slow.Lookup("v"));
        EXPECT_EQ(form.Values[0]->text(), TProcessInfo_F::kPendingValue);
    }
    slow.Release->Open();
    // The look-up's thread held the only other copy of the work; once the
    // thread has ended, the test's is the last.
    EXPECT_TRUE(QTest::qWaitFor([&] { return slow.Release.use_count() == 1; }, 5000));
}

}  // namespace
}  // namespace tarnwick
