#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "assets/asset_registry.h"
#include "assets/crops.h"
#include "assets/model_records.h"
#include "assets/package_builder.h"
#include "assets/package_chunks.h"
#include "assets/textures.h"

namespace {

RegistryCapacities roomy() {
  RegistryCapacities c = kRegistryCapacities;
  for (int id = ASSET_POOL_MESHES; id < ASSET_POOL_COUNT; ++id) c.pools[id] = {8, 1024, 1u << 16};
  return c;
}

const ChunkContext kContext{"pkg", 0, nullptr};

LoaderFault load_one(uint32_t tag, const Blob& payload, uint32_t version = 0) {
  std::vector<uint8_t> file;
  add_chunk(&file, tag, version ? version : version_of(tag), payload);
  return load_package_from_memory(kContext, PayloadView{file.data(), file.size()});
}

class Chunks : public ::testing::Test {
 protected:
  void SetUp() override { init_asset_registry(roomy()); }
  void TearDown() override { shutdown_asset_registry(); }
};

TEST_F(Chunks, EachTagRegistersItsRecord) {
  ASSERT_FALSE(load_one(CHUNK_TAG_BONE, bone_payload("root_NRx", "arm")));
  ASSERT_EQ(count_bone_trees(), 1);
  EXPECT_STREQ(get_bone_tree_name(1), "root");
  EXPECT_STREQ(get_bone_tree_package(1), "pkg");
  EXPECT_EQ(get_bone_tree_record(1)->node_count, 2);
  // The copy's node carries its stripped name and that name's hash.
  const PayloadView tree = bone_tree_view(1);
  EXPECT_STREQ(tree.cstr_at(payload_u32(tree, 72)), "root");
  EXPECT_EQ(payload_u32(tree, 76), 0x004FDF4Bu);
  EXPECT_EQ(count_child_nodes(1, "root", 0), 1);
  EXPECT_STREQ(child_node_name(1, "root", 0, 0), "arm");
  Mat4 m;
  ASSERT_TRUE(get_node_local_matrix(1, "arm", &m));
  EXPECT_EQ(m.m[12], 2.0f);
  ASSERT_TRUE(get_node_model_matrix(1, "arm", &m));
  EXPECT_EQ(m.m[12], 3.0f);  // both translations composed
  EXPECT_EQ(matrix_stack_depth(), 0);
  EXPECT_FALSE(get_node_model_matrix(1, "leg", &m));
  EXPECT_EQ(matrix_stack_depth(), 0);

  ASSERT_FALSE(load_one(CHUNK_TAG_ANIMATION, animation_payload("walk", "arm_SPx", 3, 2)));
  ASSERT_EQ(count_animations(), 1);
  EXPECT_STREQ(get_animation_name(1), "walk");
  EXPECT_EQ(get_animation_track_count(1), 1);
  EXPECT_STREQ(get_animation_track_name(1, 0), "arm");
  EXPECT_EQ(get_animation_track_name(1, 1), nullptr);
  EXPECT_EQ(get_animation_track_keys(1, "arm"), 3);
  const PayloadView anim = animation_view(1);
  const uint32_t track = payload_u32(anim, payload_u32(anim, 12));
  EXPECT_EQ(payload_u32(anim, track + 4), 0x000214EDu);  // the hash of "arm"
  // The keys follow the track's three words: 16 floats counting up.
  const uint8_t* keys = get_animation_track_data(1, "arm");
  ASSERT_NE(keys, nullptr);
  EXPECT_EQ(keys, anim.data + track + 12);
  float key_values[2];
  std::memcpy(key_values, keys + 4, sizeof key_values);
  EXPECT_EQ(key_values[0], 1.0f);
  EXPECT_EQ(key_values[1], 2.0f);
  EXPECT_EQ(get_animation_track_data(1, "leg"), nullptr);
  EXPECT_EQ(get_animation_word1(1), 2u);

  ASSERT_FALSE(load_one(CHUNK_TAG_COLLISION, collision_payload("floor")));
  ASSERT_EQ(count_collisions(), 1);
  EXPECT_STREQ(get_collision_name(1), "floor");
  EXPECT_EQ(count_collision_triangles(1), 1);
  CollisionTriangle t;
  ASSERT_TRUE(get_collision_triangle(1, 0, &t));
  EXPECT_EQ(t.centroid[0], 3.0f * 0.33333334f);
  EXPECT_EQ(t.centroid[1], 3.0f * 0.33333334f);
  EXPECT_EQ(t.v1[0], 3.0f);
  EXPECT_EQ(t.v2[1], 3.0f);
  EXPECT_EQ(t.vector1[2], 1.0f);
  EXPECT_EQ(t.vector2[0], 7.0f);
  EXPECT_EQ(t.vector2[2], 9.0f);
  EXPECT_EQ(t.value, 0.5f);
  EXPECT_FALSE(get_collision_triangle(1, 1, &t));
  EXPECT_FALSE(get_collision_triangle(1, -1, &t));

  ASSERT_FALSE(load_one(CHUNK_TAG_SPHERE_SET, sphere_payload("body")));
  ASSERT_EQ(count_sphere_sets(), 1);
  EXPECT_STREQ(get_sphere_set_name(1), "body");
  EXPECT_FLOAT_EQ(get_sphere_set_record(1)->bounding_radius, 6.0f);

  ASSERT_FALSE(load_one(CHUNK_TAG_CAMERA_PATH, camera_payload("fly", 3)));
  ASSERT_EQ(count_camera_paths(), 1);
  const CameraPathRecord* cam = get_camera_path_record(1);
  EXPECT_STREQ(get_camera_path_name(1), "fly");
  EXPECT_EQ(cam->key_count, 3);
  EXPECT_EQ(cam->word, 0xABCDu);
  EXPECT_EQ(cam->values[1], -2.5f);
  float last;
  std::memcpy(&last, cam->keys + 44, 4);
  EXPECT_EQ(last, 11.0f);

  ASSERT_FALSE(load_one(CHUNK_TAG_CROP, crop_payload()));
  ASSERT_EQ(count_crops(), 2);
  const CropRecord* a = get_crop_record(find_crop("pkg", "a"));
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->v, 0.5f);

  // Without a mesh decoder a mesh chunk is passed over.
  EXPECT_FALSE(load_one(CHUNK_TAG_MESH, Blob{}));
  EXPECT_EQ(count_meshes(), 0);
}

// root { a { g } b } { next }: three children and a grandchild of root; a
// turns a quarter about z, g stands 2 along x of it.
TEST_F(Chunks, BoneTreeWalks) {
  Blob b;
  std::vector<std::pair<uint32_t, const char*>> names;
  static const float kIdentity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  static const float kQuarterTurn[16] = {0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  static const float kAlongX[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 2, 0, 0, 1};
  auto node = [&](const char* name, const float* matrix) {
    b.u32(2);
    for (int i = 0; i < 16; ++i) b.f32(matrix[i]);
    b.u32(1);
    names.emplace_back(b.u32(0), name);
    b.u32(0);
  };
  node("root", kIdentity);
  b.u32(3);
  node("a", kQuarterTurn);
  b.u32(3);
  node("g", kAlongX);
  b.u32(4);
  node("b", kIdentity);
  b.u32(4);
  b.u32(3);  // a push between a matrix and its node hides the matrix
  b.u32(1);
  names.emplace_back(b.u32(0), "next");
  b.u32(0);
  b.u32(4);
  b.u32(5);
  for (const auto& [at, name] : names) b.set(at, b.str(name));
  ASSERT_FALSE(load_one(CHUNK_TAG_BONE, b));
  EXPECT_EQ(count_child_nodes(1, "root", 0), 4);
  EXPECT_EQ(count_child_nodes(1, "root", 1), 3);
  EXPECT_EQ(count_child_nodes(1, "g", 0), 0);
  EXPECT_EQ(count_child_nodes(1, "none", 0), 0);
  EXPECT_STREQ(child_node_name(1, "root", 1, 0), "g");
  EXPECT_STREQ(child_node_name(1, "root", 1, 1), "b");
  EXPECT_STREQ(child_node_name(1, "root", 3, 0), "next");
  EXPECT_EQ(child_node_name(1, "root", 4, 0), nullptr);
  Mat4 m;
  EXPECT_TRUE(get_node_local_matrix(1, "root", &m));
  EXPECT_FALSE(get_node_local_matrix(1, "next", &m));
  EXPECT_FALSE(get_node_local_matrix(1, "none", &m));
  EXPECT_EQ(get_bone_tree_record(1)->node_count, 5);
  ASSERT_TRUE(get_node_local_matrix(1, "g", &m));
  for (int k = 0; k < 16; ++k) EXPECT_EQ(m.m[k], kAlongX[k]) << k;
  // g's own transform first, then a's turn: g stands at (0, 2, 0), turned.
  ASSERT_TRUE(get_node_model_matrix(1, "g", &m));
  const float g[16] = {0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 0, 2, 0, 1};
  for (int k = 0; k < 16; ++k) EXPECT_NEAR(m.m[k], g[k], 1e-6f) << k;
  // Leaving g's level drops g's step; b shares a's level, where a's turn
  // stays (the walk only multiplies).
  ASSERT_TRUE(get_node_model_matrix(1, "b", &m));
  for (int k = 0; k < 16; ++k) EXPECT_EQ(m.m[k], kQuarterTurn[k]) << k;
  EXPECT_EQ(matrix_stack_depth(), 0);
}

TEST_F(Chunks, ChunksLoadInFileOrderAndDuplicatesKeepTheirHandle) {
  std::vector<uint8_t> file;
  add_chunk(&file, CHUNK_TAG_BONE, version_of(CHUNK_TAG_BONE), bone_payload("first", "x"));
  add_chunk(&file, CHUNK_TAG_BONE, version_of(CHUNK_TAG_BONE), bone_payload("second", "y"));
  add_chunk(&file, CHUNK_TAG_BONE, version_of(CHUNK_TAG_BONE), bone_payload("first", "z"));
  ASSERT_FALSE(load_package_from_memory(kContext, PayloadView{file.data(), file.size()}));
  ASSERT_EQ(count_bone_trees(), 2);
  EXPECT_STREQ(get_bone_tree_name(1), "first");
  EXPECT_STREQ(get_bone_tree_name(2), "second");
  EXPECT_EQ(find_bone_tree("pkg", "first"), 1u);
}

TEST_F(Chunks, WrongVersionsAndUnknownTags) {
  // Tags as their four characters in file order, the first in the low byte.
  const struct {
    char letters[5];
    uint32_t version;
    int32_t code, refused;
    const char* text;
  } cases[] = {
      {"MDL ", 0x02000000, 4, 5, "pkg/00000002/02000000"},   {"BONE", 0x01000000, 6, 7, "pkg/00000002/01000000"},
      {"ANIM", 0x02000000, 8, 9, "pkg/00000002/02000000"},   {"COLL", 0x01000000, 10, 11, "pkg/00000002/01000000"},
      {"TEX ", 0x01000000, 12, 13, "pkg/00000002/01000000"}, {"CROP", 0x01000000, 14, 15, "pkg/00000002/01000000"},
      {"SHIT", 0x01000000, 16, 17, "pkg/00000002/01000000"}, {"CAMR", 0x01000000, 18, 19, "pkg/00000002/01000000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.letters);
    uint32_t tag = 0;
    std::memcpy(&tag, c.letters, 4);
    const ChunkKind* kind = find_chunk_kind(tag);
    ASSERT_NE(kind, nullptr);
    EXPECT_EQ(kind->version, c.version);
    EXPECT_EQ(kind->refused_code, c.refused);
    // A byte-swapped version is wrong too.
    const LoaderFault f = load_one(tag, Blob{}, 0x00000002);
    EXPECT_EQ(f.code, c.code);
    EXPECT_EQ(f.text, c.text);
  }
  LoaderFault f = load_one(0x5A595857, Blob{}, 1);
  EXPECT_EQ(f.code, 20);  // an unknown tag
  EXPECT_EQ(f.text, "pkg/WXYZ/5a595857");
  f = load_one(0x00FF0A41, Blob{}, 1);
  EXPECT_EQ(f.text, "pkg/A???" "/00ff0a41");
}

TEST_F(Chunks, EmptyBoneAndCameraChunksAndUnnamedStreamsRegisterNothing) {
  EXPECT_FALSE(load_one(CHUNK_TAG_BONE, Blob{}));
  EXPECT_FALSE(load_one(CHUNK_TAG_CAMERA_PATH, Blob{}));
  Blob unnamed;
  for (uint32_t w : {1u, 0u, 0u, 5u}) unnamed.u32(w);
  EXPECT_FALSE(load_one(CHUNK_TAG_BONE, unnamed));
  EXPECT_EQ(count_bone_trees(), 0);
  EXPECT_EQ(count_camera_paths(), 0);
}

// Payloads that are odd but usable load: a collision grid whose dimensions
// disagree with its cell count (nothing reads them), a bone stream that ends
// with a level still pushed (each walker restores its own depth), and
// sphere-set and camera-path names that keep their tags.
TEST_F(Chunks, OddButUsablePayloadsLoad) {
  Blob grid = collision_payload("grid");
  grid.set(8, 2);
  Blob open_push;
  open_push.u32(1);
  const uint32_t name_at = open_push.u32(0);
  open_push.u32(0);
  open_push.u32(3);
  open_push.u32(5);
  open_push.set(name_at, open_push.str("open"));
  const struct {
    const char* what;
    uint32_t tag;
    Blob payload;
    std::function<bool()> found;
  } cases[] = {
      {"collision grid differs from cell count", CHUNK_TAG_COLLISION, grid,
       [] { return find_collision("pkg", "grid") != 0 && count_collision_triangles(1) == 1; }},
      {"bone stream ends pushed", CHUNK_TAG_BONE, open_push, [] { return find_bone_tree("pkg", "open") != 0; }},
      {"sphere-set name keeps its tag", CHUNK_TAG_SPHERE_SET, sphere_payload("ball_NRx"),
       [] { return find_sphere_set("pkg", "ball_NRx") != 0 && find_sphere_set("pkg", "ball") == 0; }},
      {"camera-path name keeps its tag", CHUNK_TAG_CAMERA_PATH, camera_payload("fly_SPx", 2),
       [] { return find_camera_path("pkg", "fly_SPx") != 0; }},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(load_one(c.tag, c.payload)) << c.what;
    EXPECT_TRUE(c.found()) << c.what;
  }
  Mat4 m;
  EXPECT_FALSE(get_node_model_matrix(find_bone_tree("pkg", "open"), "missing", &m));
  EXPECT_EQ(matrix_stack_depth(), 0);
  // A node with no matrix before it has no local matrix, also when the
  // stream goes on past it.
  Blob bare;
  bare.u32(1);
  const uint32_t first_at = bare.u32(0);
  bare.u32(0);
  bare.u32(2);
  for (int i = 0; i < 16; ++i) bare.f32(i % 5 == 0 ? 1.0f : 0.0f);
  bare.u32(1);
  const uint32_t second_at = bare.u32(0);
  bare.u32(0);
  bare.u32(5);
  bare.set(first_at, bare.str("bare"));
  bare.set(second_at, bare.str("dressed"));
  ASSERT_FALSE(load_one(CHUNK_TAG_BONE, bare));
  EXPECT_FALSE(get_node_local_matrix(find_bone_tree("pkg", "bare"), "bare", &m));
  EXPECT_TRUE(get_node_local_matrix(find_bone_tree("pkg", "bare"), "dressed", &m));
}

// Each malformed payload is refused with its tag's code and changes nothing.
TEST_F(Chunks, MalformedPayloadsAreRefused) {
  const struct {
    const char* what;
    uint32_t tag;
    int32_t code;
    std::function<Blob()> make;
  } cases[] = {
      {"bone without end", CHUNK_TAG_BONE, 7,
       [] {
         Blob b = bone_payload("r", "c");
         b.bytes.resize(b.bytes.size() - 4 - 4 - 4 - 4);  // names and end cut off
         return b;
       }},
      {"bone pop at depth 0", CHUNK_TAG_BONE, 7,
       [] {
         Blob b;
         for (uint32_t w : {4u, 5u}) b.u32(w);
         return b;
       }},
      {"bone 70 pushes", CHUNK_TAG_BONE, 7,
       [] {
         Blob b;
         for (int i = 0; i < 70; ++i) b.u32(3);
         for (int i = 0; i < 70; ++i) b.u32(4);
         b.u32(5);
         return b;
       }},
      {"bone name past end", CHUNK_TAG_BONE, 7,
       [] {
         Blob b;
         for (uint32_t w : {1u, 4000u, 0u, 5u}) b.u32(w);
         return b;
       }},
      {"bone name without terminator", CHUNK_TAG_BONE, 7,
       [] {
         Blob b;
         for (uint32_t w : {1u, 16u, 0u, 5u, 0x41414141u}) b.u32(w);
         return b;
       }},
      {"bone matrix cut short", CHUNK_TAG_BONE, 7,
       [] {
         Blob b;
         for (uint32_t w : {2u, 0u, 0u, 5u}) b.u32(w);
         return b;
       }},
      {"animation track shorter than the animation", CHUNK_TAG_ANIMATION, 9,
       [] { return animation_payload("w", "t", 1, 2); }},
      {"animation huge track count", CHUNK_TAG_ANIMATION, 9,
       [] {
         Blob b = animation_payload("w", "t", 1, 1);
         b.set(0, 0x40000000);
         return b;
       }},
      {"animation track header past end", CHUNK_TAG_ANIMATION, 9,
       [] {
         Blob b = animation_payload("w", "t", 1, 1);
         b.set(payload_u32(b.view(), 12), b.size() - 8);
         return b;
       }},
      {"animation keys past end", CHUNK_TAG_ANIMATION, 9,
       [] {
         Blob b = animation_payload("w", "t", 1, 1);
         b.bytes.resize(b.bytes.size() - 8);
         return b;
       }},
      {"collision triangles past end", CHUNK_TAG_COLLISION, 11,
       [] {
         Blob b = collision_payload("c");
         b.set(b.bytes.size() - 18 * 4 - 48, 0x10000000);
         return b;
       }},
      {"collision entry count wraps", CHUNK_TAG_COLLISION, 11,
       [] {
         Blob b = collision_payload("c");
         b.set(76, 0x08000000);
         return b;
       }},
      {"collision shorter than its header", CHUNK_TAG_COLLISION, 11,
       [] {
         Blob b;
         b.u32(0);
         return b;
       }},
      {"texture name offset 0", CHUNK_TAG_TEXTURE, 13,
       [] {
         Blob b = texture_payload("t");
         b.set(0, 0);
         return b;
       }},
      {"texture data wraps", CHUNK_TAG_TEXTURE, 13,
       [] {
         Blob b = texture_payload("t");
         b.set(8, 0xFFFFFFF8u);
         return b;
       }},
      {"texture shorter than its header", CHUNK_TAG_TEXTURE, 13, [] { return Blob{}; }},
      {"crop count wraps", CHUNK_TAG_CROP, 15,
       [] {
         Blob b = crop_payload();
         b.set(0, 0x08000000);
         return b;
       }},
      {"crop fraction not finite", CHUNK_TAG_CROP, 15,
       [] {
         Blob b = crop_payload();
         b.set(4 + 32 + 16, 0x7FC00000);
         return b;
       }},
      {"sphere count huge", CHUNK_TAG_SPHERE_SET, 17,
       [] {
         Blob b = sphere_payload("s");
         b.set(8, 0x10000000);
         return b;
       }},
      {"camera keys past end", CHUNK_TAG_CAMERA_PATH, 19,
       [] {
         Blob b = camera_payload("c", 1);
         b.set(8, 0x10000001);
         return b;
       }},
  };
  for (const auto& c : cases) {
    const LoaderFault f = load_one(c.tag, c.make());
    EXPECT_EQ(f.code, c.code) << c.what;
    EXPECT_EQ(f.text, "pkg") << c.what;
  }
  EXPECT_EQ(count_bone_trees() + count_animations() + count_collisions() + count_sphere_sets() +
                count_camera_paths() + count_crops() + count_textures(),
            0);
}

// Each offset or length check on its own: the payload at the limit loads,
// one byte past it is refused with the tag's code.
TEST_F(Chunks, EachPayloadLimitRefusesOnlyPastIt) {
  const auto animation_extra = [](uint32_t past) {
    Blob b = animation_payload("w", "t", 1, 1);
    b.set(16, b.size() + past);
    return b;
  };
  // One collision entry (80 bytes) or link (28 bytes) whose offset word is
  // checked against the payload's size.
  const auto collision_entry = [](uint32_t past) {
    Blob b = collision_payload("c");
    const uint32_t at = b.size();
    for (int i = 0; i < 20; ++i) b.u32(0);
    b.set(72, at);
    b.set(76, 1);
    b.set(at + 76, b.size() + past);
    return b;
  };
  const auto collision_link = [](uint32_t past) {
    Blob b = collision_payload("c");
    const uint32_t at = b.size();
    for (int i = 0; i < 7; ++i) b.u32(0);
    b.set(80, at);
    b.set(84, 1);
    b.set(at + 24, b.size() + past);
    return b;
  };
  const auto long_name = [](uint32_t past) { return sphere_payload(std::string(255 + past, 'n').c_str()); };
  const struct {
    const char* what;
    uint32_t tag;
    int32_t code;
    std::function<Blob(uint32_t)> make;
  } cases[] = {
      {"animation extra offset", CHUNK_TAG_ANIMATION, 9, animation_extra},
      {"collision entry offset", CHUNK_TAG_COLLISION, 11, collision_entry},
      {"collision link offset", CHUNK_TAG_COLLISION, 11, collision_link},
      {"name of 255 characters", CHUNK_TAG_SPHERE_SET, 17, long_name},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    init_asset_registry(roomy());
    EXPECT_EQ(load_one(c.tag, c.make(0)).code, LOADER_FAULT_NONE);
    init_asset_registry(roomy());
    const LoaderFault f = load_one(c.tag, c.make(1));
    EXPECT_EQ(f.code, c.code);
    EXPECT_EQ(f.text, "pkg");
  }
}

// A package cut at any byte is refused at a header (2) or a payload (3), or
// loads whole when the cut falls between chunks; it never reads past the cut.
TEST_F(Chunks, TruncatedAtEveryOffset) {
  std::vector<uint8_t> file;
  add_chunk(&file, CHUNK_TAG_BONE, version_of(CHUNK_TAG_BONE), bone_payload("r", "c"));
  const size_t first_end = file.size();
  add_chunk(&file, CHUNK_TAG_SPHERE_SET, version_of(CHUNK_TAG_SPHERE_SET), sphere_payload("s"));
  for (size_t cut = 0; cut <= file.size(); ++cut) {
    init_asset_registry(roomy());
    std::vector<uint8_t> part(file.begin(), file.begin() + static_cast<ptrdiff_t>(cut));
    const LoaderFault f = load_package_from_memory(kContext, PayloadView{part.data(), part.size()});
    const size_t at = cut <= first_end ? cut : cut - first_end;
    if (cut == 0 || cut == first_end || cut == file.size()) {
      EXPECT_FALSE(f) << cut;
    } else if (at < kChunkHeaderBytes) {
      EXPECT_EQ(f.code, 2) << cut;  // a short header
    } else {
      EXPECT_EQ(f.code, 3) << cut;  // a short payload
    }
  }
}

TEST_F(Chunks, OversizedPayloadSizesAreRefused) {
  for (uint32_t size : {0xFFFFFFFFu, 0x80000000u, 13u}) {
    std::vector<uint8_t> file;
    add_chunk(&file, CHUNK_TAG_SPHERE_SET, version_of(CHUNK_TAG_SPHERE_SET), Blob{}, size);
    file.resize(file.size() + 12);
    EXPECT_EQ(load_package_from_memory(kContext, PayloadView{file.data(), file.size()}).code, 3);
  }
}

// The program's own capacities hold no payload: every non-empty record is
// refused, and a sphere set is passed over.
TEST(ChunksProgramCapacities, PayloadRecordsAreRefused) {
  init_asset_registry();
  EXPECT_EQ(load_one(CHUNK_TAG_BONE, bone_payload("r", "c")).code, 7);
  EXPECT_EQ(load_one(CHUNK_TAG_ANIMATION, animation_payload("w", "t", 1, 1)).code, 9);
  EXPECT_EQ(load_one(CHUNK_TAG_COLLISION, collision_payload("c")).code, 11);
  EXPECT_EQ(load_one(CHUNK_TAG_CAMERA_PATH, camera_payload("c", 1)).code, 19);
  EXPECT_FALSE(load_one(CHUNK_TAG_SPHERE_SET, sphere_payload("s")));
  EXPECT_EQ(count_sphere_sets(), 0);
  shutdown_asset_registry();
}

// A copy fits when it ends before the data buffer's last byte.
TEST_F(Chunks, FullDataBufferRefusesWithoutChange) {
  const Blob tree = bone_payload("r", "c");
  ASSERT_EQ(tree.size(), 180u);
  for (const uint32_t bytes : {64u, 180u, 181u}) {
    RegistryCapacities c = roomy();
    c.pools[ASSET_POOL_BONE_TREES].data_bytes = bytes;
    init_asset_registry(c);
    const bool fits = bytes > 180;
    EXPECT_EQ(load_one(CHUNK_TAG_BONE, tree).code, fits ? LOADER_FAULT_NONE : 7) << bytes;
    EXPECT_EQ(count_bone_trees(), fits ? 1 : 0) << bytes;
    EXPECT_EQ(get_asset_pool(ASSET_POOL_BONE_TREES)->names.used, fits ? 2u : 0u) << bytes;
    EXPECT_EQ(get_asset_pool(ASSET_POOL_BONE_TREES)->data.used, fits ? 180u : 0u) << bytes;
  }
  // A sphere set whose copy does not fit is refused too (the loader passes
  // it over).
  RegistryCapacities c = roomy();
  c.pools[ASSET_POOL_SPHERE_SETS].data_bytes = 16;
  init_asset_registry(c);
  const Blob spheres = sphere_payload("s");
  EXPECT_EQ(register_sphere_set("pkg", "s", spheres.bytes.data(), spheres.size()), 0u);
  EXPECT_FALSE(load_one(CHUNK_TAG_SPHERE_SET, spheres));
  EXPECT_EQ(count_sphere_sets(), 0);
  EXPECT_EQ(get_asset_pool(ASSET_POOL_SPHERE_SETS)->names.used, 0u);
}

// Each copy starts at the first 4-byte boundary after the one before.
TEST_F(Chunks, PayloadCopiesStartOnFourByteBoundaries) {
  Blob odd = bone_payload("first", "x");
  const uint32_t odd_size = odd.size() + 2;
  odd.bytes.resize(odd_size, 0xEE);  // bytes after the end operation are kept, not read
  ASSERT_FALSE(load_one(CHUNK_TAG_BONE, odd));
  ASSERT_FALSE(load_one(CHUNK_TAG_BONE, bone_payload("second", "y")));
  const ByteBuffer& data = get_asset_pool(ASSET_POOL_BONE_TREES)->data;
  EXPECT_EQ(get_bone_tree_record(1)->data, reinterpret_cast<const uint8_t*>(data.start));
  EXPECT_EQ(get_bone_tree_record(1)->size, odd_size);
  EXPECT_EQ(get_bone_tree_record(2)->data - reinterpret_cast<const uint8_t*>(data.start), int64_t(odd_size + 2));
  EXPECT_STREQ(child_node_name(2, "second", 0, 0), "y");
}

// Triangles are counted over every cell, and triangle i is found in the
// cell that holds it.
TEST_F(Chunks, CollisionTrianglesAcrossCells) {
  Blob b;
  const uint32_t cells = collision_grid(&b, "two", 2);
  const uint32_t counts[2] = {1, 2};
  for (uint32_t cell = 0; cell < 2; ++cell) {
    b.set(cells + 48 * cell, counts[cell]);
    b.set(cells + 48 * cell + 4, b.size());
    for (uint32_t t = 0; t < counts[cell]; ++t) {
      const float first = float(10 * cell + t);  // 0 in cell 0; 10, 11 in cell 1
      for (int k = 0; k < 18; ++k) b.f32(k == 0 ? first : float(k));
    }
  }
  ASSERT_FALSE(load_one(CHUNK_TAG_COLLISION, b));
  EXPECT_EQ(count_collision_triangles(1), 3);
  const float firsts[3] = {0, 10, 11};
  for (int32_t i = 0; i < 3; ++i) {
    CollisionTriangle t;
    ASSERT_TRUE(get_collision_triangle(1, i, &t)) << i;
    EXPECT_EQ(t.v0[0], firsts[i]) << i;
    EXPECT_EQ(t.value, 15.0f) << i;
  }
  CollisionTriangle t;
  EXPECT_FALSE(get_collision_triangle(1, 3, &t));
}

TEST_F(Chunks, ReleaseRewindsNamesAndCopies) {
  RegistryMark mark{};
  mark_asset_registry(&mark);
  ASSERT_FALSE(load_one(CHUNK_TAG_ANIMATION, animation_payload("walk", "arm", 1, 1)));
  EXPECT_GT(get_asset_pool(ASSET_POOL_ANIMATIONS)->data.used, 0u);
  release_asset_registry_to_mark(&mark);
  EXPECT_EQ(count_animations(), 0);
  EXPECT_EQ(get_asset_pool(ASSET_POOL_ANIMATIONS)->data.used, 0u);
  EXPECT_EQ(get_asset_pool(ASSET_POOL_ANIMATIONS)->names.used, 0u);
}

}  // namespace
