// Asset handles: the 1-based index of a record in one pool of the asset
// registry; 0 names no record.
#pragma once

#include <cstdint>

using AssetHandle = uint32_t;

inline AssetHandle handle_from_index(int32_t index) { return static_cast<AssetHandle>(index) + 1; }

// handle - 1 when that lies in 0..count-1, else -1.
inline int32_t index_from_handle(AssetHandle handle, int32_t count) {
  if (handle == 0 || count <= 0 || handle > static_cast<uint32_t>(count)) return -1;
  return static_cast<int32_t>(handle - 1);
}
