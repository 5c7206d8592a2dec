// The draw list: once per rendered frame, every visible task gathered layer
// by layer from 63 down to 0, each layer ordered by sort key, largest first.
// Drawing hands each run of tasks sharing layer, sub-priority and type to
// the type's draw callback in one call, so a higher layer is drawn first
// (underneath) and layer 10 last (on top).
//
// Main thread only.
#pragma once

#include <cstdint>

#include "render/tasks/task.h"

struct DrawList {
  uint32_t ready;  // 0 while being built
  uint32_t count;
  Task* entries[kTaskPoolSize];
};

void draw_list_build();
// Collects one layer starting at its first task into out; returns the number
// of entries written. Sorted: keys refreshed from the base key and the
// type's key, then ordered descending. Unsorted: list order.
int draw_list_collect_sorted(Task* first, Task** out);
int draw_list_collect_unsorted(Task* first, Task** out);
// Draws every run whose layer lies in lo..hi, both inclusive.
void draw_list_draw_layers(int lo, int hi);
// Draws every run whatever its layer; runs are cut where the sub-priority,
// the type or the type's own key changes.
void draw_list_draw_all();
void draw_list_reset();
const DrawList* draw_list_get();

// Orders tasks by their stored sort keys, descending (unsigned). The sort is
// not stable: equal keys come out in the order its partitions and final
// insertion pass leave them, and the draw order of overlapping sprites of
// one layer depends on it.
void draw_list_sort(Task** entries, int count);
