#include <gtest/gtest.h>

#include <thread>

#include "platform/sys/sys.h"
#include "shell/services/shared_semaphore.h"

namespace {

TEST(SharedSemaphore, MutexBetweenTwoThreads) {
  SharedSemaphore* s = create_shared_semaphore(1, 1, "sound");
  ASSERT_NE(s, nullptr);
  long counter = 0;
  auto work = [&] {
    for (int i = 0; i < 100000; ++i) {
      ASSERT_EQ(wait_shared_semaphore(s, SHARED_SEMAPHORE_INFINITE), 0u);
      ++counter;
      ASSERT_EQ(release_shared_semaphore(s, 1, nullptr), 1);
    }
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(counter, 200000);
  close_shared_semaphore(s);
}

TEST(SharedSemaphore, SameNameSharesTheCount) {
  SharedSemaphore* a = create_shared_semaphore(1, 1, "disp");
  SharedSemaphore* b = create_shared_semaphore(1, 1, "disp");
  ASSERT_EQ(wait_shared_semaphore(a, 0), 0u);
  EXPECT_EQ(wait_shared_semaphore(b, 10), static_cast<uint32_t>(SYS_WAIT_TIMEOUT));
  EXPECT_EQ(release_shared_semaphore(a, 1, nullptr), 1);
  EXPECT_EQ(wait_shared_semaphore(b, 0), 0u);
  close_shared_semaphore(a);
  close_shared_semaphore(b);
}

TEST(SharedSemaphore, Refusals) {
  struct {
    int initial, maximum;
    const char* name;
    bool ok;
  } cases[] = {
      {1, 1, "sixteen_chars_ok", true}, {1, 1, "seventeen_chars_x", false}, {2, 1, nullptr, false},
      {-1, 1, nullptr, false},          {0, 0, nullptr, false},             {0, 3, nullptr, true},
  };
  for (const auto& c : cases) {
    sys_set_last_error(0);
    SharedSemaphore* s = create_shared_semaphore(c.initial, c.maximum, c.name);
    EXPECT_EQ(s != nullptr, c.ok) << c.initial << "/" << c.maximum;
    if (!c.ok) {
      EXPECT_EQ(sys_get_last_error(), static_cast<uint32_t>(SYS_ERROR_INVALID_PARAMETER));
    }
    close_shared_semaphore(s);
  }
}

TEST(SharedSemaphore, ReleasingAFullSemaphoreFailsAndKeepsTheCount) {
  SharedSemaphore* s = create_shared_semaphore(1, 1, nullptr);
  int previous = -1;
  sys_set_last_error(0);
  EXPECT_EQ(release_shared_semaphore(s, 1, &previous), 0);
  EXPECT_EQ(previous, 1);
  EXPECT_EQ(sys_get_last_error(), static_cast<uint32_t>(SYS_ERROR_INVALID_PARAMETER));
  EXPECT_EQ(release_shared_semaphore(s, -1, nullptr), 0);
  EXPECT_EQ(wait_shared_semaphore(s, 0), 0u);
  EXPECT_EQ(wait_shared_semaphore(s, 20), static_cast<uint32_t>(SYS_WAIT_TIMEOUT));
  close_shared_semaphore(s);
}

}  // namespace
