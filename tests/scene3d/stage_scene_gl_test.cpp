#include <gtest/gtest.h>

#include <cstring>

#include "scene_package_session.h"

#include <string>
#include <vector>

#include "assets/model_records.h"
#include "assets/package_loader.h"
#include "assets/package_builder.h"
#include "render/tasks/task.h"
#include "render/view/view_state.h"
#include "scene3d/instancing.h"
#include "scene3d/part_api.h"
#include "scene3d/part_classes.h"
#include "scene3d/stage_scene.h"

namespace {

// Past the frame budget: the pump takes one loader step per update.
float late_in_frame() { return 100.0f; }

class StageSceneTest : public ScenePackageSession {
 protected:
  void SetUp() override {
    start_package_scene("stage scene test");
    set_package_loader_clock(late_in_frame);
  }
  void TearDown() override {
    stage_scene_set_table(nullptr, 0);
    set_package_loader_clock(nullptr);
    ScenePackageSession::TearDown();
  }
};

TEST_F(StageSceneTest, LoadsInstancesAndReleasesEverythingItMade) {
  char* name = stage_scene_begin_default(0);
  ASSERT_NE(name, nullptr);
  EXPECT_STREQ(name, "s1_dummy");
  EXPECT_EQ(stage_scene_state()->word, -1);
  const uint32_t owner = stage_scene_state()->owner;
  ASSERT_NE(owner, 0u);
  Task* own = create_prim_part_persistent(owner, nullptr, nullptr, 0, kDrawnLayer);
  ASSERT_NE(own, nullptr);

  // State 0: view 0's settings, the package queued.
  EXPECT_FALSE(stage_scene_update());
  EXPECT_EQ(stage_scene_state()->state, 1);
  EXPECT_EQ(get_fog_enable(0), 1);
  EXPECT_EQ(get_fog_start(0), 500.0f);
  EXPECT_FLOAT_EQ(get_camera_fov(0), 1.0471976f);
  EXPECT_FLOAT_EQ(get_near(0), 0.1f);

  // State 1 while the loader works: nothing is instanced yet.
  int loading_updates = 0;
  while (stage_scene_state()->state == 1 && loading_updates < 100) {
    EXPECT_FALSE(stage_scene_update());
    if (stage_scene_state()->state == 1) {
      ++loading_updates;
      EXPECT_EQ(find_stage_instance("_s"), nullptr);
    }
  }
  EXPECT_GT(loading_updates, 2);
  ASSERT_EQ(stage_scene_state()->state, 2);

  // State 2: the stage stands, with its wall and its dummy node.
  Task* stage = find_stage_instance("_s");
  ASSERT_NE(stage, nullptr);
  EXPECT_TRUE(task_is_static_part(stage));
  EXPECT_NE(get_stage_instances()->collision, 0u);
  EXPECT_EQ(get_stage_instances()->collision, find_collision("s1", "s1_wall"));
  Mat4 spot;
  ASSERT_TRUE(stage_find_dummy_node(&spot, "spot"));
  EXPECT_EQ(spot.m[12], 5.0f);
  EXPECT_FALSE(stage_find_dummy_node(&spot, "nowhere"));
  EXPECT_TRUE(stage_scene_update());
  EXPECT_TRUE(stage_scene_update());

  stage_scene_end();
  EXPECT_EQ(find_mesh("s1", "rock"), 0u);
  EXPECT_EQ(find_bone_tree("s1", "s1_s"), 0u);
  EXPECT_EQ(find_bone_tree("s1", "s1_dummy"), 0u);
  EXPECT_EQ(find_collision("s1", "s1_wall"), 0u);
  EXPECT_FALSE(task_is_alive(own));
  EXPECT_FALSE(task_is_alive(stage));
  EXPECT_FALSE(stage_find_dummy_node(&spot, "spot"));
}

TEST_F(StageSceneTest, EndingWhileLoadingStopsTheLoader) {
  ASSERT_NE(stage_scene_begin(0, 7), nullptr);
  EXPECT_EQ(stage_scene_state()->word, 7);
  stage_scene_update();
  stage_scene_update();
  stage_scene_update();
  ASSERT_EQ(stage_scene_state()->state, 1);
  stage_scene_end();
  // Nothing of the package is registered afterwards.
  EXPECT_TRUE(load_all());
  EXPECT_EQ(find_mesh("s1", "rock"), 0u);
  EXPECT_EQ(find_bone_tree("s1", "s1_dummy"), 0u);
  EXPECT_EQ(find_collision("s1", "s1_wall"), 0u);
}

// The callbacks of a test entry say when they ran.
std::vector<std::string> calls;
void after_load() { calls.push_back(get_stage_instances()->collision == 0 ? "load" : "load after instancing"); }
void after_instance() { calls.push_back(get_stage_instances()->collision != 0 ? "instance" : "instance before"); }
void on_done() { calls.push_back("done"); }
void on_release() { calls.push_back("release"); }

TEST_F(StageSceneTest, EntryWithoutAStageNameQueuesNothingAndIsInstancedAtOnce) {
  // What the nameless stage finds: the wall and the dummy tree of the empty
  // package name, registered before the stage begins.
  const Blob wall = collision_payload("_wall");
  const AssetHandle wall_handle = register_collision("", "_wall", wall.bytes.data(), wall.size());
  ASSERT_NE(wall_handle, 0u);
  const Blob dummy = bone_payload("_dummy", "spot", 0.0f, 7.0f);
  ASSERT_NE(register_bone_tree("", "_dummy", dummy.bytes.data(), dummy.size()), 0u);
  static const StageEntry entries[] = {
      {"stage", nullptr, 20.0f, 90.0f, 0xFF102030u, {0.0f, 0.0f, 1.0f}, {1.0f, 0.0f, 0.0f},
       {0x00010203u, 0x00040506u, 0xFF070809u, 0xFF0A0B0Cu}, 0.75f, 0.5f, 300.0f, 250.0f, {0.0f, 0.0f}, nullptr,
       after_load, after_instance, on_done, on_release},
      {"stage", "s2", 0.0f, 0.0f, 0u, {}, {}, {}, 0.0f, 0.0f, 0.0f, 0.0f, {}, nullptr, nullptr, nullptr, nullptr,
       nullptr},
  };
  stage_scene_set_table(entries, 2);
  calls.clear();
  EXPECT_EQ(stage_entry_at(0), &entries[0]);
  EXPECT_EQ(stage_entry_at(1), &entries[1]);
  EXPECT_EQ(stage_entry_at(2), nullptr);

  ASSERT_STREQ(stage_scene_begin_default(0), "_dummy");
  EXPECT_FALSE(stage_scene_update());
  ASSERT_EQ(stage_scene_state()->state, 1);
  // The empty name is a registered package here, so the loader would skip it
  // unseen; the queue itself shows nothing was asked for.
  EXPECT_EQ(package_loader()->state, 0);
  EXPECT_EQ(package_loader()->tail, package_loader()->head);
  // Every setting of the entry reaches view 0.
  run_frame(0);
  EXPECT_EQ(get_fog_enable(0), 1);
  EXPECT_EQ(get_fog_start(0), 20.0f);
  EXPECT_EQ(get_fog_end(0), 90.0f);
  EXPECT_EQ(get_fog_color(0), 0xFF102030u);
  EXPECT_EQ(get_light_record(0)->direction.z, 1.0f);
  EXPECT_EQ(get_light_axis(0)->x, 1.0f);
  const uint32_t colours[4] = {0x00010203u, 0x00040506u, 0xFF070809u, 0xFF0A0B0Cu};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(get_light_color(0, i), colours[i]) << i;
  EXPECT_FLOAT_EQ(get_camera_fov(0), 0.75f);
  EXPECT_FLOAT_EQ(get_near(0), 0.5f);
  EXPECT_FLOAT_EQ(get_far(0), 300.0f);
  EXPECT_FLOAT_EQ(get_far_limit(0), 250.0f);

  // Nothing queued: the very next update finds the loader done and
  // instances the stage of the empty name.
  EXPECT_FALSE(stage_scene_update());
  EXPECT_EQ(stage_scene_state()->state, 2);
  EXPECT_EQ(get_stage_instances()->collision, wall_handle);
  Mat4 spot;
  ASSERT_TRUE(stage_find_dummy_node(&spot, "spot"));
  EXPECT_EQ(spot.m[12], 7.0f);
  EXPECT_TRUE(stage_scene_update());
  stage_scene_end();
  const std::vector<std::string> want = {"load", "instance", "done", "release"};
  EXPECT_EQ(calls, want);
  // Registered before the begin, the nameless package outlives the stage.
  EXPECT_EQ(find_collision("", "_wall"), wall_handle);
  // The swap starts afresh: the stage left behind at index 1 points past
  // the built-in table of one.
  ASSERT_STREQ(stage_scene_begin_default(1), "s2_dummy");
  stage_scene_end();
  stage_scene_set_table(nullptr, 0);
  EXPECT_STREQ(stage_entry_package(0), "stage");
  ASSERT_EQ(stage_current_index(), 0u);
  EXPECT_STREQ(stage_current_subname(), "s1");
  EXPECT_STREQ(stage_scene_state()->name, "");
}

TEST_F(StageSceneTest, TableAndAccessors) {
  EXPECT_EQ(stage_scene_begin(1, 0), nullptr);  // past the table: nothing begun
  EXPECT_EQ(stage_scene_begin(0xFFFFFFFFu, 0), nullptr);
  EXPECT_STREQ(stage_entry_package(0), "stage");
  EXPECT_EQ(stage_entry_package(1), nullptr);
  ASSERT_NE(stage_scene_begin_default(0), nullptr);
  EXPECT_EQ(stage_current_index(), 0u);
  EXPECT_STREQ(stage_current_subname(), "s1");
  const struct {
    uint32_t key;
    bool found;
  } keys[] = {{0, true}, {64, true}, {3, false}, {128, false}};
  for (const auto& k : keys) {
    const uint32_t* v = stage_current_lookup(k.key);
    EXPECT_EQ(v != nullptr, k.found) << k.key;
    if (v != nullptr) {
      EXPECT_EQ(*v, 0u) << k.key;
    }
  }
  stage_scene_end();
}

}  // namespace
