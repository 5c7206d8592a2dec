// Owner handles and the per-owner record pool.
#include <cstring>

#include "render/tasks/task.h"

namespace {

constexpr uint8_t kHandleInUse = 1u << 0;
constexpr uint8_t kHandleKeep = 1u << 1;

struct HandleMap {
  uint8_t entries[kOwnerHandleCount];  // entry 0 is never used
  uint32_t count;
};

struct OwnerRecordPool {
  OwnerRecord records[kOwnerRecordCount];
  OwnerRecord* free_head;
  OwnerRecord* used_head;
  uint32_t count;
};

HandleMap handles;
OwnerRecordPool owner_records;

bool handle_valid(uint32_t handle) { return handle != 0 && handle < kOwnerHandleCount; }

void record_push_front(OwnerRecord** head, OwnerRecord* record) {
  record->prev = nullptr;
  record->next = *head;
  if (*head != nullptr) (*head)->prev = record;
  *head = record;
}

void record_unlink(OwnerRecord** head, OwnerRecord* record) {
  if (record->prev != nullptr) {
    record->prev->next = record->next;
  } else {
    *head = record->next;
  }
  if (record->next != nullptr) record->next->prev = record->prev;
  record->prev = nullptr;
  record->next = nullptr;
}

bool record_in_pool(const OwnerRecord* record) {
  const OwnerRecord* first = owner_records.records;
  return record >= first && record < first + kOwnerRecordCount;
}

}  // namespace

uint32_t handle_alloc() {
  for (uint32_t h = 1; h < kOwnerHandleCount; ++h) {
    if (handles.entries[h] != 0) continue;
    handles.entries[h] = kHandleInUse;
    ++handles.count;
    return h;
  }
  return 0;
}

void handle_free(uint32_t handle) {
  if (!handle_valid(handle) || handles.entries[handle] == 0) return;
  handles.entries[handle] = 0;
  --handles.count;
}

void handle_pin(uint32_t handle) {
  if (!handle_valid(handle) || (handles.entries[handle] & kHandleInUse) == 0) return;
  handles.entries[handle] |= kHandleKeep;
}

void handles_release_unpinned() {
  for (uint32_t h = 1; h < kOwnerHandleCount; ++h) {
    const uint8_t entry = handles.entries[h];
    if ((entry & kHandleInUse) == 0 || (entry & kHandleKeep) != 0) continue;
    kill_owner(h);
    // kill_owner may have run callbacks that freed the handle already.
    if (handles.entries[h] != 0) {
      handles.entries[h] = 0;
      --handles.count;
    }
  }
}

uint32_t handle_count() { return handles.count; }

void handles_reset() { std::memset(&handles, 0, sizeof(handles)); }

OwnerRecord* owner_record_alloc(uint32_t owner) {
  OwnerRecord* record = owner_records.free_head;
  if (record == nullptr) return nullptr;
  record_unlink(&owner_records.free_head, record);
  std::memset(static_cast<void*>(record), 0, sizeof(OwnerRecord));
  record_push_front(&owner_records.used_head, record);
  record->owner = owner;
  record->in_use = 1;
  ++owner_records.count;
  return record;
}

void owner_record_free(OwnerRecord* record) {
  if (record == nullptr || !record_in_pool(record) || record->in_use == 0) return;
  record->in_use = 0;
  record_unlink(&owner_records.used_head, record);
  record_push_front(&owner_records.free_head, record);
  --owner_records.count;
}

void owner_records_free_of_owner(uint32_t owner) {
  if (owner == 0) return;
  OwnerRecord* record = owner_records.used_head;
  while (record != nullptr) {
    OwnerRecord* next = record->next;
    if (record->owner == owner) owner_record_free(record);
    record = next;
  }
}

uint32_t owner_records_count() { return owner_records.count; }

void owner_records_reset() {
  std::memset(static_cast<void*>(&owner_records), 0, sizeof(owner_records));
  for (int i = kOwnerRecordCount - 1; i >= 0; --i) {
    record_push_front(&owner_records.free_head, &owner_records.records[i]);
  }
}
