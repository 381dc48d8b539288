// The tests run on the thread of a QCoreApplication, as hosts of the Qt layer do.
#include <QCoreApplication>

#include <gtest/gtest.h>

#include <malloc.h>

int main(int argc, char** argv) {
  // The simulator's worker threads run in this process too: with an allocator arena each,
  // the soak's memory figure would show their caches rather than the library's use.
  mallopt(M_ARENA_MAX, 2);
  QCoreApplication application(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
