// The 3D drawing scene with the model pools opened up and the packages of
// tools/make_package in a fresh folder that the loader reads from.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include "assets/package_loader.h"
#include "part_scene_session.h"

class ScenePackageSession : public PartSceneSession {
 protected:
  void start_package_scene(const char* title) {
    start_scene(title);
    shutdown_asset_registry();
    RegistryCapacities c = kRegistryCapacities;
    for (int id = ASSET_POOL_MESHES; id < ASSET_POOL_COUNT; ++id) c.pools[id] = {16, 1024, 1u << 16};
    c.pools[ASSET_POOL_BONE_ENTRIES] = {512, 1u << 12, 1u << 16};  // the long bone lists of the skin packages
    init_asset_registry(c);
    folder = (std::filesystem::temp_directory_path() / ("tl_scene_packages_" + std::to_string(::getpid()))).string();
    std::filesystem::create_directories(folder);
    const std::string command = std::string(TL_MAKE_PACKAGE) + " " + folder;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const std::string root = folder + "/";
    set_package_loader_roots(root.c_str(), root.c_str(), root.c_str(), 0);
  }
  void TearDown() override {
    reset_package_loader();
    PartSceneSession::TearDown();
    std::filesystem::remove_all(folder);
  }
  // Loads the queue to its end; false when it takes unreasonably long.
  static bool load_all() {
    for (int steps = 0; steps < 1000; ++steps)
      if (loader_step() == 0) return true;
    return false;
  }

  std::string folder;
};
