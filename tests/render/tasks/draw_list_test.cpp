#include <gtest/gtest.h>

#include <vector>

#include "render/tasks/draw_list.h"
#include "render/tasks/task.h"

namespace {

struct DrawCall {
  int type;
  std::vector<uint32_t> users;
};
std::vector<DrawCall> calls;

void record(Task* const* entries, int count) {
  DrawCall call{entries[0]->type, {}};
  for (int i = 0; i < count; ++i) call.users.push_back(entries[i]->user);
  calls.push_back(call);
}

void show_on_create(Task* t) { task_set_visible(t, true); }

// The type's own key hides tasks whose user word is 666.
uint32_t hiding_key(Task* t) {
  if (t->user == 666) task_set_visible(t, false);
  return t->user >> 16;
}

class DrawListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tasks_init();
    calls.clear();
    a_ = task_type_register(record, show_on_create, nullptr, nullptr, 0);
    b_ = task_type_register(record, show_on_create, nullptr, nullptr, 0);
    mute_ = task_type_register(nullptr, show_on_create, nullptr, nullptr, 0);
    keyed_ = task_type_register(record, show_on_create, nullptr, hiding_key, 0);
  }
  void TearDown() override { tasks_shutdown(); }

  Task* make(int type, uint8_t layer, uint32_t user, uint8_t sub = kTaskDefaultSubpriority) {
    Task* t = task_create(1);
    task_set_type(t, type);
    task_set_subpriority(t, sub);
    task_set_layer(t, layer);
    t->user = user;
    return t;
  }

  // One frame as the frame driver runs it.
  void frame(int lo = 10, int hi = 39) {
    tasks_run_updates();
    draw_list_build();
    draw_list_draw_layers(lo, hi);
    tasks_reap_marked();
  }

  std::vector<uint32_t> drawn() const {
    std::vector<uint32_t> out;
    for (const DrawCall& c : calls) out.insert(out.end(), c.users.begin(), c.users.end());
    return out;
  }

  int a_ = 0, b_ = 0, mute_ = 0, keyed_ = 0;
};

TEST_F(DrawListTest, HigherLayersAndSubPrioritiesDrawFirstOnlyInsideTheRange) {
  make(a_, 11, 11);
  make(a_, 27, 27);
  make(a_, 5, 5);
  make(a_, 45, 45);
  make(a_, 63, 63);
  make(a_, 0, 0);
  make(a_, 10, 10);
  make(a_, 39, 39);
  make(a_, 20, 207, 7);
  make(a_, 20, 209, 9);
  make(a_, 40, 40);
  make(a_, 9, 9);
  frame();
  EXPECT_EQ(drawn(), (std::vector<uint32_t>{39, 27, 209, 207, 11, 10}));
  EXPECT_EQ(draw_list_get()->count, 12u);  // everything is listed, not drawn
}

TEST_F(DrawListTest, RunsBreakOnTypeAndSkipTypesWithoutDraw) {
  make(a_, 20, 1);
  make(a_, 20, 2);
  make(b_, 20, 3);
  make(mute_, 20, 4);
  frame();
  // Equal sub-priority: type b (higher id) sorts first, then a; mute drew nothing.
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].type, b_);
  EXPECT_EQ(calls[1].type, a_);
  EXPECT_EQ(calls[1].users, (std::vector<uint32_t>{2, 1}));

  // Two runs of one type separated by another type are two calls.
  tasks_reset();
  calls.clear();
  make(a_, 20, 1, 9);
  make(b_, 20, 2, 8);
  make(a_, 20, 3, 7);
  frame();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].type, a_);
  EXPECT_EQ(calls[2].type, a_);

  // Layer 0 at sub-priority 0 is collected unsorted: its stored keys never
  // took the type (the type comes after the sub-priority), yet the runs
  // still break where the type changes.
  tasks_reset();
  calls.clear();
  for (int type : {a_, b_, b_, a_}) {
    Task* t = task_create(1);
    task_set_subpriority(t, 0);
    task_set_type(t, type);
    t->user = static_cast<uint32_t>(type);
  }
  ASSERT_EQ(tasks_layer_head(0)->sort_key, 0u);
  frame(0, 0);
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].users, (std::vector<uint32_t>{uint32_t(a_)}));
  EXPECT_EQ(calls[1].users, (std::vector<uint32_t>{uint32_t(b_), uint32_t(b_)}));
  EXPECT_EQ(calls[2].type, a_);
}

TEST_F(DrawListTest, OneFrameTasksDrawOnceAndPersistentOnesEveryFrame) {
  Task* once = make(a_, 20, 1);
  task_set_one_frame(once);
  make(a_, 21, 2);
  Task* hidden = make(a_, 22, 3);
  task_set_visible(hidden, false);
  Task* grouped = make(a_, 23, 4);
  grouped->flags |= 2u << kTaskGroupShift;
  task_group_set_visible(2, false);
  frame();
  EXPECT_EQ(drawn(), (std::vector<uint32_t>{2, 1}));
  EXPECT_FALSE(task_is_alive(once));
  calls.clear();
  frame();
  EXPECT_EQ(drawn(), (std::vector<uint32_t>{2}));

  // A one-frame task made after the list was built is reaped undrawn.
  calls.clear();
  tasks_run_updates();
  draw_list_build();
  Task* late = make(a_, 20, 5);
  task_set_one_frame(late);
  draw_list_draw_layers(10, 39);
  tasks_reap_marked();
  EXPECT_EQ(drawn(), (std::vector<uint32_t>{2}));
  EXPECT_FALSE(task_is_alive(late));
}

TEST_F(DrawListTest, TypeKeysOrderInsideARunAndMayHideTasks) {
  make(keyed_, 20, 1u << 16);
  make(keyed_, 20, 3u << 16);
  make(keyed_, 20, 666);
  make(keyed_, 20, 2u << 16);
  frame();
  ASSERT_EQ(calls.size(), 1u);  // one run: the type's key does not cut runs
  EXPECT_EQ(calls[0].users, (std::vector<uint32_t>{3u << 16, 2u << 16, 1u << 16}));
}

// Equal keys: list position 0 is the task linked into the layer last.
std::vector<uint32_t> range(int from, int to) {  // inclusive, either direction
  std::vector<uint32_t> v;
  const int step = from <= to ? 1 : -1;
  for (int i = from;; i += step) {
    v.push_back(static_cast<uint32_t>(i));
    if (i == to) break;
  }
  return v;
}

TEST_F(DrawListTest, EqualKeysComeOutInTheSortsOwnOrder) {
  struct Case {
    int n;
    std::vector<uint32_t> expected;
  };
  std::vector<uint32_t> twenty_two = range(21, 11);
  const std::vector<uint32_t> low = range(0, 10);
  twenty_two.insert(twenty_two.end(), low.begin(), low.end());
  std::vector<uint32_t> thirty = range(15, 29);
  const std::vector<uint32_t> first_half = range(0, 14);
  thirty.insert(thirty.end(), first_half.begin(), first_half.end());
  const Case cases[] = {
      {1, range(0, 0)},     {11, range(0, 10)}, {12, range(11, 0)},
      {21, range(20, 0)},   {22, twenty_two},   {30, thirty},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.n);
    tasks_init();
    task_type_register(record, show_on_create, nullptr, nullptr, 0);
    tasks_reset();
    std::vector<uint32_t> order;
    {
      std::vector<Task*> made;
      for (int i = 0; i < c.n; ++i) {
        Task* t = task_create(1);
        task_set_type(t, 1);
        task_set_layer(t, 20);
        made.push_back(t);
      }
      for (int pos = 0; pos < c.n; ++pos) made[c.n - 1 - pos]->user = static_cast<uint32_t>(pos);
      Task* out[kTaskPoolSize];
      const int written = draw_list_collect_sorted(tasks_layer_head(20), out);
      for (int i = 0; i < written; ++i) order.push_back(out[i]->user);
    }
    EXPECT_EQ(order, c.expected);
  }
}

TEST_F(DrawListTest, SortOrdersAFullPoolOfMixedKeys) {
  std::vector<Task*> made;
  uint32_t seed = 12345;
  for (int i = 0; i < kTaskPoolSize; ++i) {
    Task* t = task_create(1);
    seed = seed * 1103515245u + 12345u;
    t->sort_key = (seed >> 8) % 97u;  // many equal keys
    made.push_back(t);
  }
  draw_list_sort(made.data(), static_cast<int>(made.size()));
  for (size_t i = 1; i < made.size(); ++i) ASSERT_GE(made[i - 1]->sort_key, made[i]->sort_key);
}

}  // namespace
