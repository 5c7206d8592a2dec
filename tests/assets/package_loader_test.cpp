#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>

#include "assets/asset_registry.h"
#include "assets/crops.h"
#include "assets/model_records.h"
#include "assets/package_builder.h"
#include "assets/package_loader.h"

namespace {

int32_t fault_code = -1;
std::string fault_text;
void record_fault(int32_t code, const char* text) {
  fault_code = code;
  fault_text = text;
}

float fake_percent = 0.0f;
int clock_reads = 0;
// Each read of the clock is 30% of a frame later.
float fake_clock() {
  ++clock_reads;
  return fake_percent += 30.0f;
}

class Loader : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tl_pkg_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    RegistryCapacities c = kRegistryCapacities;
    for (int id = ASSET_POOL_MESHES; id < ASSET_POOL_COUNT; ++id) c.pools[id] = {16, 1024, 1u << 16};
    init_asset_registry(c);
    init_package_loader();
    set_package_loader_roots((dir_ + "/").c_str(), (dir_ + "/other/").c_str(), (dir_ + "/").c_str(), 0);
    set_package_loader_fault_handler(record_fault);
    fault_code = -1;
    fault_text.clear();
  }
  void TearDown() override {
    set_package_loader_fault_handler(nullptr);
    set_package_loader_clock(nullptr);
    shutdown_package_loader();
    shutdown_asset_registry();
    std::system(("rm -rf '" + dir_ + "'").c_str());
  }
  void write(const std::string& name, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen((dir_ + "/" + name).c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  // Steps until idle; the number of steps.
  int run() {
    int steps = 0;
    while (loader_step() == 1 && steps < 1000) ++steps;
    return steps;
  }
  std::vector<uint8_t> two_chunks() {
    std::vector<uint8_t> file;
    add_chunk(&file, CHUNK_TAG_BONE, version_of(CHUNK_TAG_BONE), bone_payload("r", "c"));
    add_chunk(&file, CHUNK_TAG_SPHERE_SET, version_of(CHUNK_TAG_SPHERE_SET), sphere_payload("s"));
    return file;
  }
  std::string dir_;
};

TEST_F(Loader, LoadsAPackageOneChunkPerStep) {
  write("pkg.bin", two_chunks());
  ASSERT_TRUE(enqueue_package("dir\\pkg", 0));
  EXPECT_EQ(loader_progress(), 0.0f);
  EXPECT_EQ(loader_step(), 1);  // next entry
  EXPECT_EQ(loader_step(), 1);  // open, first chunk
  EXPECT_EQ(count_bone_trees(), 1);
  EXPECT_EQ(count_sphere_sets(), 0);
  EXPECT_EQ(loader_step(), 1);  // second chunk
  EXPECT_EQ(count_sphere_sets(), 1);
  EXPECT_EQ(loader_step(), 1);  // end of file
  EXPECT_EQ(loader_step(), 1);  // close
  EXPECT_EQ(loader_step(), 0);
  EXPECT_EQ(fault_code, -1);
  EXPECT_TRUE(is_package_loaded("pkg"));
  EXPECT_STREQ(get_bone_tree_package(1), "pkg");
}

// Progress over a queue of two packages of 252 bytes each (a bone chunk of
// 12 + 180 bytes, a sphere-set chunk of 12 + 48): the entries done of the
// queue plus one, and the current file's bytes read over the queue's length.
TEST_F(Loader, ProgressFollowsTheQueueAndTheFile) {
  ASSERT_EQ(two_chunks().size(), 252u);
  write("one.bin", two_chunks());
  write("two.bin", two_chunks());
  ASSERT_TRUE(enqueue_package("one", 0));
  ASSERT_TRUE(enqueue_package("two", 0));
  const float steps[] = {
      0.0f,                            // next entry
      (192.0f / 252.0f) / 2,           // first chunk of one
      0.5f,                            // second chunk
      0.5f,                            // end of file
      1.0f / 3 + 0.5f,                 // closed: head 1, the counters still those of one
      1.0f / 3,                        // next entry: counters cleared
      1.0f / 3 + (192.0f / 252.0f) / 2,  // first chunk of two
      1.0f / 3 + 0.5f,                 // second chunk
      1.0f / 3 + 0.5f,                 // end of file
      1.0f,                            // closed: the queue is done
  };
  EXPECT_EQ(loader_progress(), 0.0f);
  for (size_t i = 0; i < std::size(steps); ++i) {
    ASSERT_EQ(loader_step(), 1) << i;
    EXPECT_FLOAT_EQ(loader_progress(), steps[i]) << i;
  }
  EXPECT_EQ(loader_step(), 0);
  EXPECT_EQ(loader_progress(), 1.0f);
  EXPECT_EQ(fault_code, -1);
  // A release stops loading and empties the queue.
  RegistryMark mark;
  mark_asset_registry(&mark);
  ASSERT_TRUE(enqueue_package("three", 0));
  EXPECT_EQ(loader_progress(), 0.0f);
  release_asset_registry_to_mark(&mark);
  EXPECT_EQ(package_loader()->tail, 0u);
  EXPECT_EQ(package_loader()->state, 0);
  EXPECT_EQ(loader_progress(), 1.0f);
}

TEST_F(Loader, QueueLimits) {
  EXPECT_FALSE(enqueue_package(nullptr, 0));
  EXPECT_FALSE(enqueue_package(std::string(64, 'n').c_str(), 0));
  EXPECT_TRUE(enqueue_package(std::string(63, 'n').c_str(), 0));
  EXPECT_TRUE(enqueue_package(std::string(63, 'n').c_str(), 0));  // pending: added once
  EXPECT_EQ(package_loader()->tail, 1u);
  for (int i = 1; i < 128; ++i) ASSERT_TRUE(enqueue_package(std::string("q").append(std::to_string(i)).c_str(), 0));
  EXPECT_FALSE(enqueue_package("one_more", 0));
  EXPECT_EQ(package_loader()->state, 1);
  reset_package_loader();
  const std::string too_long(70, 'x');
  const char* names[] = {"a", too_long.c_str(), "b"};
  EXPECT_FALSE(enqueue_packages(names, 3, 0));
  EXPECT_EQ(package_loader()->tail, 2u);
}

TEST_F(Loader, LoadedPackagesAreSkippedByBaseName) {
  write("pkg.bin", two_chunks());
  ASSERT_TRUE(enqueue_package("pkg", 0));
  run();
  ASSERT_TRUE(enqueue_package("dir\\pkg", 0));
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(fault_code, -1);
  // Entries after a skipped one are each looked at in their turn.
  write("two.bin", two_chunks());
  write("three.bin", two_chunks());
  for (const char* name : {"pkg", "two", "pkg", "three"}) ASSERT_TRUE(enqueue_package(name, 0));
  run();
  EXPECT_EQ(fault_code, -1);
  EXPECT_TRUE(is_package_loaded("two"));
  EXPECT_TRUE(is_package_loaded("three"));
}

TEST_F(Loader, TheOtherRootIsTried) {
  ASSERT_EQ(system(("mkdir -p '" + dir_ + "/other'").c_str()), 0);
  write("other/pkg.bin", two_chunks());
  EXPECT_TRUE(package_file_exists("pkg"));
  uint64_t size = 0;
  FILE* f = open_package_file("pkg", "rb", &size);
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  EXPECT_EQ(size, two_chunks().size());
  EXPECT_FALSE(package_file_exists("none"));

  // With a file in both roots, the preferred root's is opened.
  std::vector<uint8_t> longer = two_chunks();
  longer.resize(longer.size() + 8);
  write("pkg.bin", longer);
  for (int32_t preference : {0, 1}) {
    set_package_loader_roots((dir_ + "/").c_str(), (dir_ + "/other/").c_str(), (dir_ + "/").c_str(), preference);
    f = open_package_file("pkg", "rb", &size);
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    EXPECT_EQ(size, preference == 0 ? longer.size() : two_chunks().size()) << preference;
  }
  EXPECT_STREQ(get_data_root(1), (dir_ + "/other/").c_str());
  EXPECT_STREQ(get_texture_root(), (dir_ + "/").c_str());
  // A root of 256 characters or more is left empty.
  const std::string long_root(256, 'r'), longest_kept(255, 'r');
  set_package_loader_roots(long_root.c_str(), longest_kept.c_str(), long_root.c_str(), 0);
  EXPECT_STREQ(get_data_root(0), "");
  EXPECT_STREQ(get_data_root(1), longest_kept.c_str());
  EXPECT_STREQ(get_texture_root(), "");
}

TEST_F(Loader, FaultsStopLoadingWithTheirCode) {
  const std::vector<uint8_t> good = two_chunks();
  std::vector<uint8_t> bad_version;
  add_chunk(&bad_version, CHUNK_TAG_CAMERA_PATH, 2, Blob{});
  std::vector<uint8_t> huge;
  add_chunk(&huge, CHUNK_TAG_BONE, version_of(CHUNK_TAG_BONE), Blob{}, 0xFFFFFFFFu);
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    int32_t code;
    std::string text;
  };
  const std::vector<Case> faults = {
      {"partial header", std::vector<uint8_t>(good.begin(), good.begin() + 5), 2, ""},
      {"partial payload", std::vector<uint8_t>(good.begin(), good.end() - 1), 3, ""},
      {"oversized payload", huge, 3, ""},
      {"wrong version", bad_version, 18, "p3/00000002/01000000"},
  };
  // A package whose first chunks loaded counts as loaded, so each case has its own.
  int n = 0;
  for (const Case& c : faults) {
    const std::string name = "p" + std::to_string(n++);
    write(name + ".bin", c.bytes);
    fault_code = -1;
    ASSERT_TRUE(enqueue_package(name.c_str(), 0));
    ASSERT_TRUE(enqueue_package("next", 0));
    run();
    EXPECT_EQ(fault_code, c.code) << c.what;
    EXPECT_EQ(fault_text, c.text) << c.what;
    // Loading stopped: the queue is empty and the loader idle.
    EXPECT_EQ(package_loader()->state, 0) << c.what;
    EXPECT_EQ(package_loader()->tail, 0u) << c.what;
    EXPECT_EQ(package_loader()->file, nullptr) << c.what;
  }
  ASSERT_TRUE(enqueue_package("dir\\missing", 0));
  run();
  EXPECT_EQ(fault_code, 1);
  EXPECT_EQ(fault_text, "dir\\missing");
}

TEST_F(Loader, PumpStopsAtTheBudget) {
  std::vector<uint8_t> file;
  for (int i = 0; i < 10; ++i) {
    add_chunk(&file, CHUNK_TAG_CAMERA_PATH, version_of(CHUNK_TAG_CAMERA_PATH),
              camera_payload(std::string("c").append(std::to_string(i)).c_str(), 1));
  }
  write("pkg.bin", file);
  set_package_loader_clock(fake_clock);
  ASSERT_TRUE(enqueue_package("pkg", 0));
  fake_percent = 0.0f;
  clock_reads = 0;
  // 30, 60 are below 80; 90 is not: three steps in this frame.
  EXPECT_EQ(pump_package_loader(80.0f), 1);
  EXPECT_EQ(clock_reads, 3);
  EXPECT_EQ(count_camera_paths(), 2);
  fake_percent = -1000.0f;
  EXPECT_EQ(pump_package_loader(80.0f), 0);
  EXPECT_EQ(count_camera_paths(), 10);
  EXPECT_EQ(loader_progress(), 1.0f);
}

TEST_F(Loader, CategoriesLoadTexturesThenCrops) {
  const std::string text = "*cat ui\n*tex sheet.png\n*size 64 32\n*crop 32 0 32 16 button\n*cat hud\n";
  write("tex.lst", std::vector<uint8_t>(text.begin(), text.end()));
  set_package_loader_roots((dir_ + "/").c_str(), (dir_ + "/").c_str(), (dir_ + "/").c_str(), 0);
  ASSERT_TRUE(enqueue_package("ui", 0));
  EXPECT_EQ(package_loader()->queue[0].kind, static_cast<uint32_t>(LOAD_KIND_TEXLIST));
  // Eight steps with more to do (next entry, start, three choices of the
  // next item, texture, crop, close), then the queue is found empty.
  EXPECT_EQ(run(), 8);
  EXPECT_EQ(package_loader()->state, 0);
  EXPECT_EQ(fault_code, -1);
  // No device here, so the texture is passed over; the crop still registers.
  const CropRecord* c = get_crop_record(find_crop("ui", "button"));
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->u, 0.5f);
  EXPECT_EQ(c->height, 0.5f);

  // A category the list no longer holds when its turn comes is a fault.
  ASSERT_TRUE(enqueue_package("hud", 0));
  EXPECT_EQ(package_loader()->queue[0].kind, static_cast<uint32_t>(LOAD_KIND_TEXLIST));
  set_package_loader_roots((dir_ + "/").c_str(), (dir_ + "/").c_str(), (dir_ + "/none/").c_str(), 0);
  run();
  EXPECT_EQ(fault_code, 21);  // no such category
  EXPECT_EQ(fault_text, "hud");
  // A state the loader does not know stops it with its own code and the
  // state in hex.
  const_cast<PackageLoader*>(package_loader())->state = 0x4D;
  EXPECT_EQ(loader_step(), 0);
  EXPECT_EQ(fault_code, 22);
  EXPECT_EQ(fault_text, "0000004d");
  EXPECT_EQ(package_loader()->state, 0);
}

}  // namespace

// The loader's default fault path ends the program with the fatal exit.
TEST(LoaderDeath, FaultEndsTheProgram) {
  EXPECT_EXIT(
      {
        init_asset_registry();
        init_package_loader();
        set_package_loader_roots("/nonexistent/", "/nonexistent/", "/nonexistent/", 0);
        enqueue_package("pkg", 0);
        for (int i = 0; i < 10; ++i) loader_step();
      },
      ::testing::ExitedWithCode(1), "fatal error 1 0 1: pkg");
}
