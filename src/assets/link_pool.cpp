#include "assets/link_pool.h"

#include <algorithm>

#include "assets/model_records.h"
#include "assets/registry_internal.h"

namespace {

LinkPool& pool() { return registry_block().links; }

bool in_pool(const LinkNode* node) {
  const LinkNode* first = pool().nodes;
  return node >= first && node < first + LINK_POOL_NODES;
}

bool is_free(const LinkNode* node) {
  for (const LinkNode* n = pool().free_head; n; n = n->next) {
    if (n == node) return true;
  }
  return false;
}

}  // namespace

void link_pool_reset() {
  LinkPool& p = pool();
  for (int i = 0; i < LINK_POOL_NODES; ++i) {
    p.nodes[i] = LinkNode{};
    p.nodes[i].next = i + 1 < LINK_POOL_NODES ? &p.nodes[i + 1] : nullptr;
  }
  p.free_head = &p.nodes[0];
  p.build_next = nullptr;
  p.build_last = nullptr;
  p.build_count = 0;
  p.in_use = 0;
  p.capacity = LINK_POOL_NODES;
}

void link_chain_begin() {
  LinkPool& p = pool();
  p.build_next = p.free_head;
  p.build_last = nullptr;
  p.build_count = 0;
}

bool link_chain_append(const char* package, const char* mesh_name, const uint32_t* word) {
  LinkPool& p = pool();
  const AssetHandle mesh = find_mesh(package, mesh_name);
  if (mesh == 0 || !p.build_next) return false;
  LinkNode* node = p.build_next;
  node->mesh = mesh;
  node->word = word ? *word : 0;
  node->value = 0.0f;
  node->info = get_mesh_record(mesh)->info;
  p.build_last = node;
  p.build_next = node->next;
  ++p.build_count;
  return true;
}

bool link_chain_commit(LinkNode** first) {
  LinkPool& p = pool();
  const bool made = p.build_count > 0;
  if (made) {
    *first = p.free_head;
    p.free_head = p.build_next;
    p.build_last->next = nullptr;
  } else {
    *first = nullptr;
  }
  p.in_use += p.build_count;
  p.peak_in_use = std::max(p.peak_in_use, p.in_use);
  p.build_next = nullptr;
  p.build_last = nullptr;
  p.build_count = 0;
  return made;
}

void link_chain_free(LinkNode* first) {
  if (!in_pool(first) || is_free(first)) return;
  LinkPool& p = pool();
  LinkNode* last = first;
  int32_t length = 1;
  while (last->next && length < LINK_POOL_NODES) {
    last = last->next;
    ++length;
  }
  last->next = p.free_head;
  p.free_head = first;
  p.in_use -= length;
}

uint32_t* link_pool_scratch() { return pool().scratch; }

int32_t link_pool_in_use() { return pool().in_use; }

int32_t link_pool_peak() { return pool().peak_in_use; }
