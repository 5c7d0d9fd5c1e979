#pragma once
// The main of a window test: a QApplication (offscreen unless told otherwise) around the
// tests, and small helpers for finding the windows' parts by name.
#include <cstdlib>

#include <QApplication>
#include <QWidget>
#include <gtest/gtest.h>

namespace chronoreel::testing {

// The named child, failing the test when it is missing.
template <typename T>
T* Child(const QObject* parent, const QString& name) {
  T* child = parent->findChild<T*>(name);
  EXPECT_NE(child, nullptr) << "no " << name.toStdString();
  return child;
}

inline QWidget* VisibleTopLevel(const QString& name) {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->objectName() == name && widget->isVisible()) return widget;
  }
  return nullptr;
}

}  // namespace chronoreel::testing

#define CHRONOREEL_UI_TEST_MAIN                             \
  int main(int argc, char** argv) {                         \
    setenv("QT_QPA_PLATFORM", "offscreen", 0);              \
    QApplication app(argc, argv);                           \
    ::testing::InitGoogleTest(&argc, argv);                 \
    return RUN_ALL_TESTS();                                 \
  }
