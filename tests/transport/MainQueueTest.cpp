// The main queue runs work later, on the application's thread, in the order posted.
#include <KOVModule/KOVQtTransport.h>

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "QtTestSupport.h"

namespace kovtest {
namespace {

TEST(QtMainQueue, RunsWorkLaterInPostingOrderOnTheApplicationThreadWhoeverPostsIt) {
  const std::shared_ptr<KOVMainQueue> queue = KOVQtTransport::mainQueue();
  std::vector<int> ran;
  std::vector<QThread*> threads;
  bool posting = true;
  bool ranWhilePosting = false;
  for (int i = 0; i < 50; ++i) {
    queue->post([&, i] {
      ranWhilePosting = ranWhilePosting || posting;
      ran.push_back(i);
      if (i == 0) queue->post([&] { ran.push_back(100); });  // queued behind all the others
    });
  }
  posting = false;
  EXPECT_TRUE(ran.empty());
  ASSERT_TRUE(waitUntil([&] { return ran.size() == 51; }));
  EXPECT_FALSE(ranWhilePosting);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(ran[static_cast<std::size_t>(i)], i);
  EXPECT_EQ(ran.back(), 100);

  ran.clear();
  std::thread worker([&] {
    for (int i = 0; i < 20; ++i) {
      queue->post([&, i] {
        ran.push_back(i);
        threads.push_back(QThread::currentThread());
      });
    }
  });
  worker.join();
  ASSERT_TRUE(waitUntil([&] { return ran.size() == 20; }));
  for (int i = 0; i < 20; ++i) EXPECT_EQ(ran[static_cast<std::size_t>(i)], i);
  for (QThread* thread : threads) EXPECT_EQ(thread, QCoreApplication::instance()->thread());
}

}  // namespace
}  // namespace kovtest
