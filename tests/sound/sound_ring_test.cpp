// The sound command ring and its worker, with a recording handler in place
// of the sound manager.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "sound/sound_command.h"

namespace {

std::mutex seen_lock;
std::vector<SoundCommand> seen;
std::atomic<int> handler_delay_ms{0};

void record(const SoundCommand& c) {
  if (int ms = handler_delay_ms.load()) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  std::lock_guard<std::mutex> g(seen_lock);
  seen.push_back(c);
}

std::vector<SoundCommand> taken() {
  std::lock_guard<std::mutex> g(seen_lock);
  return seen;
}

class SoundRing : public ::testing::Test {
 protected:
  void SetUp() override {
    {
      std::lock_guard<std::mutex> g(seen_lock);
      seen.clear();
    }
    handler_delay_ms = 0;
    ASSERT_TRUE(sound_thread_start(record));
  }
  void TearDown() override { sound_thread_stop(); }
};

TEST_F(SoundRing, TwentyCommandsRunInOrder) {
  for (uint32_t i = 0; i < 20; ++i) EXPECT_EQ(sound_post_command(SOUND_OP_PLAY_SE, i), 1);
  ASSERT_TRUE(sound_thread_wait_idle(5000));
  std::vector<SoundCommand> got = taken();
  ASSERT_EQ(got.size(), 20u);
  for (uint32_t i = 0; i < 20; ++i) EXPECT_EQ(got[i].id, i);
}

TEST_F(SoundRing, PosterWaitsForRoomInsteadOfDropping) {
  handler_delay_ms = 5;  // the worker falls behind; posters must wait, not drop
  for (uint32_t i = 0; i < 40; ++i) ASSERT_EQ(sound_post_command(SOUND_OP_PLAY_SE, i), 1);
  ASSERT_TRUE(sound_thread_wait_idle(10000));
  EXPECT_EQ(taken().size(), 40u);
}

TEST_F(SoundRing, IgnoredOpcodesAdvanceTheRing) {
  sound_post_simple(31);
  sound_post_simple(SOUND_OP_COUNT);
  sound_post_simple(SOUND_OP_NOTHING);
  sound_post_command(SOUND_OP_STOP_BGM, 0);
  ASSERT_TRUE(sound_thread_wait_idle(5000));
  std::vector<SoundCommand> got = taken();
  ASSERT_EQ(got.size(), 2u);  // 30 and above never reach the handler
  EXPECT_EQ(got[0].opcode, SOUND_OP_NOTHING);
  EXPECT_EQ(got[1].opcode, SOUND_OP_STOP_BGM);
}

TEST_F(SoundRing, EachFormCarriesItsFieldsAndNothingStale) {
  const float at[3] = {1.5f, -2.0f, 3.25f};
  sound_post_command_at_value(SOUND_OP_PLAY_SE_AT_FROM, 7, at, 0.25f);
  sound_post_command_at(SOUND_OP_PLAY_SE_AT, 3, nullptr);
  sound_post_command_extra(SOUND_OP_SE_FREQUENCY, 2, 22050);
  sound_post_command_int(SOUND_OP_NOTHING, 4, -9);
  sound_post_command_value(SOUND_OP_SE_VOLUME, 5, 0.5f);
  sound_post_value(SOUND_OP_BGM_VOLUME, 0.75f);
  ASSERT_TRUE(sound_thread_wait_idle(5000));
  std::vector<SoundCommand> got = taken();
  ASSERT_EQ(got.size(), 6u);
  EXPECT_EQ(got[0].id, 7u);
  EXPECT_EQ(got[0].has_position, 1u);
  EXPECT_EQ(got[0].x, 1.5f);
  EXPECT_EQ(got[0].y, -2.0f);
  EXPECT_EQ(got[0].z, 3.25f);
  EXPECT_EQ(got[0].value, 0.25f);
  EXPECT_EQ(got[1].has_position, 0u);
  EXPECT_EQ(got[1].x, 0.0f);
  EXPECT_EQ(got[2].extra, 22050u);
  EXPECT_EQ(got[3].integer, -9);
  EXPECT_EQ(got[4].value, 0.5f);
  EXPECT_EQ(got[4].id, 5u);
  EXPECT_EQ(got[5].value, 0.75f);
  EXPECT_EQ(got[5].id, 0u);  // a fresh slot, not the id of an earlier command
}

TEST_F(SoundRing, TwoPostersLoseNothing) {
  handler_delay_ms = 1;
  auto poster = [](uint32_t base) {
    for (uint32_t i = 0; i < 150; ++i) sound_post_command(SOUND_OP_PLAY_SE, base + i);
  };
  std::thread a(poster, 0), b(poster, 1000);
  a.join();
  b.join();
  ASSERT_TRUE(sound_thread_wait_idle(20000));
  std::vector<SoundCommand> got = taken();
  ASSERT_EQ(got.size(), 300u);
  uint32_t next[2] = {0, 1000};
  for (const SoundCommand& c : got) {
    uint32_t& n = next[c.id >= 1000 ? 1 : 0];
    EXPECT_EQ(c.id, n);  // each poster's commands keep their order
    n = c.id + 1;
  }
}

TEST_F(SoundRing, StopRunsWhatWasPendingThenNothingMore) {
  handler_delay_ms = 2;
  for (uint32_t i = 0; i < 10; ++i) sound_post_command(SOUND_OP_PLAY_SE, i);
  sound_thread_stop();
  EXPECT_EQ(taken().size(), 10u);
  EXPECT_FALSE(sound_thread_running());
  EXPECT_EQ(sound_post_command(SOUND_OP_PLAY_SE, 99), 0);  // refused at once, never waits
  for (int i = 0; i < 20; ++i) EXPECT_EQ(sound_post_simple(SOUND_OP_STOP_BGM), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(taken().size(), 10u);
}

TEST_F(SoundRing, AbortDropsWhatIsPending) {
  handler_delay_ms = 20;
  for (uint32_t i = 0; i < 10; ++i) sound_post_command(SOUND_OP_PLAY_SE, i);
  sound_thread_abort();
  EXPECT_LT(taken().size(), 10u);
  EXPECT_EQ(sound_post_command(SOUND_OP_PLAY_SE, 99), 0);
}

// A handler that holds the worker inside the first command until the gate
// opens, so the test knows exactly how many commands are pending.
std::atomic<bool> gate_open{true};
std::atomic<int> gate_entered{0};

void gated_record(const SoundCommand& c) {
  gate_entered.fetch_add(1);
  while (!gate_open.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  record(c);
}

bool wait_for(const std::atomic<int>& value, int at_least) {
  for (int i = 0; i < 5000 && value.load() < at_least; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return value.load() >= at_least;
}

TEST_F(SoundRing, APosterWaitsOnceFourteenArePendingAndLosesNothing) {
  sound_thread_stop();
  gate_open = false;
  gate_entered = 0;
  ASSERT_TRUE(sound_thread_start(gated_record));
  // The command in the handler still counts as pending: 13 more fit, the
  // 15th waits until the worker moves on.
  std::atomic<int> posted{0};
  std::thread poster([&] {
    for (uint32_t i = 0; i < 16; ++i) {
      EXPECT_EQ(sound_post_command(SOUND_OP_PLAY_SE, i), 1) << i;
      posted.fetch_add(1);
      if (i == 0) wait_for(gate_entered, 1);
    }
  });
  EXPECT_TRUE(wait_for(posted, SOUND_RING_ROOM));
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  EXPECT_EQ(posted.load(), SOUND_RING_ROOM) << "with 14 pending the 15th post waits";
  gate_open = true;  // opened before any assertion can end the test
  poster.join();
  ASSERT_TRUE(sound_thread_wait_idle(5000));
  std::vector<SoundCommand> got = taken();
  ASSERT_EQ(got.size(), 16u);
  for (uint32_t i = 0; i < 16; ++i) EXPECT_EQ(got[i].id, i);
}

// The worker posting to itself never waits: it fills the ring to its last
// slot and drops what does not fit, in order.
std::vector<int> worker_post_results;

void posting_handler(const SoundCommand& c) {
  if (c.id == 1000)
    for (uint32_t i = 0; i < SOUND_RING_SLOTS + 2; ++i)
      worker_post_results.push_back(sound_post_command(SOUND_OP_PLAY_SE, i));
  record(c);
}

TEST_F(SoundRing, TheWorkerFillsEverySlotThenDrops) {
  sound_thread_stop();
  worker_post_results.clear();
  ASSERT_TRUE(sound_thread_start(posting_handler));
  ASSERT_EQ(sound_post_command(SOUND_OP_PLAY_SE, 1000), 1);
  ASSERT_TRUE(sound_thread_wait_idle(5000));
  sound_thread_stop();
  // The running command holds one slot: slots - 1 more are taken.
  std::vector<int> expect(SOUND_RING_SLOTS + 2, 0);
  for (int i = 0; i < SOUND_RING_SLOTS - 1; ++i) expect[i] = 1;
  EXPECT_EQ(worker_post_results, expect);
  std::vector<SoundCommand> got = taken();
  ASSERT_EQ(got.size(), static_cast<size_t>(SOUND_RING_SLOTS));
  EXPECT_EQ(got[0].id, 1000u);
  for (uint32_t i = 1; i < got.size(); ++i) EXPECT_EQ(got[i].id, i - 1);
}

TEST_F(SoundRing, ARestartAfterAnAbortRunsOnlyNewCommands) {
  handler_delay_ms = 20;
  for (uint32_t i = 0; i < 10; ++i) sound_post_command(SOUND_OP_PLAY_SE, i);
  sound_thread_abort();
  const size_t ran = taken().size();
  ASSERT_LT(ran, 10u);
  handler_delay_ms = 0;
  // Twice, so the second run starts with the read and write places the first
  // one left behind.
  for (uint32_t round = 0; round < 2; ++round) {
    ASSERT_TRUE(sound_thread_start(record));
    EXPECT_TRUE(sound_thread_running());
    for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(sound_post_command(SOUND_OP_STOP_SE, 500 + i), 1);
    ASSERT_TRUE(sound_thread_wait_idle(5000));
    std::vector<SoundCommand> got = taken();
    ASSERT_EQ(got.size(), ran + 3 * (round + 1)) << "nothing left from the aborted run";
    for (uint32_t i = 0; i < 3; ++i) {
      EXPECT_EQ(got[ran + 3 * round + i].opcode, static_cast<uint32_t>(SOUND_OP_STOP_SE));
      EXPECT_EQ(got[ran + 3 * round + i].id, 500 + i);
    }
    sound_thread_stop();
  }
}

TEST(SoundRingIdle, PostingWithoutAWorkerReturnsAtOnce) {
  sound_thread_stop();
  for (int i = 0; i < 20; ++i) EXPECT_EQ(sound_post_command(SOUND_OP_PLAY_BGM, SOUND_ID_BGM), 0);
  EXPECT_TRUE(sound_thread_wait_idle(0));
}

}  // namespace
