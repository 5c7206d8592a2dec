#include "render/tasks/draw_list.h"

#include <cstring>
#include <utility>

namespace {

// The sort keeps the larger side of each partition pending and goes on with
// the smaller, so about log2(4096) = 12 ranges at most are ever pending. Were
// the stack ever full, a range would be left to the final insertion pass,
// which still sorts it.
constexpr int kSortStackSize = 32;
// Ranges this small are left to the final insertion pass.
constexpr int kSortSmallRange = 10;

DrawList draw_list;
Task* collection[kTaskPoolSize];

bool task_drawable(const Task* task) {
  if ((task->flags & kTaskVisible) == 0) return false;
  const int group = static_cast<int>((task->flags & kTaskGroupMask) >> kTaskGroupShift);
  return !task_group_hidden(group);
}

// Layer, sub-priority and type decide which tasks share a draw call. They are
// compared from the task's own fields, which stay right also where a layer
// was collected unsorted and its stored keys were never refreshed.
bool same_run(const Task* a, const Task* b) {
  return a->layer == b->layer && (a->subpriority & 0xF) == (b->subpriority & 0xF) &&
         a->type == b->type;
}

TaskDrawFn draw_callback(const Task* task) {
  const TaskType* type = task_type_get(task->type);
  return type != nullptr ? type->draw : nullptr;
}

}  // namespace

void draw_list_sort(Task** a, int n) {
  if (n <= 1) return;
  int stack_lo[kSortStackSize];
  int stack_hi[kSortStackSize];
  int depth = 0;
  int lo = 0;
  int hi = n - 1;
  for (;;) {
    if (hi - lo <= kSortSmallRange) {
      if (depth == 0) break;
      --depth;
      lo = stack_lo[depth];
      hi = stack_hi[depth];
    }
    const uint32_t pivot = a[(lo + hi) >> 1]->sort_key;
    int i = lo;
    int j = hi;
    for (;;) {
      while (a[i]->sort_key > pivot) ++i;
      while (pivot > a[j]->sort_key) --j;
      if (i >= j) break;
      std::swap(a[i], a[j]);
      ++i;
      --j;
    }
    const int left = i - lo;
    const int right = hi - j;
    if (left > right) {
      if (left > kSortSmallRange && depth < kSortStackSize) {
        stack_lo[depth] = lo;
        stack_hi[depth] = i - 1;
        ++depth;
      }
      lo = j + 1;
    } else {
      if (right > kSortSmallRange && depth < kSortStackSize) {
        stack_lo[depth] = j + 1;
        stack_hi[depth] = hi;
        ++depth;
      }
      hi = i - 1;
    }
  }
  for (int k = 1; k < n; ++k) {
    Task* item = a[k];
    int m = k;
    while (m > 0 && a[m - 1]->sort_key < item->sort_key) {
      a[m] = a[m - 1];
      --m;
    }
    a[m] = item;
  }
}

int draw_list_collect_unsorted(Task* first, Task** out) {
  int written = 0;
  for (Task* task = first; task != nullptr; task = task->layer_next) {
    if (task_drawable(task)) out[written++] = task;
  }
  return written;
}

int draw_list_collect_sorted(Task* first, Task** out) {
  int n = 0;
  for (Task* task = first; task != nullptr; task = task->layer_next) {
    if (!task_drawable(task)) continue;
    task->sort_key = task->base_key;
    const TaskType* type = task_type_get(task->type);
    if (type != nullptr && type->sort_key != nullptr) task->sort_key |= type->sort_key(task) & 0xFFFFu;
    collection[n++] = task;
  }
  draw_list_sort(collection, n);
  int written = 0;
  for (int k = 0; k < n; ++k) {
    // A sort-key callback may have hidden its task.
    if ((collection[k]->flags & kTaskVisible) != 0) out[written++] = collection[k];
  }
  return written;
}

void draw_list_build() {
  draw_list.ready = 0;
  draw_list.count = 0;
  int pos = 0;
  for (int layer = kTaskLayerCount - 1; layer >= 0; --layer) {
    Task* first = tasks_layer_head(layer);
    if (first == nullptr) continue;
    Task** out = &draw_list.entries[pos];
    pos += first->sort_key != 0 ? draw_list_collect_sorted(first, out)
                                : draw_list_collect_unsorted(first, out);
  }
  draw_list.count = static_cast<uint32_t>(pos);
  draw_list.ready = 1;
}

void draw_list_draw_layers(int lo, int hi) {
  const int count = static_cast<int>(draw_list.count);
  int i = 0;
  while (i < count) {
    Task* first = draw_list.entries[i];
    int end = i + 1;
    while (end < count && same_run(draw_list.entries[end], first)) ++end;
    const int layer = first->layer;
    const TaskDrawFn draw = draw_callback(first);
    if (layer >= lo && layer <= hi && draw != nullptr) draw(&draw_list.entries[i], end - i);
    i = end;
  }
}

void draw_list_draw_all() {
  const int count = static_cast<int>(draw_list.count);
  int i = 0;
  while (i < count) {
    Task* first = draw_list.entries[i];
    int end = i + 1;
    while (end < count) {
      const Task* next = draw_list.entries[end];
      if ((next->subpriority & 0xF) != (first->subpriority & 0xF) || next->type != first->type ||
          (next->sort_key & 0xFFFFu) != (first->sort_key & 0xFFFFu)) {
        break;
      }
      ++end;
    }
    const TaskDrawFn draw = draw_callback(first);
    if (draw != nullptr) draw(&draw_list.entries[i], end - i);
    i = end;
  }
}

void draw_list_reset() {
  std::memset(static_cast<void*>(&draw_list), 0, sizeof(draw_list));
  std::memset(static_cast<void*>(collection), 0, sizeof(collection));
}

const DrawList* draw_list_get() { return &draw_list; }
