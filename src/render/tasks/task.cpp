#include "render/tasks/task.h"

#include <cstring>

#include "render/tasks/draw_list.h"

namespace {

// A walk over the alive or the update list keeps its next task in a cursor.
// Unlinking a task from a list moves every cursor that points at it on to
// its successor, so a callback may kill any task (the next one included)
// without leaving a walk on a freed record. Walks may nest.
struct WalkCursor {
  Task* next;
  WalkCursor* outer;
};

struct OwnerHook {
  void (*kill_of_owner)(uint32_t owner);
  void (*reset)();
};

struct TaskSystem {
  Task pool[kTaskPoolSize];
  Task* free_head;
  Task* alive_head;
  Task* update_head;
  Task* layer_heads[kTaskLayerCount];
  uint32_t update_pass_count;
  uint32_t alive_count;
  uint32_t update_load;
  uint32_t update_list_count;
  uint32_t skip_next_update;
  uint32_t group_hidden[kTaskGroupCount];
};

TaskSystem tasks;
TaskType type_table[kTaskTypeCount];
OwnerHook owner_hooks[kOwnerHookCount];
WalkCursor* alive_cursors = nullptr;
WalkCursor* update_cursors = nullptr;
// Counts resets, so a kill can tell that a callback reset the whole system.
uint32_t reset_generation = 0;

class ListWalk {
 public:
// The cursor is registered for exactly the walk's lifetime: the destructor
// takes it out again, which GCC's dangling-pointer check cannot see.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdangling-pointer"
#endif
  ListWalk(WalkCursor** chain, Task* first) : chain_(chain) {
    cursor_.next = first;
    cursor_.outer = *chain;
    *chain = &cursor_;
  }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
  ~ListWalk() { *chain_ = cursor_.outer; }
  ListWalk(const ListWalk&) = delete;
  ListWalk& operator=(const ListWalk&) = delete;

  // Takes the next task; the caller sets the successor with advance().
  Task* peek() const { return cursor_.next; }
  void advance(Task* next) { cursor_.next = next; }

 private:
  WalkCursor** chain_;
  WalkCursor cursor_;
};

void skip_cursors(WalkCursor* chain, const Task* task, Task* successor) {
  for (WalkCursor* c = chain; c != nullptr; c = c->outer) {
    if (c->next == task) c->next = successor;
  }
}

void pool_push_front(Task** head, Task* task) {
  task->pool_prev = nullptr;
  task->pool_next = *head;
  if (*head != nullptr) (*head)->pool_prev = task;
  *head = task;
}

void pool_unlink(Task** head, Task* task) {
  if (task->pool_prev != nullptr) {
    task->pool_prev->pool_next = task->pool_next;
  } else {
    *head = task->pool_next;
  }
  if (task->pool_next != nullptr) task->pool_next->pool_prev = task->pool_prev;
  task->pool_prev = nullptr;
  task->pool_next = nullptr;
}

void alive_unlink(Task* task) {
  skip_cursors(alive_cursors, task, task->pool_next);
  pool_unlink(&tasks.alive_head, task);
}

bool layer_linked(const Task* task) {
  return task->layer_prev != nullptr || tasks.layer_heads[task->layer] == task;
}

void copy_base_key(Task* task) { task->sort_key = task->base_key; }

void relink_free_list() {
  tasks.free_head = nullptr;
  for (int i = kTaskPoolSize - 1; i >= 0; --i) pool_push_front(&tasks.free_head, &tasks.pool[i]);
}

}  // namespace

// ---------------------------------------------------------------- lists

void task_link_update(Task* task) {
  if (task == nullptr || (task->flags & kTaskInUpdateList) != 0) return;
  task->update_prev = nullptr;
  task->update_next = tasks.update_head;
  if (tasks.update_head != nullptr) tasks.update_head->update_prev = task;
  tasks.update_head = task;
  task->flags |= kTaskInUpdateList;
  ++tasks.update_list_count;
}

void task_unlink_update(Task* task) {
  if (task == nullptr || (task->flags & kTaskInUpdateList) == 0) return;
  skip_cursors(update_cursors, task, task->update_next);
  if (task->update_prev != nullptr) {
    task->update_prev->update_next = task->update_next;
  } else {
    tasks.update_head = task->update_next;
  }
  if (task->update_next != nullptr) task->update_next->update_prev = task->update_prev;
  task->update_prev = nullptr;
  task->update_next = nullptr;
  task->flags &= ~kTaskInUpdateList;
  --tasks.update_list_count;
}

void task_link_layer(Task* task, uint8_t layer) {
  if (task == nullptr || layer >= kTaskLayerCount) return;
  Task** head = &tasks.layer_heads[layer];
  task->layer_prev = nullptr;
  task->layer_next = *head;
  if (*head != nullptr) (*head)->layer_prev = task;
  *head = task;
}

void task_unlink_layer(Task* task) {
  if (task == nullptr || !layer_linked(task)) return;
  if (task->layer_prev != nullptr) {
    task->layer_prev->layer_next = task->layer_next;
  } else {
    tasks.layer_heads[task->layer] = task->layer_next;
  }
  if (task->layer_next != nullptr) task->layer_next->layer_prev = task->layer_prev;
  task->layer_prev = nullptr;
  task->layer_next = nullptr;
}

// ---------------------------------------------------------------- tasks

Task* task_create(uint32_t owner) {
  Task* task = tasks.free_head;
  if (task == nullptr) return nullptr;
  pool_unlink(&tasks.free_head, task);
  std::memset(static_cast<void*>(task), 0, sizeof(Task));
  pool_push_front(&tasks.alive_head, task);
  task->flags = kTaskInUse;
  task->owner = owner;
  task_link_layer(task, 0);
  task_set_subpriority(task, kTaskDefaultSubpriority);
  ++tasks.alive_count;
  return task;
}

void task_set_type(Task* task, int type) {
  if (task == nullptr || task->type != 0 || type <= 0 || type >= kTaskTypeCount) return;
  task->type = static_cast<uint8_t>(type);
  const TaskType& entry = type_table[type];
  if (entry.create != nullptr) entry.create(task);
  task->base_key = (task->base_key & ~(0xFu << kTaskKeyTypeShift)) |
                   (static_cast<uint32_t>(type) & 0xFu) << kTaskKeyTypeShift;
}

void task_set_layer(Task* task, uint8_t layer) {
  if (task == nullptr || layer >= kTaskLayerCount) return;
  task_unlink_layer(task);
  task_link_layer(task, layer);
  task->layer = layer;
  task->base_key = (task->base_key & 0x00FFFFFFu) | static_cast<uint32_t>(layer)
                                                        << kTaskKeyLayerShift;
  copy_base_key(task);
}

void task_set_subpriority(Task* task, uint8_t subpriority) {
  if (task == nullptr) return;
  task->subpriority = subpriority;
  task->base_key = (task->base_key & ~(0xFu << kTaskKeySubShift)) |
                   (static_cast<uint32_t>(subpriority) & 0xFu) << kTaskKeySubShift;
  copy_base_key(task);
}

void task_set_update_callback(Task* task, TaskUpdateFn callback) {
  if (task == nullptr || callback == nullptr) return;
  task->update = callback;
  task_link_update(task);
}

void task_set_destroy_callback(Task* task, TaskDestroyFn callback) {
  if (task == nullptr) return;
  task->destroy = callback;
}

void task_set_one_frame(Task* task) {
  if (task == nullptr) return;
  task->flags = (task->flags & ~kTaskLifetimeMask) | kTaskLifetimeOneFrame;
  task_link_update(task);
}

void task_set_visible(Task* task, bool visible) {
  if (task == nullptr) return;
  if (visible) {
    task->flags |= kTaskVisible;
  } else {
    task->flags &= ~kTaskVisible;
  }
}

bool task_is_alive(const Task* task) { return task != nullptr && (task->flags & kTaskInUse) != 0; }

void task_kill(Task* task) {
  if (!task_is_alive(task)) return;
  // Marked dead before the callbacks run, so a callback that kills this task
  // again (directly or through its owner) returns at once.
  task->flags &= ~kTaskInUse;
  const uint32_t generation = reset_generation;
  if (task->destroy != nullptr) task->destroy(task);
  const TaskType& entry = type_table[task->type & 0xF];
  if (entry.destroy != nullptr) entry.destroy(task);
  if (generation != reset_generation) return;  // the record is already free again
  task_unlink_layer(task);
  task_unlink_update(task);
  alive_unlink(task);
  pool_push_front(&tasks.free_head, task);
  --tasks.alive_count;
}

// ---------------------------------------------------------------- types

int task_type_register(TaskDrawFn draw, TaskCreateFn create, TaskDestroyFn destroy,
                       TaskSortKeyFn sort_key, size_t data_size) {
  if (data_size > kTaskDataSize) return 0;
  for (int id = 1; id < kTaskTypeCount; ++id) {
    TaskType& entry = type_table[id];
    if (entry.registered != 0) continue;
    entry = TaskType{1, draw, create, destroy, sort_key};
    return id;
  }
  return 0;
}

const TaskType* task_type_get(int type) {
  if (type < 0 || type >= kTaskTypeCount) return nullptr;
  return &type_table[type];
}

// ---------------------------------------------------------------- passes

void tasks_run_updates() {
  if (tasks.skip_next_update != 0) {
    tasks.skip_next_update = 0;
    return;
  }
  tasks.update_load = 0;
  ListWalk walk(&update_cursors, tasks.update_head);
  while (Task* task = walk.peek()) {
    walk.advance(task->update_next);
    if (task->update == nullptr || !task_is_alive(task)) continue;
    if (task->update(task) != 0) {
      task_kill(task);
      ++tasks.update_load;
    }
  }
  tasks.update_load += tasks.alive_count;
  ++tasks.update_pass_count;
}

void tasks_reap_marked() {
  ListWalk walk(&alive_cursors, tasks.alive_head);
  while (Task* task = walk.peek()) {
    walk.advance(task->pool_next);
    if ((task->flags & kTaskLifetimeMask) != 0) task_kill(task);
  }
}

void kill_owner(uint32_t owner) {
  if (owner == 0 || owner >= kOwnerHandleCount) return;
  {
    ListWalk walk(&alive_cursors, tasks.alive_head);
    while (Task* task = walk.peek()) {
      walk.advance(task->pool_next);
      if (task->owner == owner) task_kill(task);
    }
  }
  for (const OwnerHook& hook : owner_hooks) {
    if (hook.kill_of_owner != nullptr) hook.kill_of_owner(owner);
  }
  owner_records_free_of_owner(owner);
}

void tasks_skip_next_update() { tasks.skip_next_update = 1; }

void tasks_for_each(void (*fn)(Task* task)) {
  if (fn == nullptr) return;
  ListWalk walk(&alive_cursors, tasks.alive_head);
  while (Task* task = walk.peek()) {
    walk.advance(task->pool_next);
    fn(task);
  }
}

void task_group_set_visible(int group, bool visible) {
  if (group < 0 || group >= kTaskGroupCount) return;
  tasks.group_hidden[group] = visible ? 0 : 1;
}

void task_groups_set_visible_all(bool visible) {
  for (int g = 0; g < kTaskGroupCount; ++g) task_group_set_visible(g, visible);
}

bool task_group_hidden(int group) {
  return group >= 0 && group < kTaskGroupCount && tasks.group_hidden[group] != 0;
}

// ---------------------------------------------------------------- life cycle

void tasks_init() {
  std::memset(static_cast<void*>(type_table), 0, sizeof(type_table));
  tasks_reset();
}

void tasks_shutdown() {
  std::memset(static_cast<void*>(type_table), 0, sizeof(type_table));
  tasks_reset();
}

void tasks_reset() {
  std::memset(static_cast<void*>(&tasks), 0, sizeof(tasks));
  ++reset_generation;
  // A reset from inside a walk ends that walk.
  for (WalkCursor* c = alive_cursors; c != nullptr; c = c->outer) c->next = nullptr;
  for (WalkCursor* c = update_cursors; c != nullptr; c = c->outer) c->next = nullptr;
  draw_list_reset();
  relink_free_list();
  handles_reset();
  owner_records_reset();
  for (int slot = kOwnerHookCount - 1; slot >= 0; --slot) {
    if (owner_hooks[slot].reset != nullptr) owner_hooks[slot].reset();
  }
}

void tasks_set_owner_hook(TaskOwnerHookSlot slot, void (*kill_of_owner)(uint32_t owner),
                          void (*reset)()) {
  if (slot < 0 || slot >= kOwnerHookCount) return;
  owner_hooks[slot] = OwnerHook{kill_of_owner, reset};
}

uint32_t tasks_get_update_pass_count() { return tasks.update_pass_count; }
uint32_t tasks_get_update_load() { return tasks.update_load; }
uint32_t tasks_get_update_list_count() { return tasks.update_list_count; }
uint32_t tasks_get_alive_count() { return tasks.alive_count; }

Task* tasks_layer_head(int layer) {
  if (layer < 0 || layer >= kTaskLayerCount) return nullptr;
  return tasks.layer_heads[layer];
}
