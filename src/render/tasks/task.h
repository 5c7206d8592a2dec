// The task system: the engine's scheduler of run-time objects.
//
// Every drawn object and every per-frame callback is a Task from one static
// pool of 4096. A task has a type (its draw, create, destroy and sort-key
// callbacks), an owner handle, a draw layer 0..63 with a sub-priority, an
// optional update callback, an optional destroy callback of its own, and a
// lifetime: persistent, or one frame (killed by the end-of-frame reap).
//
// Owners are handles 1..8191 handed out lowest first; kill_owner frees every
// task and every per-owner resource of that owner at once.
//
// Main thread only.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int kTaskPoolSize = 4096;
constexpr int kTaskLayerCount = 64;
constexpr int kTaskTypeCount = 16;  // entry 0 stands for "no type"
constexpr int kTaskGroupCount = 8;
constexpr int kTaskDefaultSubpriority = 7;

// Room for a type's own record. The largest engine record (the text type,
// with a callback pointer) needs more than 256 bytes in a 64-bit build, so
// the area is sized from the real records; each type checks its record
// against it at compile time through task_data<T>.
constexpr size_t kTaskDataSize = 320;

// Flag bits of Task::flags.
constexpr uint32_t kTaskInUse = 1u << 0;
constexpr uint32_t kTaskLifetimeMask = 3u << 1;  // 0 persistent; the reap kills any non-zero
constexpr uint32_t kTaskLifetimeOneFrame = 2u << 1;
constexpr uint32_t kTaskVisible = 1u << 3;
constexpr int kTaskGroupShift = 4;  // bits 4-6: group 0..7
constexpr uint32_t kTaskGroupMask = 7u << kTaskGroupShift;
constexpr uint32_t kTaskInUpdateList = 1u << 7;

// Sort and base keys: layer in bits 24-31, sub-priority (low 4 bits) in
// 20-23, type id in 16-19, the type's own key in 0-15.
constexpr int kTaskKeyLayerShift = 24;
constexpr int kTaskKeySubShift = 20;
constexpr int kTaskKeyTypeShift = 16;

struct Task;

// A non-zero result kills the task.
using TaskUpdateFn = uint32_t (*)(Task* task);
using TaskDestroyFn = void (*)(Task* task);
using TaskCreateFn = void (*)(Task* task);
// Receives a run of tasks of its type (at least one), in draw order.
using TaskDrawFn = void (*)(Task* const* entries, int count);
// Only the low 16 bits of the result count.
using TaskSortKeyFn = uint32_t (*)(Task* task);

struct Task {
  uint32_t user;  // free for the type; zeroed at creation
  uint32_t flags;
  uint8_t type;   // 1..15, 0 while untyped
  uint8_t layer;  // 0..63
  uint8_t subpriority;
  uint32_t sort_key;
  uint32_t owner;  // 0 = none
  uint32_t base_key;
  TaskUpdateFn update;
  TaskDestroyFn destroy;
  Task* pool_prev;  // free list or alive list
  Task* pool_next;
  Task* update_prev;
  Task* update_next;
  Task* layer_prev;
  Task* layer_next;
  alignas(16) unsigned char data[kTaskDataSize];
};

// The type's record inside the task.
template <typename T>
T* task_data(Task* task) {
  static_assert(sizeof(T) <= kTaskDataSize, "task type record does not fit the task");
  static_assert(alignof(T) <= 16, "task type record is over-aligned");
  return reinterpret_cast<T*>(task->data);
}

struct TaskType {
  uint32_t registered;
  TaskDrawFn draw;
  TaskCreateFn create;
  TaskDestroyFn destroy;
  TaskSortKeyFn sort_key;
};

// ---------------------------------------------------------------- tasks

// Takes a task from the pool (null when all are in use): zeroed, alive,
// owned, on layer 0 with sub-priority 7.
Task* task_create(uint32_t owner);
// Gives an untyped task its type and runs the type's create callback. A
// typed task, or an id above 15, is left alone.
void task_set_type(Task* task, int type);
// Moves the task to the front of the layer's list; layers above 63 are
// ignored.
void task_set_layer(Task* task, uint8_t layer);
void task_set_subpriority(Task* task, uint8_t subpriority);
// A null callback is ignored; otherwise the task joins the update list.
void task_set_update_callback(Task* task, TaskUpdateFn callback);
// The task's own clean-up, run first when it is killed (null clears it).
void task_set_destroy_callback(Task* task, TaskDestroyFn callback);
// Lifetime of one frame; the task joins the update list.
void task_set_one_frame(Task* task);
void task_set_visible(Task* task, bool visible);
void task_link_update(Task* task);
void task_unlink_update(Task* task);
void task_link_layer(Task* task, uint8_t layer);
void task_unlink_layer(Task* task);
// Kills a live task: its own destroy callback, then its type's, then back to
// the pool. Null, or a task not alive (also one being killed), is ignored.
void task_kill(Task* task);
bool task_is_alive(const Task* task);

// Registers a type; returns its id (registration order, 1..15), or 0 when
// data_size exceeds the task's data area or all 15 ids are taken. Any
// callback may be null.
int task_type_register(TaskDrawFn draw, TaskCreateFn create, TaskDestroyFn destroy,
                       TaskSortKeyFn sort_key, size_t data_size);
// The type-table entry of an id (null above 15).
const TaskType* task_type_get(int type);

// The update pass: every update callback once, newest linked first; tasks
// linked during the pass wait for the next one.
void tasks_run_updates();
// The end-of-frame reap: kills every task with a lifetime.
void tasks_reap_marked();
// Frees every task and per-owner resource of the owner; the handle stays
// allocated. Handles outside 1..8191 are ignored.
void kill_owner(uint32_t owner);
void tasks_skip_next_update();
// Every alive task, newest first; null does nothing.
void tasks_for_each(void (*fn)(Task* task));
void task_group_set_visible(int group, bool visible);
void task_groups_set_visible_all(bool visible);
bool task_group_hidden(int group);

void tasks_init();
void tasks_shutdown();
// Forgets every task and owner at once: no destroy callback runs. The type
// table is kept.
void tasks_reset();

uint32_t tasks_get_update_pass_count();
uint32_t tasks_get_update_load();
uint32_t tasks_get_update_list_count();
uint32_t tasks_get_alive_count();
// The most recently linked task of a layer (null when empty or above 63).
Task* tasks_layer_head(int layer);

// Per-owner resources of other components (movie slots, light spheres,
// render views) join kill_owner and tasks_reset through these hooks.
// kill_owner calls the kill hooks in slot order; tasks_reset calls the
// reset hooks in reverse slot order.
enum TaskOwnerHookSlot {
  kOwnerHookMovie,
  kOwnerHookLightSphere,
  kOwnerHookRenderView,
  kOwnerHookCount
};
void tasks_set_owner_hook(TaskOwnerHookSlot slot, void (*kill_of_owner)(uint32_t owner),
                          void (*reset)());

// ---------------------------------------------------------------- owners

// An owner handle: what tasks, movie slots, light spheres and render views
// are owned by; 0 = none.
using TaskHandle = uint32_t;
constexpr uint32_t kOwnerHandleCount = 8192;  // handles 1..8191
constexpr int kOwnerRecordCount = 1024;
constexpr size_t kOwnerRecordDataSize = 128;

struct OwnerRecord {
  uint32_t owner;
  uint32_t in_use;
  unsigned char data[kOwnerRecordDataSize];
  OwnerRecord* prev;
  OwnerRecord* next;
};

// The lowest free handle, or 0 when all 8191 are in use.
uint32_t handle_alloc();
void handle_free(uint32_t handle);
// Spares a handle in use from handles_release_unpinned.
void handle_pin(uint32_t handle);
void handles_release_unpinned();
uint32_t handle_count();
void handles_reset();

OwnerRecord* owner_record_alloc(uint32_t owner);
// Null, or a record already free, is ignored.
void owner_record_free(OwnerRecord* record);
void owner_records_free_of_owner(uint32_t owner);
uint32_t owner_records_count();
void owner_records_reset();
