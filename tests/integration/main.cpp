#include <gtest/gtest.h>

#include <QCoreApplication>

// QProcess waits on the Qt event loop, which needs an application object.
int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
