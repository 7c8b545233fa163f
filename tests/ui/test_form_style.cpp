// Where the shared form helpers put a form.
#include "ui/form_style.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace tarnwick {
namespace {

TEST(FormStyle, CentresOnTheWorkAreaOrOverTheOwner) {
    QWidget form;
    form.resize(201, 101);
    CentreOnScreen(form);
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(form.frameGeometry().center(), area.center());

    QWidget owner;
    owner.setGeometry(100, 50, 400, 300);
    CentreOn(form, owner);
    EXPECT_EQ(form.pos(), QPoint(100 + (400 - 201) / 2, 50 + (300 - 101) / 2));
}

}  // namespace
}  // namespace tarnwick
