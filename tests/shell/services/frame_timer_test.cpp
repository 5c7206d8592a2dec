#include <gtest/gtest.h>

#include <vector>

#include "shell/services/frame_timer.h"
#include "shell/services/startup_config.h"
#include "temp_dir.h"

namespace {

// A clock that only moves when the code under test sleeps, or when the test
// moves it: counts are microseconds.
struct FakeClock {
  static inline uint64_t us = 0;
  static inline std::vector<uint32_t> sleeps;
  static inline std::vector<int64_t> wakes;  // targets of sleeps to a count
  static inline int64_t counts_per_second = 1000000;
  static uint32_t ms() { return static_cast<uint32_t>(us / 1000); }
  static int64_t counter() { return static_cast<int64_t>(us); }
  static int64_t frequency() { return counts_per_second; }
  static void sleep(uint32_t n) {
    sleeps.push_back(n);
    us += n ? n * 1000ull : 50;  // a yield lets 50 us pass
  }
  static void sleep_until(int64_t counter) {
    wakes.push_back(counter);
    us = static_cast<uint64_t>(counter);
  }
};

const FrameClock kFake = {FakeClock::ms, FakeClock::counter, FakeClock::frequency, FakeClock::sleep,
                          FakeClock::sleep_until};

class FrameTimerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FakeClock::us = 1000000;
    FakeClock::sleeps.clear();
    FakeClock::wakes.clear();
    FakeClock::counts_per_second = 1000000;
    frame_timer_set_clock(&kFake);
    init_perf_timer(60);
    init_frame_timer(60);
  }
  void TearDown() override { frame_timer_set_clock(nullptr); }
};

TEST_F(FrameTimerTest, SleepLengthsByElapsedTime) {
  // The counter test ends the wait at 16667 us; the wait sleeps to 200 us
  // before that and yields through the rest.
  constexpr int64_t kStart = 1000000, kWake = kStart + 16467;
  struct {
    uint32_t elapsed_us;
    std::vector<uint32_t> sleeps;
    std::vector<int64_t> wakes;
  } cases[] = {
      {0, {13, 0, 0, 0, 0}, {kWake}},  // a fresh frame sleeps 13 ms, then to the last stretch
      {14000, {0, 0, 0, 0}, {kWake}},  // past the sleep budget: never a wrapped-around sleep
      {16000, {0, 0, 0, 0}, {kWake}},
      {16466, {0, 0, 0, 0}, {kWake}},  // 201 us left: still a sleep to the count
      {16467, {0, 0, 0, 0}, {}},       // exactly the last stretch: yields only
      {16666, {0}, {}},
      {16667, {0}, {}},  // the boundary itself ends the wait after the one yield
      {20000, {0}, {}},  // a long frame leaves after a single yield
  };
  for (const auto& c : cases) {
    SetUp();
    FakeClock::us += c.elapsed_us;
    wait_for_next_frame();
    EXPECT_EQ(FakeClock::sleeps, c.sleeps) << c.elapsed_us;
    EXPECT_EQ(FakeClock::wakes, c.wakes) << c.elapsed_us;
    EXPECT_GE(FakeClock::us, static_cast<uint64_t>(kStart + 16667)) << c.elapsed_us;
  }
}

TEST_F(FrameTimerTest, WithoutACounterTheMillisecondClockPaces) {
  FakeClock::counts_per_second = 0;
  init_perf_timer(60);
  init_frame_timer(60);
  wait_for_next_frame();
  // 13 ms, then yields until more than 16 whole milliseconds have passed.
  EXPECT_EQ(FakeClock::sleeps.front(), 13u);
  EXPECT_TRUE(FakeClock::wakes.empty());
  EXPECT_EQ(FakeClock::us, 1000000u + 17000u);
}

TEST_F(FrameTimerTest, TheNextFrameCountsFromTheEndOfTheWait) {
  FakeClock::us += 40000;  // a long frame: the lost time is not made up
  wait_for_next_frame();
  FakeClock::sleeps.clear();
  wait_for_next_frame();
  ASSERT_FALSE(FakeClock::sleeps.empty());
  EXPECT_GE(FakeClock::sleeps.front(), 12u) << "a full frame is waited for again";
}

TEST_F(FrameTimerTest, MeasuredRateAfterATargetRateOfFrames) {
  for (int i = 0; i < 59; ++i) wait_for_next_frame();
  EXPECT_EQ(get_frame_timer()->measured_rate, 0.0f);
  wait_for_next_frame();
  EXPECT_NEAR(get_frame_timer()->measured_rate, 60.0f, 3.0f);
  EXPECT_EQ(get_frame_count(), 60u);
  // A second period of slow frames is measured on its own: the rate stays
  // until that period is whole, then shows only the slow frames.
  const float first = get_frame_timer()->measured_rate;
  for (int i = 0; i < 59; ++i) {
    FakeClock::us += 32333;  // each frame's work takes nearly two frames
    wait_for_next_frame();
    ASSERT_EQ(get_frame_timer()->measured_rate, first) << "frame " << i;
  }
  FakeClock::us += 32333;
  wait_for_next_frame();
  EXPECT_NEAR(get_frame_timer()->measured_rate, 30.0f, 2.0f);
  EXPECT_EQ(get_frame_timer()->frames_since_measure, 0u);
  EXPECT_EQ(get_frame_count(), 120u);
  float rate = 0.0f, target = 0.0f;
  get_frame_rates(&rate, &target);
  EXPECT_NEAR(rate, 30.0f, 2.0f);
  EXPECT_EQ(target, 60.0f);
}

TEST_F(FrameTimerTest, ReportedRateIsCappedAtSixty) {
  struct {
    int rate;      // target of the timer
    float expect;  // what get_frame_rates reports once a period is measured
  } cases[] = {{30, 30.0f}, {120, 60.0f}, {240, 60.0f}};
  for (const auto& c : cases) {
    SetUp();
    init_frame_timer(c.rate);
    for (int i = 0; i < c.rate; ++i) wait_for_next_frame();
    float rate = 0.0f, target = 0.0f;
    get_frame_rates(&rate, &target);
    EXPECT_NEAR(rate, c.expect, 1.0f) << c.rate;
    EXPECT_EQ(target, static_cast<float>(c.rate)) << c.rate;
  }
}

TEST_F(FrameTimerTest, ReInitStartsANewMeasuringPeriod) {
  for (int i = 0; i < 30; ++i) wait_for_next_frame();
  FakeClock::us += 5000000;  // a long pause before the timer starts again
  init_frame_timer(60);
  EXPECT_EQ(get_frame_count(), 0u);
  EXPECT_EQ(get_frame_timer()->measured_rate, 0.0f);
  for (int i = 0; i < 60; ++i) wait_for_next_frame();
  EXPECT_NEAR(get_frame_timer()->measured_rate, 60.0f, 3.0f) << "the pause is not in the period";
}

TEST_F(FrameTimerTest, RatesFromInitAndFromTheSetter) {
  const FrameTimer* t = get_frame_timer();
  EXPECT_EQ(t->enabled, 1);
  EXPECT_EQ(t->target_rate, 60);
  EXPECT_EQ(t->frame_ms_whole, 16);
  EXPECT_EQ(t->frame_us, 16666.666f);
  EXPECT_EQ(t->frame_ms, 16.666666f);
  EXPECT_EQ(t->ms_previous, 1000u);
  EXPECT_EQ(t->counter_previous, 1000000);
  EXPECT_EQ(get_perf_frequency(), 1000000);

  // Half the rate: a fresh frame sleeps 29 ms (32 whole less 3), and the
  // wait ends at 1/30 s.
  FrameTimer* r = set_frame_rate(30);
  EXPECT_EQ(r, get_frame_timer());
  EXPECT_EQ(get_frame_rate(), 30);
  EXPECT_EQ(t->frame_ms_whole, 32);
  EXPECT_EQ(t->frame_us, 33333.332f);
  EXPECT_EQ(t->frame_ms, 33.333332f);
  wait_for_next_frame();
  ASSERT_FALSE(FakeClock::sleeps.empty());
  EXPECT_EQ(FakeClock::sleeps.front(), 29u);
  EXPECT_GE(FakeClock::us, 1000000u + 33334u);
  EXPECT_LT(FakeClock::us, 1000000u + 33334u + 100u);
  EXPECT_EQ(get_frame_count(), 1u);

  // A stopped timer does not wait, and still counts the frame.
  set_frame_timer_enabled(0);
  EXPECT_EQ(is_frame_timer_enabled(), 0);
  FakeClock::sleeps.clear();
  const uint64_t before = FakeClock::us;
  wait_for_next_frame();
  EXPECT_TRUE(FakeClock::sleeps.empty());
  EXPECT_EQ(FakeClock::us, before);
  EXPECT_EQ(get_frame_count(), 2u);
  set_frame_timer_enabled(1);
  EXPECT_EQ(is_frame_timer_enabled(), 1);
}

// Stamps against the frame start, in percent of one frame at 60 per second.
TEST_F(FrameTimerTest, StampsAndClocks) {
  mark_frame_start();
  int64_t stamp = 0;
  take_counter_stamp(&stamp);
  take_counter_stamp(nullptr);
  EXPECT_EQ(stamp, 1000000);
  EXPECT_EQ(frame_percent_since(nullptr), 0.0f);
  const uint32_t ms = get_time_ms();
  EXPECT_EQ(read_time_ms(), ms);

  FakeClock::us += 4167;
  TempDir t;
  load_startup_config(t.file("KT52.CF", ""));
  EXPECT_EQ(stamp_perf_log(), 0) << "no PRMLOG key";
  FakeClock::us += 4166;
  stamp_perf_mark();
  load_startup_config(t.file("KT52.CF", "PRMLOG on\n"));
  FakeClock::us += 4167;
  EXPECT_EQ(stamp_perf_log(), 1) << "the key exists, whatever its value";
  load_startup_config(t.path + "/none");

  EXPECT_NEAR(log_stamp_percent(), 75.0f, 0.01f);
  EXPECT_NEAR(mark_stamp_percent(), 50.0f, 0.01f);
  EXPECT_NEAR(frame_percent_since(&stamp), 75.0f, 0.01f);
  EXPECT_NEAR(frame_time_percent(), 75.0f, 0.01f);
  EXPECT_NEAR(ticks_to_frame_fraction(1000000 + 33333), 2.0f, 0.001f);
  EXPECT_EQ(elapsed_ms_since(ms), 12u);
}

TEST(FrameClockWrap, DifferencesAreExactAcrossTheWrap) {
  EXPECT_EQ(elapsed_ms_wrap(0xFFFFFFFFu, 0u), 1u);
  EXPECT_EQ(elapsed_ms_wrap(0xFFFFFFF0u, 0x10u), 0x20u);
  EXPECT_EQ(elapsed_ms_wrap(5u, 9u), 4u);
  EXPECT_EQ(elapsed_ticks_wrap(INT64_MAX, INT64_MIN), 1);
  EXPECT_EQ(elapsed_ticks_wrap(100, 250), 150);
}

TEST_F(FrameTimerTest, FrameFractionFromTheFrameStart) {
  mark_frame_start();
  FakeClock::us += 8333;
  EXPECT_NEAR(frame_time_percent(), 50.0f, 0.1f);
}

}  // namespace
