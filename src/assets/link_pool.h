// Link nodes: short chains of mesh references that a model instance keeps
// for its parts. Ten nodes in a free list; a chain is built at the free-list
// head, committed, and later freed back to the front of the list.
#pragma once

#include <cstdint>

#include "assets/asset_handle.h"

struct MeshInfo;

enum { LINK_POOL_NODES = 10 };

struct LinkNode {
  AssetHandle mesh;
  uint32_t word;  // supplied by the caller, 0 when none
  float value;    // 0.0 when made
  const MeshInfo* info;
  uint32_t unused;
  LinkNode* next;
};

struct LinkPool {
  LinkNode nodes[LINK_POOL_NODES];
  uint32_t scratch[LINK_POOL_NODES];
  LinkNode* free_head;
  // The chain under construction.
  LinkNode* build_next;
  LinkNode* build_last;
  int32_t build_count;
  int32_t in_use;
  int32_t capacity;
  int32_t peak_in_use;
};

// Chains every node into the free list in order; nothing in use.
void link_pool_reset();
void link_chain_begin();
// Appends the mesh found by package and name; false, and no node used, when
// no such mesh exists or no free node remains.
bool link_chain_append(const char* package, const char* mesh_name, const uint32_t* word);
// Ends the chain: *first = its first node and true, or null and false for an
// empty chain.
bool link_chain_commit(LinkNode** first);
// Returns a committed chain to the free list. A null chain, a node outside
// the pool or one already free is refused, so a chain freed twice cannot
// loop the free list.
void link_chain_free(LinkNode* first);
// Ten words of temporary storage for the 3D scene's drawing.
uint32_t* link_pool_scratch();
int32_t link_pool_in_use();
int32_t link_pool_peak();
