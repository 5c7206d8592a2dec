#include "render/views/render_views.h"

#include <cstdio>
#include <cstring>

#include "assets/crops.h"
#include "assets/depth_surfaces.h"
#include "assets/device_bindings.h"
#include "assets/textures.h"
#include "render/device/gfx_resources.h"
#include "render/device/render_states.h"
#include "render/tasks/draw_list.h"
#include "render/tasks/task.h"
#include "render/view/view_state.h"
#include "scene3d/part_render.h"

namespace {

RenderViewPool pool;

void push_front(RenderView** head, RenderView* v) {
  v->prev = nullptr;
  v->next = *head;
  if (*head != nullptr) (*head)->prev = v;
  *head = v;
}

void unlink_used(RenderView* v) {
  if (v->prev != nullptr) v->prev->next = v->next;
  else pool.used = v->next;
  if (v->next != nullptr) v->next->prev = v->prev;
  v->prev = v->next = nullptr;
}

void free_used_views() {
  while (pool.used != nullptr) render_view_free(pool.used);
}

int view_index(const RenderView* v) { return static_cast<int>(v - pool.views); }

void rename_record(RecordHead* head, const char* name) {
  head->name = name;
  head->name_hash = render_view_hash_name(name);
}

// The target texture and the crop named after the view.
void rename_resources(RenderView* v, const char* texture_name, const char* crop_name) {
  if (TextureRecord* t = get_texture_record(v->target_texture)) rename_record(&t->head, texture_name);
  if (CropRecord* c = get_crop_record(v->crop)) rename_record(&c->head, crop_name);
}

// A 1 x 1 render target, depth surface and crop under the view's start-up
// name; creation sizes them.
void register_resources(RenderView* v) {
  v->target_texture = create_render_target_texture(kRenderViewPackage, v->name, 1, 1, 0);
  v->depth_surface = create_depth_surface(kRenderViewPackage, v->name, 1, 1, 0);
  v->crop = register_crop_of_texture(kRenderViewPackage, v->name, 0, 0, 1, 1, v->target_texture);
  const int i = view_index(v);
  const TextureRecord* t = get_texture_record(v->target_texture);
  const CropRecord* c = get_crop_record(v->crop);
  pool.start_names[i][0] = t != nullptr ? t->head.name : nullptr;
  pool.start_names[i][1] = c != nullptr ? c->head.name : nullptr;
  render_view_release_resources(v);
}

bool resources_sized(const RenderView* v) {
  const TextureObject* t = get_texture_object(v->target_texture);
  const DepthSurfaceObject* d = get_depth_surface_object(v->depth_surface);
  return t != nullptr && t->surface != nullptr && d != nullptr && d->surface != nullptr;
}

}  // namespace

void render_views_init() {
  std::memset(static_cast<void*>(&pool), 0, sizeof(pool));
  render_views_reset();
  mark_asset_registry(&pool.mark);
  for (int i = 0; i < kRenderViewCount; ++i) {
    RenderView& v = pool.views[i];
    std::snprintf(v.name, sizeof(v.name), "n_%08d", i);
    v.target_texture = v.depth_surface = v.crop = 0;
    register_resources(&v);
  }
  tasks_set_owner_hook(kOwnerHookRenderView, render_views_free_of_owner, render_views_reset);
}

void render_views_shutdown() {
  // The records carry their start-up names again before the registry lets
  // them go, so its name storage unwinds whole.
  for (RenderView& v : pool.views) render_view_release_resources(&v);
  release_asset_registry_to_mark(&pool.mark);
}

void render_views_reset() {
  pool.free = nullptr;
  for (int i = kRenderViewCount - 1; i >= 0; --i) {
    RenderView& v = pool.views[i];
    render_view_release_resources(&v);
    v.in_use = 0;
    push_front(&pool.free, &v);
  }
  pool.used = nullptr;
  pool.count = 0;
}

void render_views_on_device_lost() {
  free_used_views();
  render_views_reset();
}

void render_views_clear() {
  free_used_views();
  render_views_reset();
}

// Nothing in a view changes from frame to frame; the hook keeps its place in
// the frame driver.
void render_views_update() {}

void render_views_draw_all() {
  if (pool.used == nullptr) return;
  for (RenderView* v = pool.used; v != nullptr; v = v->next) render_view_draw(v);
  gfx_set_render_targets(gfx_back_buffer_target(), 0, gfx_saved_depth_record());
}

RenderView* render_view_create(uint32_t owner, uint32_t width, uint32_t height, const char* name) {
  if (pool.free == nullptr || name == nullptr) return nullptr;
  RenderView* v = pool.free;
  pool.free = v->next;
  if (pool.free != nullptr) pool.free->prev = nullptr;
  push_front(&pool.used, v);
  std::memset(v->name, 0, sizeof(v->name));
  v->in_use = 1;
  v->enabled = 1;
  v->owner = owner;
  v->width = width;
  v->height = height;
  v->view_index = 0;
  v->clear_colour = 0;
  for (auto& range : v->ranges) range[0] = range[1] = -1;
  const int32_t rect[4] = {0, 0, static_cast<int32_t>(width), static_cast<int32_t>(height)};
  std::memcpy(v->viewport, rect, sizeof(rect));
  std::memcpy(v->scissor, rect, sizeof(rect));
  if (get_texture_record(v->target_texture) != nullptr && get_crop_record(v->crop) != nullptr) {
    std::snprintf(v->name, sizeof(v->name), "%s", name);
    rename_resources(v, v->name, v->name);
    resize_texture(v->target_texture, rect[2], rect[3], 0);
    resize_depth_surface(v->depth_surface, rect[2], rect[3], 0);
    set_crop_pixels(v->crop, 0, 0, rect[2], rect[3], v->target_texture);
  }
  if (!resources_sized(v)) {
    // A view without a target of its own could only draw over the back
    // buffer.
    std::fprintf(stderr, "tamberlune: render view \"%s\" of %u x %u cannot be made: no target of that size\n", name,
                 width, height);
    v->in_use = 0;
    unlink_used(v);
    push_front(&pool.free, v);
    render_view_release_resources(v);
    return nullptr;
  }
  ++pool.count;
  return v;
}

void render_view_free(RenderView* v) {
  if (v == nullptr || !v->in_use) return;
  v->in_use = 0;
  unlink_used(v);
  push_front(&pool.free, v);
  render_view_release_resources(v);
  --pool.count;
}

void render_views_free_of_owner(uint32_t owner) {
  if (owner == 0) return;
  for (RenderView* v = pool.used; v != nullptr;) {
    RenderView* next = v->next;
    if (v->owner == owner) render_view_free(v);
    v = next;
  }
}

RenderView* render_view_find(const char* name) {
  if (name == nullptr) return nullptr;
  for (RenderView* v = pool.used; v != nullptr; v = v->next) {
    if (std::strcmp(v->name, name) == 0) return v;
  }
  return nullptr;
}

void render_view_release_resources(RenderView* v) {
  if (v == nullptr) return;
  const int i = view_index(v);
  if (i >= 0 && i < kRenderViewCount && pool.start_names[i][0] != nullptr)
    rename_resources(v, pool.start_names[i][0], pool.start_names[i][1]);
  if (get_crop_record(v->crop) != nullptr) set_crop_pixels(v->crop, 0, 0, 0, 0, 0);
  if (get_depth_surface_record(v->depth_surface) != nullptr) resize_depth_surface(v->depth_surface, 0, 0, 0);
  if (get_texture_record(v->target_texture) != nullptr) resize_texture(v->target_texture, 0, 0, 0);
}

void render_view_draw(RenderView* v) {
  // A view without a target of its own would draw over the back buffer.
  if (v == nullptr || !v->enabled || !resources_sized(v)) return;
  gfx_set_render_targets(v->target_texture, 0, get_depth_surface_object(v->depth_surface));
  gfx_set_viewport_rect(v->viewport[0], v->viewport[1], v->viewport[2], v->viewport[3]);
  gfx_set_scissor_rect(v->scissor[0], v->scissor[1], v->scissor[2], v->scissor[3]);
  gfx_clear(4, v->clear_colour);
  if (v->ranges[0][0] != -1) draw_list_draw_layers(v->ranges[0][0], v->ranges[0][1]);
  const int view = static_cast<int>(v->view_index);
  if (v->ranges[1][0] != -1 && view <= 1 && view_is_enabled(view)) {
    int x = 0, y = 0, w = 0, h = 0;
    get_viewport(view, &x, &y, &w, &h);
    const float aspect = get_viewport_aspect(view);
    const float own_aspect = v->viewport[3] != 0 ? static_cast<float>(v->viewport[2]) / v->viewport[3] : 1.0f;
    set_viewport(view, v->viewport[0], v->viewport[1], v->viewport[2], v->viewport[3], own_aspect);
    scenepass_apply_view(view, 0);
    draw_list_draw_layers(v->ranges[1][0], v->ranges[1][1]);
    part_render_reset_state();
    set_viewport(view, x, y, w, h, aspect);
  }
  if (v->ranges[2][0] != -1) draw_list_draw_layers(v->ranges[2][0], v->ranges[2][1]);
}

int render_views_count() { return pool.count; }

uint32_t render_view_hash_name(const char* name) { return name != nullptr ? hash_name(name) : 0; }

const RenderViewPool* render_view_pool() { return &pool; }
