// The 3D drawing tests' scene: graphics on a hidden window, view 0 looking
// from (0, 0, -10) at the origin with a vertical field of 90 degrees (the
// 2 x 2 quad at the origin covers 12 x 12 pixels at the centre), a registry
// with room for a few meshes, and quads registered as device meshes.
#pragma once

#include "assets/asset_registry.h"
#include "assets/mesh_decoder.h"
#include "assets/mesh_records.h"
#include "graphics_session.h"
#include "render/movie/movie_textures.h"
#include "render/view/view_state.h"
#include "render/views/render_views.h"
#include "scene3d/part_render.h"

class PartSceneSession : public GraphicsSession {
 protected:
  static constexpr int kW = 160, kH = 120;
  static constexpr int kCx = kW / 2, kCy = kH / 2;
  static constexpr uint8_t kDrawnLayer = 30;

  void start_scene(const char* title) {
    start_graphics(kW, kH, title);
    gfx_set_clear_colour(0xFF000000u);
    const Vec3 eye{0, 0, -10}, target{0, 0, 0}, up{0, 1, 0};
    set_camera_look_at(0, &eye, &target, &up);
    set_camera_fov(0, 1.57079633f);
    set_viewport_rect(0, 0, 0, kW, kH);
    set_near_far(0, 1.0f, 200.0f, 200.0f);
    set_fog_enable(0, 0);
    // The live registry holds one mesh; these tests need a few. The render
    // views and movie slots keep records (and their names) from start-up:
    // they let them go before the registry is made again and register anew.
    render_views_shutdown();
    movie_tex_shutdown();
    RegistryCapacities c = kRegistryCapacities;
    for (int id = ASSET_POOL_MESHES; id <= ASSET_POOL_BONE_ENTRIES; ++id) c.pools[id] = {8, 256, 0};
    init_asset_registry(c);
    movie_tex_init();
    render_views_init();
  }
  void TearDown() override {
    part_render_reset_state();
    GraphicsSession::TearDown();
  }

  // A 2 x 2 quad in the xy plane at depth z, coloured per vertex, drawing
  // `triangles` from `first_triangle`; its bounding sphere round its middle,
  // moved sphere_z along z. With two materials each triangle is one.
  static AssetHandle add_quad(const char* name, uint32_t colour, float z, uint32_t first_triangle = 0,
                              uint32_t triangles = 2, float sphere_z = 0.0f, uint32_t materials = 1) {
    DecodedMesh d{};
    d.positions = {-1, 1, z, 1, 1, z, -1, -1, z, 1, -1, z};
    d.normals = {0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1};
    d.colours = {colour, colour, colour, colour};
    d.coord_sets[0].data = {0, 0, 1, 0, 0, 1, 1, 1};
    d.coord_sets[0].components = 2;
    d.coord_set_count = 1;
    d.indices = {0, 1, 2, 2, 1, 3};
    d.vertex_count = 4;
    d.index_count = 6;
    d.materials.resize(materials);
    for (uint32_t m = 0; m < materials; ++m) {
      d.materials[m].words[0] = materials == 1 ? first_triangle : m;
      d.materials[m].words[1] = materials == 1 ? triangles : 1;
    }
    d.material_count = materials;
    const float sphere[6] = {0, 0, z + sphere_z, 0, 1.5f, 2.25f};
    for (int k = 0; k < 6; ++k) d.sphere[k] = sphere[k];
    return register_mesh("parts", name, d, 0);
  }
};
