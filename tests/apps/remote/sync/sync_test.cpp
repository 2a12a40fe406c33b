#include <poll.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "apps/remote/src/sync/bounded_queue.hpp"
#include "apps/remote/src/sync/latest_slot.hpp"
#include "apps/remote/src/sync/named_thread.hpp"
#include "apps/remote/src/sync/oneshot.hpp"

using namespace std::chrono_literals;

namespace {

namespace sync = remote::sync;

bool readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

TEST(BoundedQueue, FullThenClosedFromEitherSide) {
  auto [tx, rx] = sync::bounded_queue<int>(2);
  EXPECT_TRUE(tx.try_send(1));
  EXPECT_TRUE(tx.try_send(2));
  EXPECT_EQ(tx.try_send(3).error(), sync::SendError::Full);
  EXPECT_EQ(rx.try_recv().value(), 1);
  EXPECT_TRUE(tx.try_send(3));

  // Senders gone: what was queued is still delivered, then Closed.
  tx.reset();
  EXPECT_EQ(rx.try_recv().value(), 2);
  EXPECT_EQ(rx.recv().value(), 3);
  EXPECT_EQ(rx.try_recv().error(), sync::RecvError::Closed);
  EXPECT_FALSE(rx.recv().has_value());

  auto [tx2, rx2] = sync::bounded_queue<int>(1);
  EXPECT_EQ(rx2.try_recv().error(), sync::RecvError::Empty);
  rx2.close();
  EXPECT_EQ(tx2.try_send(1).error(), sync::SendError::Closed);
  EXPECT_TRUE(tx2.is_closed());
}

TEST(BoundedQueue, CopiedSendersKeepItOpenUntilTheLastGoes) {
  auto [tx, rx] = sync::bounded_queue<std::string>(4);
  {
    auto copy = tx;
    tx.reset();
    EXPECT_EQ(rx.try_recv().error(), sync::RecvError::Empty);
    EXPECT_TRUE(copy.try_send("x"));
  }
  EXPECT_EQ(rx.try_recv().value(), "x");
  EXPECT_EQ(rx.try_recv().error(), sync::RecvError::Closed);
}

TEST(BoundedQueue, BlockingSendWaitsForRoomAndEndsOnClose) {
  auto [tx, rx] = sync::bounded_queue<int>(1);
  ASSERT_TRUE(tx.try_send(0));
  std::atomic<int> progress{0};
  std::thread worker([&, tx = tx]() mutable {
    if (tx.send_blocking(1)) progress = 1;   // waits for the 0 to be taken
    if (!tx.send_blocking(2)) progress = 2;  // waits until the receiver closes
  });
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(progress.load(), 0);
  EXPECT_EQ(rx.recv().value(), 0);
  while (progress.load() != 1) std::this_thread::yield();
  // The 1 fills the queue, so the second send blocks until the close.
  std::this_thread::sleep_for(5ms);
  rx.close();
  worker.join();
  EXPECT_EQ(progress.load(), 2);
  EXPECT_EQ(tx.send_for(5, 1ms).error(), sync::SendError::Closed);
}

TEST(BoundedQueue, WakeFdSignalsSendsAndTheLastSenderLeaving) {
  auto [tx, rx] = sync::bounded_queue<int>(4);
  ASSERT_GE(rx.wake_fd(), 0);
  EXPECT_FALSE(readable(rx.wake_fd()));
  ASSERT_TRUE(tx.try_send(7));
  EXPECT_TRUE(readable(rx.wake_fd()));
  rx.drain_wake();
  EXPECT_FALSE(readable(rx.wake_fd()));
  tx.reset();
  EXPECT_TRUE(readable(rx.wake_fd()));
  EXPECT_EQ(rx.recv_for(1ms).value(), 7);
  EXPECT_EQ(rx.recv_for(1ms).error(), sync::RecvError::Closed);
}

TEST(BoundedQueue, ItemsOwningOtherQueueEndsAreDroppedSafely) {
  // An acknowledgement sender inside a queued item: closing the queue must
  // close the acknowledgement too, without deadlock.
  auto [tx, rx] = sync::bounded_queue<sync::OneshotSender<int>>(2);
  auto [ack_tx, ack_rx] = sync::oneshot<int>();
  ASSERT_TRUE(tx.try_send(std::move(ack_tx)));
  rx.close();
  EXPECT_EQ(ack_rx.try_recv().error(), sync::RecvError::Closed);
}

TEST(Oneshot, DeliversOnceAndClosesWhenDropped) {
  {
    auto [tx, rx] = sync::oneshot<int>();
    EXPECT_EQ(rx.try_recv().error(), sync::RecvError::Empty);
    EXPECT_TRUE(tx.send(5));
    EXPECT_EQ(rx.try_recv().value(), 5);
    EXPECT_EQ(rx.try_recv().error(), sync::RecvError::Closed);
  }
  {
    auto [tx, rx] = sync::oneshot<int>();
    std::thread t([tx = std::move(tx)]() mutable { std::this_thread::sleep_for(5ms); });
    EXPECT_FALSE(rx.recv().has_value());
    t.join();
  }
  {
    auto [tx, rx] = sync::oneshot<int>();
    { auto gone = std::move(rx); }
    EXPECT_TRUE(tx.is_closed());
    EXPECT_FALSE(tx.send(1));
  }
}

TEST(LatestSlot, NewestWinsAndTakeEmpties) {
  auto slot = std::make_shared<sync::LatestSlot<std::string>>();
  EXPECT_FALSE(slot->get());
  slot->set("a");
  slot->set("b");
  EXPECT_EQ(slot->get().value(), "b");
  EXPECT_EQ(slot->take().value(), "b");
  EXPECT_FALSE(slot->take());
}

TEST(NamedThread, NameIsCutToFifteenBytesAndExceptionsStayInside) {
  EXPECT_EQ(sync::system_thread_name("remote-vesk-decode"), "remote-vesk-dec");
  EXPECT_EQ(sync::system_thread_name("remote-ssh"), "remote-ssh");
  // A multibyte character straddling the cut is dropped whole.
  EXPECT_EQ(sync::system_thread_name("abcdefghijklmn\xC3\xA9"), "abcdefghijklmn");

  auto [tx, rx] = sync::oneshot<std::string>();
  auto started =
      sync::spawn_named("remote-vesk-decode", [tx = std::make_shared<sync::OneshotSender<std::string>>(std::move(tx))] {
        char name[32] = {};
        pthread_getname_np(pthread_self(), name, sizeof name);
        tx->send(name);
        throw std::runtime_error("worker failure stays in its thread");
      });
  ASSERT_TRUE(started);
  EXPECT_EQ(rx.recv().value(), "remote-vesk-dec");
  EXPECT_TRUE(sync::wait_for_workers(5s));
  EXPECT_EQ(sync::running_workers(), 0u);
}

TEST(NamedThread, ExitWaitsForAWorkerToFinish) {
  // A worker still saying goodbye when the process exits finishes first.
  const auto marker = std::filesystem::path(::testing::TempDir()) / ("worker-finished-" + std::to_string(::getpid()));
  std::filesystem::remove(marker);
  EXPECT_EXIT(
      {
        (void)sync::spawn_named("remote-goodbye", [marker] {
          std::this_thread::sleep_for(300ms);
          std::ofstream(marker) << "done";
        });
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_TRUE(std::filesystem::exists(marker));
  std::filesystem::remove(marker);

  // One that never ends holds the exit back only for a bounded time.
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EXIT(
      {
        (void)sync::spawn_named("remote-stuck", [] { std::this_thread::sleep_for(1h); });
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "still running at exit");
  EXPECT_LT(std::chrono::steady_clock::now() - started, sync::kExitWaitForWorkers + 5s);
}

}  // namespace
