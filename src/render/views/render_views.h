// Render views: up to eight off-screen targets, each drawn every frame
// before the back buffer with up to three layer ranges of the draw list (the
// second inside a 3D pass of one of the two views). Each view has an owner,
// so kill_owner frees it.
//
// Main thread only.
#pragma once

#include <cstdint>

#include "assets/asset_registry.h"
#include "render/tasks/task.h"

constexpr int kRenderViewCount = 8;
constexpr int kRenderViewNameSize = 33;  // 32 characters and the terminator

struct RenderView {
  char name[kRenderViewNameSize];
  uint8_t in_use;
  uint8_t enabled;
  TaskHandle owner;
  uint32_t width, height;
  AssetHandle target_texture;
  AssetHandle depth_surface;
  AssetHandle crop;
  uint32_t view_index;  // the view the second range is drawn with
  uint32_t clear_colour;
  int32_t ranges[3][2];  // low, high; a low of -1 skips the range
  int32_t viewport[4];   // x, y, width, height
  int32_t scissor[4];
  RenderView* prev;
  RenderView* next;
};

struct RenderViewPool {
  RenderView views[kRenderViewCount];
  RenderView* used;
  RenderView* free;
  int32_t count;
  RegistryMark mark;
  // The names the target texture and crop of each view were registered
  // under; a free view's records carry them again.
  const char* start_names[kRenderViewCount][2];
};

// The package of every view's target texture, depth surface and crop.
constexpr const char* kRenderViewPackage = "rview";

// Graphics start-up: the pool reset, the registry mark, each view named
// "n_%08d" with its index, with a render-target texture, a depth surface
// and a crop registered under that name (sized when the view is created);
// also joins the task system's reset and owner kill.
void render_views_init();
// Graphics shutdown: releases the registry to the pool's mark.
void render_views_shutdown();
// Every view back to the free list in pool order, its resources released.
void render_views_reset();
// The graphics reset and clear: frees every used view, then the reset.
void render_views_on_device_lost();
void render_views_clear();
// Per frame, after the task updates.
void render_views_update();
// Frame render, after the scene begins: each used view draws itself, then
// the back buffer and its depth surface are the targets again.
void render_views_draw_all();

// Null when all eight are in use or the name is null. A longer name is cut
// to 32 characters. The view's target texture and crop take its name, and
// its target and depth surface are made at width x height; when they cannot
// be (no device, a size of 0 or one the device refuses) the creation is
// refused with a message and the view stays free.
RenderView* render_view_create(uint32_t owner, uint32_t width, uint32_t height, const char* name);
// Null, or a view already free, is ignored.
void render_view_free(RenderView* view);
void render_views_free_of_owner(uint32_t owner);
RenderView* render_view_find(const char* name);
void render_view_release_resources(RenderView* view);
void render_view_draw(RenderView* view);
int render_views_count();
uint32_t render_view_hash_name(const char* name);
const RenderViewPool* render_view_pool();
