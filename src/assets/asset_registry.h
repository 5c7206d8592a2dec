// The asset registry: marks taken and released newest first.
#pragma once

#include <cstdint>

struct RegistryMark {
  uint32_t counts[16];
};

RegistryMark* mark_asset_registry(RegistryMark* mark);
void release_asset_registry_to_mark(const RegistryMark* mark);
