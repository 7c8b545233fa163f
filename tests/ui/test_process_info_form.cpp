// The "Process Info" dialog: filled when it opens, not modal, kept as it is
// while open.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

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
    EXPECT_EQ(form.size(), QSize(371, 363));

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

    // "?" leaves the dialog as it was.
    form.close();
    form.ShowForProcess("?", FieldsNamed("c"));
    EXPECT_EQ(form.Edit1->text(), "/bin/second");
    EXPECT_EQ(form.Values[0]->text(), "b0");
}

}  // namespace
}  // namespace tarnwick
