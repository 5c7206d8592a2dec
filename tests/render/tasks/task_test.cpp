#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "render/tasks/task.h"

namespace {

std::vector<int> events;

void own_destroy(Task* task) { events.push_back(100 + static_cast<int>(task->user)); }
void type_destroy(Task* task) { events.push_back(200 + static_cast<int>(task->user)); }
int creates = 0;
void type_create(Task*) { ++creates; }

class TaskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tasks_init();
    events.clear();
    creates = 0;
    type_ = task_type_register(nullptr, type_create, type_destroy, nullptr, 64);
  }
  void TearDown() override { tasks_shutdown(); }
  int type_ = 0;
};

TEST_F(TaskTest, PoolExhaustsAndReusesTheLastKilledRecordZeroed) {
  std::vector<Task*> all;
  for (int i = 0; i < kTaskPoolSize; ++i) {
    Task* t = task_create(1);
    ASSERT_NE(t, nullptr);
    all.push_back(t);
  }
  EXPECT_EQ(task_create(1), nullptr);
  EXPECT_EQ(tasks_get_alive_count(), static_cast<uint32_t>(kTaskPoolSize));

  Task* victim = all[1234];
  victim->user = 77;
  victim->data[5] = 9;
  task_kill(victim);
  Task* again = task_create(3);
  EXPECT_EQ(again, victim);
  EXPECT_EQ(again->user, 0u);
  EXPECT_EQ(again->data[5], 0);
  EXPECT_EQ(again->owner, 3u);
  EXPECT_EQ(again->layer, 0);
  EXPECT_EQ(again->sort_key, 7u << 20);
  EXPECT_EQ(again->base_key, 7u << 20);
}

TEST_F(TaskTest, KillTwiceAndKillFromItsOwnDestroyAreHarmless) {
  Task* t = task_create(1);
  task_set_type(t, type_);
  task_set_destroy_callback(t, [](Task* self) {
    events.push_back(1);
    task_kill(self);  // re-entry must not run the callbacks again
  });
  task_kill(t);
  task_kill(t);
  EXPECT_EQ(events, (std::vector<int>{1, 200}));
  EXPECT_EQ(tasks_get_alive_count(), 0u);
  task_kill(nullptr);
}

TEST_F(TaskTest, AResetFromADestroyCallbackLeavesAWholeFreshPool) {
  Task* t = task_create(1);
  task_set_destroy_callback(t, [](Task*) { tasks_reset(); });
  task_create(1);
  task_kill(t);  // the reset has freed every record, this one too
  EXPECT_EQ(tasks_get_alive_count(), 0u);
  std::vector<Task*> all;
  for (int i = 0; i < kTaskPoolSize; ++i) {
    Task* n = task_create(2);
    ASSERT_NE(n, nullptr) << i;
    all.push_back(n);
  }
  EXPECT_EQ(task_create(2), nullptr) << "no record is handed out twice";
  std::sort(all.begin(), all.end());
  EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
  EXPECT_EQ(tasks_get_alive_count(), static_cast<uint32_t>(kTaskPoolSize));
}

TEST_F(TaskTest, TypeIsSetOnceAndOutOfRangeValuesAreIgnored) {
  Task* t = task_create(1);
  task_set_type(t, type_);
  task_set_type(t, type_);
  EXPECT_EQ(creates, 1);
  EXPECT_EQ(t->base_key, (7u << 20) | (static_cast<uint32_t>(type_) << 16));

  Task* u = task_create(1);
  task_set_type(u, 16);
  task_set_type(u, 200);
  EXPECT_EQ(u->type, 0);
  task_set_layer(u, 30);
  task_set_layer(u, 64);
  task_set_layer(u, 255);
  EXPECT_EQ(u->layer, 30);
  EXPECT_EQ(tasks_layer_head(30), u);
  EXPECT_EQ(u->sort_key, (30u << 24) | (7u << 20));
  task_set_subpriority(u, 0x19);  // only the low 4 bits reach the key
  EXPECT_EQ(u->subpriority, 0x19);
  EXPECT_EQ(u->sort_key, (30u << 24) | (9u << 20));
}

TEST_F(TaskTest, RegistrationFollowsOrderAndRefusesOversizeAndSixteenth) {
  tasks_init();
  // The area holds the largest engine record of a 64-bit build: 320 bytes.
  EXPECT_EQ(task_type_register(nullptr, nullptr, nullptr, nullptr, 321), 0);
  for (int id = 1; id <= 15; ++id) {
    EXPECT_EQ(task_type_register(nullptr, nullptr, nullptr, nullptr, 320), id);
  }
  EXPECT_EQ(task_type_register(nullptr, nullptr, nullptr, nullptr, 0), 0);
  tasks_reset();  // keeps the table
  EXPECT_NE(task_type_get(15)->registered, 0u);
  for (int outside : {-1, 16, 1000}) EXPECT_EQ(task_type_get(outside), nullptr) << outside;
}

uint32_t kill_self(Task*) { return 1; }
uint32_t keep(Task* t) {
  events.push_back(static_cast<int>(t->user));
  return 0;
}

TEST_F(TaskTest, UpdatePassVisitsNewestFirstAndKillsOnNonZero) {
  Task* a = task_create(1);
  a->user = 1;
  task_set_update_callback(a, keep);
  Task* b = task_create(1);
  b->user = 2;
  task_set_update_callback(b, keep);
  Task* c = task_create(1);
  task_set_update_callback(c, kill_self);
  Task* d = task_create(1);
  task_set_one_frame(d);  // in the list without a callback
  task_set_update_callback(nullptr, keep);
  task_set_update_callback(a, nullptr);  // ignored: keeps keep()
  EXPECT_EQ(tasks_get_update_list_count(), 4u);

  tasks_run_updates();
  EXPECT_EQ(events, (std::vector<int>{2, 1}));
  EXPECT_FALSE(task_is_alive(c));
  EXPECT_EQ(tasks_get_update_load(), 1u + 3u);
  EXPECT_EQ(tasks_get_update_pass_count(), 1u);
  EXPECT_EQ(tasks_get_update_list_count(), 3u);

  tasks_skip_next_update();
  events.clear();
  tasks_run_updates();
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(tasks_get_update_pass_count(), 1u);
  tasks_run_updates();
  EXPECT_EQ(events.size(), 2u);
}

Task* spawned = nullptr;
uint32_t spawn(Task*) {
  if (spawned == nullptr) {
    spawned = task_create(1);
    task_set_update_callback(spawned, keep);
    spawned->user = 9;
  }
  return 0;
}

TEST_F(TaskTest, TasksLinkedDuringAPassWaitForTheNext) {
  spawned = nullptr;
  Task* t = task_create(1);
  task_set_update_callback(t, spawn);
  tasks_run_updates();
  EXPECT_TRUE(events.empty());
  tasks_run_updates();
  EXPECT_EQ(events, (std::vector<int>{9}));
}

// Kills every other task of the update list, the one the pass visits next
// included, and reuses the freed records at once.
std::vector<Task*> victims;
uint32_t kill_others(Task* self) {
  for (Task* v : victims) {
    if (v != self) task_kill(v);
  }
  victims.clear();
  for (int i = 0; i < 3; ++i) task_set_update_callback(task_create(2), keep);
  return 0;
}

TEST_F(TaskTest, CallbacksMayKillTheTaskTheWalkVisitsNext) {
  victims.clear();
  std::vector<Task*> made;
  for (int i = 0; i < 6; ++i) {
    Task* t = task_create(1);
    t->user = static_cast<uint32_t>(i);
    task_set_update_callback(t, i == 5 ? kill_others : keep);
    made.push_back(t);
  }
  victims.assign(made.begin(), made.end() - 1);
  tasks_run_updates();  // task 5 runs first and kills 0..4
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(tasks_get_alive_count(), 4u);

  // The same through destroy callbacks while the reap walks the alive list.
  tasks_reset();
  events.clear();
  Task* first = task_create(1);
  Task* second = task_create(1);
  task_set_one_frame(first);
  task_set_one_frame(second);
  victims.assign({first});
  spawned = nullptr;
  task_set_destroy_callback(second, [](Task*) {
    for (Task* v : victims) task_kill(v);
    spawned = task_create(5);  // takes the record of the task just killed
  });
  tasks_reap_marked();
  EXPECT_EQ(spawned, first);
  EXPECT_TRUE(task_is_alive(spawned));
  EXPECT_EQ(spawned->owner, 5u);
  EXPECT_FALSE(task_is_alive(second));
  EXPECT_EQ(tasks_get_alive_count(), 1u);
}

void count_hook_kill(uint32_t owner) { events.push_back(1000 + static_cast<int>(owner)); }
void count_hook_reset() { events.push_back(-1); }

TEST_F(TaskTest, KillOwnerFreesExactlyItsOwnersTasksAndResources) {
  tasks_set_owner_hook(kOwnerHookMovie, count_hook_kill, count_hook_reset);
  const uint32_t h1 = handle_alloc();
  const uint32_t h2 = handle_alloc();
  ASSERT_EQ(h1, 1u);
  ASSERT_EQ(h2, 2u);
  for (uint32_t i = 0; i < 6; ++i) {
    Task* t = task_create(i % 2 == 0 ? h1 : h2);
    t->user = i;
    task_set_type(t, type_);
    task_set_destroy_callback(t, own_destroy);
  }
  OwnerRecord* r1 = owner_record_alloc(h1);
  OwnerRecord* r2 = owner_record_alloc(h2);
  ASSERT_NE(r1, nullptr);
  ASSERT_NE(r2, nullptr);

  kill_owner(h1);
  // Newest first, own destroy before the type's; then the hooks.
  EXPECT_EQ(events, (std::vector<int>{104, 204, 102, 202, 100, 200, 1001}));
  EXPECT_EQ(tasks_get_alive_count(), 3u);
  EXPECT_EQ(owner_records_count(), 1u);
  EXPECT_EQ(r1->in_use, 0u);
  EXPECT_EQ(handle_count(), 2u);  // the handle stays allocated

  events.clear();
  kill_owner(0);
  kill_owner(kOwnerHandleCount);
  kill_owner(0xFFFFFFFFu);
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(tasks_get_alive_count(), 3u);

  // A reset forgets everything without destroy callbacks; hooks reset.
  tasks_reset();
  EXPECT_EQ(events, (std::vector<int>{-1}));
  EXPECT_EQ(tasks_get_alive_count(), 0u);
  EXPECT_EQ(handle_count(), 0u);
  EXPECT_EQ(owner_records_count(), 0u);
  tasks_set_owner_hook(kOwnerHookMovie, nullptr, nullptr);
}

TEST_F(TaskTest, HandlesAreLowestFirstAndOutOfRangeIsIgnored) {
  EXPECT_EQ(handle_alloc(), 1u);
  EXPECT_EQ(handle_alloc(), 2u);
  EXPECT_EQ(handle_alloc(), 3u);
  handle_free(2);
  handle_free(2);
  EXPECT_EQ(handle_count(), 2u);
  EXPECT_EQ(handle_alloc(), 2u);
  handle_free(0);
  handle_free(8192);
  handle_free(0xFFFFFFFFu);
  handle_pin(0xFFFFFFFFu);
  handle_pin(3);
  EXPECT_EQ(handle_count(), 3u);

  Task* t1 = task_create(1);
  Task* t3 = task_create(3);
  handles_release_unpinned();
  EXPECT_FALSE(task_is_alive(t1));
  EXPECT_TRUE(task_is_alive(t3));
  EXPECT_EQ(handle_count(), 1u);
  EXPECT_EQ(handle_alloc(), 1u);
  EXPECT_EQ(handle_alloc(), 2u);  // 3 is still pinned and in use
  for (uint32_t h = 4; h < kOwnerHandleCount; ++h) ASSERT_EQ(handle_alloc(), h);
  EXPECT_EQ(handle_alloc(), 0u);
}

TEST_F(TaskTest, OwnerRecordsRefuseDoubleFreeAndExhaust) {
  OwnerRecord* r = owner_record_alloc(5);
  owner_record_free(r);
  owner_record_free(r);
  owner_record_free(nullptr);
  EXPECT_EQ(owner_records_count(), 0u);
  std::vector<OwnerRecord*> all;
  for (int i = 0; i < kOwnerRecordCount; ++i) all.push_back(owner_record_alloc(5));
  EXPECT_EQ(all.front(), r);  // the record freed last is taken first
  EXPECT_EQ(owner_record_alloc(5), nullptr);
  owner_records_free_of_owner(5);
  EXPECT_EQ(owner_records_count(), 0u);
}

TEST_F(TaskTest, TheReapKillsEveryLifetimeButPersistent) {
  Task* t[4];
  for (uint32_t lifetime = 0; lifetime < 4; ++lifetime) {
    t[lifetime] = task_create(1);
    t[lifetime]->flags |= lifetime << 1;
  }
  tasks_reap_marked();
  EXPECT_TRUE(task_is_alive(t[0]));
  for (int lifetime = 1; lifetime < 4; ++lifetime) EXPECT_FALSE(task_is_alive(t[lifetime])) << lifetime;
  EXPECT_EQ(tasks_get_alive_count(), 1u);
}

TEST_F(TaskTest, ForEachWalksNewestFirstAndGroupsHide) {
  Task* a = task_create(1);
  Task* b = task_create(1);
  static std::vector<Task*> seen;
  seen.clear();
  tasks_for_each([](Task* t) { seen.push_back(t); });
  tasks_for_each(nullptr);
  EXPECT_EQ(seen, (std::vector<Task*>{b, a}));
  task_group_set_visible(3, false);
  EXPECT_TRUE(task_group_hidden(3));
  task_group_set_visible(8, false);
  task_groups_set_visible_all(true);
  EXPECT_FALSE(task_group_hidden(3));
}

}  // namespace
