// The mesh decoder on payloads written in memory: welding, the unwelded
// path, smoothed normals, tangents, bounds, and refusal of broken payloads.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <deque>
#include <random>

#include "assets/asset_names.h"
#include "assets/asset_registry.h"
#include "assets/mdl_builder.h"
#include "assets/mesh_decoder.h"
#include "assets/mesh_records.h"

namespace {

// Queue flag bit 0 asks for the smoothed-normal coordinate set.
constexpr uint32_t kSmoothedNormals = 1;

// Decoded names point into the payload, so the payloads are kept.
DecodedMesh decode(const MdlBuilder& m, uint32_t flags = 0, uint32_t tags = 0) {
  static std::deque<Blob> payloads;
  if (payloads.size() > 4) payloads.pop_front();
  payloads.push_back(m.build());
  DecodedMesh d{};
  EXPECT_TRUE(decode_mesh(&d, "pkg", payloads.back().view(), flags, tags));
  return d;
}

// One triangle per entry of a 3-entry pool, repeated.
MdlBuilder degenerate(uint32_t triangles) {
  MdlBuilder m;
  m.triangles = triangles;
  m.positions = {0, 0, 0, 1, 0, 0, 0, 1, 0};
  for (uint32_t c = 0; c < triangles * 3; ++c) m.position_index.push_back(uint16_t(c % 3));
  return m;
}

TEST(MeshDecoder, CubeWeldsTo24Vertices) {
  const DecodedMesh d = decode(mdl_cube());
  EXPECT_EQ(d.vertex_count, 24u);
  EXPECT_EQ(d.index_count, 36u);
  ASSERT_EQ(d.indices.size(), 36u);
  // Vertices are numbered in the order their first corner appears.
  const uint16_t first_face[6] = {0, 1, 2, 0, 2, 3};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(d.indices[size_t(i)], first_face[i]);
  EXPECT_EQ(d.indices[6], 4);
  EXPECT_EQ(d.positions.size(), 72u);
  EXPECT_EQ(d.normals.size(), 72u);
  EXPECT_TRUE(d.colours.empty());
  EXPECT_EQ(d.coord_set_count, 1u);
  EXPECT_EQ(d.coord_sets[0].components, 2);
  EXPECT_TRUE(d.indices.size() == d.index_count);
  // Vertex 3 is the cube's corner 4 (0, 0, 1) on the -x face.
  EXPECT_EQ(d.positions[9 + 2], 1.0f);
  EXPECT_EQ(d.normals[9], -1.0f);
}

// Two triangles share the corners on positions 1 and 2. Corners weld only
// when all five of their indices agree: a corner of the second triangle that
// differs from its twin in any one attribute becomes a vertex of its own.
TEST(MeshDecoder, IdenticalCornersShareAVertex) {
  MdlBuilder m;
  m.triangles = 2;
  m.positions = {0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0};
  m.position_index = {0, 1, 2, 2, 1, 3};
  m.normals = {0, 0, 1, 0, 0, -1};
  m.normal_index.assign(6, 0);
  m.colours = {0xFF000000u, 0xFFFFFFFFu};
  m.colour_index.assign(6, 0);
  m.coords = {0, 0, 1, 1};
  m.coord_index.assign(6, 0);
  m.skin = {{0}, {1}};
  m.skin_index.assign(6, 0);
  m.skinned = 1;
  m.bone_count = 2;
  const struct {
    const char* what;
    std::vector<uint16_t>* stream;
    uint32_t vertices;
    std::vector<uint16_t> indices;
  } cases[] = {
      {"all alike", nullptr, 4, {0, 1, 2, 2, 1, 3}},
      {"normal", &m.normal_index, 5, {0, 1, 2, 3, 1, 4}},
      {"colour", &m.colour_index, 5, {0, 1, 2, 3, 1, 4}},
      {"texture coordinate", &m.coord_index, 5, {0, 1, 2, 3, 1, 4}},
      {"skin", &m.skin_index, 5, {0, 1, 2, 3, 1, 4}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.stream) (*c.stream)[3] = 1;
    const DecodedMesh d = decode(m);
    EXPECT_EQ(d.vertex_count, c.vertices);
    EXPECT_EQ(d.indices, c.indices);
    if (c.stream) (*c.stream)[3] = 0;
  }
}

TEST(MeshDecoder, TriangleCountChoosesThePath) {
  const struct {
    uint32_t triangles;
    uint32_t vertices, indices;
  } cases[] = {{65534, 3, 196602}, {65535, 196605, 0}};
  for (const auto& c : cases) {
    const DecodedMesh d = decode(degenerate(c.triangles));
    EXPECT_EQ(d.vertex_count, c.vertices) << c.triangles;
    EXPECT_EQ(d.index_count, c.indices) << c.triangles;
    EXPECT_EQ(d.indices.size(), c.indices);
    EXPECT_EQ(d.positions.size(), size_t(c.vertices) * 3);
  }
}

TEST(MeshDecoder, TooManyWeldedVerticesAreExpanded) {
  // 90,000 distinct corners cannot be reached through 16-bit indices.
  MdlBuilder m;
  m.triangles = 30000;
  for (uint32_t i = 0; i < 65536; ++i) m.positions.insert(m.positions.end(), {float(i), 0, 0});
  m.normals = {0, 0, 1, 0, 1, 0};
  for (uint32_t c = 0; c < 90000; ++c) {
    m.position_index.push_back(uint16_t(c % 65536));
    m.normal_index.push_back(uint16_t(c / 65536));
  }
  const DecodedMesh d = decode(m);
  EXPECT_EQ(d.vertex_count, 90000u);
  EXPECT_EQ(d.index_count, 0u);
  EXPECT_TRUE(d.indices.empty());
  EXPECT_EQ(d.normals[size_t(65536) * 3 + 1], 1.0f);
}

TEST(MeshDecoder, StreamsNeedDataAndIndices) {
  MdlBuilder m = mdl_cube();
  m.normal_index.clear();  // pool without index stream: unused
  m.colours = {0xFF112233};
  m.colour_index.assign(36, 0);
  m.skin.push_back({0, 0, 0, 0});
  m.skin_index.assign(36, 0);
  m.bone_count = 1;
  m.skinned = 0;  // skin ignored
  DecodedMesh d = decode(m);
  EXPECT_TRUE(d.normals.empty());
  ASSERT_EQ(d.colours.size(), d.vertex_count);
  EXPECT_EQ(d.colours[0], 0xFF112233u);
  EXPECT_EQ(d.skin_influences, 0u);
  EXPECT_TRUE(d.skin_weights.empty());

  m.skinned = 1;
  m.bone_count = 4;
  std::array<uint8_t, 20> r{2, 0, 3, 1};
  const float w[4] = {0.25f, 0.75f, 0, 0};
  std::memcpy(&r[4], w, 16);
  m.skin[0] = r;
  d = decode(m);
  EXPECT_EQ(d.skin_influences, 4u);
  ASSERT_EQ(d.skin_weights.size(), size_t(d.vertex_count) * 4);
  EXPECT_EQ(d.skin_weights[1], 0.75f);
  ASSERT_EQ(d.skin_indices.size(), size_t(d.vertex_count) * 4);
  const std::vector<uint8_t> bones(d.skin_indices.end() - 4, d.skin_indices.end());
  EXPECT_EQ(bones, (std::vector<uint8_t>{2, 0, 3, 1}));
}

TEST(MeshDecoder, BoundsMaterialsAndBones) {
  MdlBuilder m = mdl_cube();
  const float box[6] = {-1, 1, -2, 2, -3, 3};
  std::memcpy(m.box, box, sizeof box);
  const float sphere[5] = {0.5f, 0.25f, 0.125f, 7.0f, 3.0f};
  std::memcpy(m.sphere, sphere, sizeof sphere);
  m.materials.push_back({"", {4, 5, 6}});
  m.bone_count = 2;
  m.bone_names = {"hip", "knee"};
  std::array<float, 16> id{};
  for (int k = 0; k < 16; k += 5) id[size_t(k)] = 1;
  m.bone_matrices = {id, id};
  m.bone_matrices[1][12] = 4.0f;
  const DecodedMesh d = decode(m);
  const float want_box[6] = {-1, -2, -3, 1, 2, 3};
  for (int k = 0; k < 6; ++k) EXPECT_EQ(d.box[k], want_box[k]);
  for (int k = 0; k < 5; ++k) EXPECT_EQ(d.sphere[k], sphere[k]);
  EXPECT_EQ(d.sphere[5], 9.0f);
  ASSERT_EQ(d.material_count, 2u);
  EXPECT_EQ(d.materials[0].slot_count, 1);
  EXPECT_STREQ(d.materials[0].texture_names[0], "wood.png");
  EXPECT_STREQ(d.materials[0].packages[0], "pkg");
  EXPECT_EQ(d.materials[0].words[2], 3u);
  EXPECT_EQ(d.materials[1].slot_count, 0);
  EXPECT_EQ(d.materials[1].texture_names[0], nullptr);
  ASSERT_EQ(d.bone_count, 2u);
  EXPECT_STREQ(d.bones[1].name, "knee");
  EXPECT_EQ(d.bones[1].hash, 0x00D5DA69u);
  EXPECT_EQ(d.bones[1].matrix.m[12], 4.0f);
}

// Brute-force smoothed normals, as a full pair scan computes them.
std::vector<float> smooth_reference(const MdlBuilder& m) {
  const size_t n = m.positions.size() / 3;
  std::vector<float> s(n * 3, 0.0f);
  std::vector<bool> used(n, false);
  for (size_t c = 0; c < m.position_index.size(); ++c) {
    const size_t p = m.position_index[c];
    used[p] = true;
    for (int k = 0; k < 3; ++k) s[p * 3 + size_t(k)] += m.normals[size_t(m.normal_index[c]) * 3 + size_t(k)];
  }
  for (size_t i = 0; i < n; ++i) {
    for (size_t j = 0; j < n; ++j) {
      if (i == j || !used[i] || !used[j]) continue;
      float d2 = 0;
      for (int k = 0; k < 3; ++k) {
        const float d = m.positions[i * 3 + size_t(k)] - m.positions[j * 3 + size_t(k)];
        d2 += d * d;
      }
      if (!(d2 < 2.5e-5f)) continue;
      for (int k = 0; k < 3; ++k) s[i * 3 + size_t(k)] += s[j * 3 + size_t(k)];
      for (int k = 0; k < 3; ++k) s[j * 3 + size_t(k)] = s[i * 3 + size_t(k)];
    }
  }
  for (size_t i = 0; i < n; ++i) {
    const float l = std::sqrt(s[i * 3] * s[i * 3] + s[i * 3 + 1] * s[i * 3 + 1] + s[i * 3 + 2] * s[i * 3 + 2]);
    if (l > 0)
      for (int k = 0; k < 3; ++k) s[i * 3 + size_t(k)] *= 1.0f / l;
  }
  return s;
}

TEST(MeshDecoder, SmoothedNormalsMergeCloseCorners) {
  const struct {
    float gap;
    bool merged;
  } cases[] = {{0.004f, true}, {0.006f, false}};
  for (const auto& c : cases) {
    MdlBuilder m;
    m.triangles = 2;
    m.positions = {0, 0, 0, 1, 0, 0, 0, 1, 0, c.gap, 0, 0, 1, 1, 0};
    m.normals = {0, 0, 1, 1, 0, 0};
    m.position_index = {0, 1, 2, 3, 4, 2};
    m.normal_index = {0, 0, 0, 1, 1, 1};
    const DecodedMesh d = decode(m, kSmoothedNormals);
    ASSERT_EQ(d.coord_set_count, 2u);
    ASSERT_EQ(d.coord_sets[1].components, 3);
    const float* s0 = &d.coord_sets[1].data[0];
    if (c.merged) {
      EXPECT_NEAR(s0[0], std::sqrt(0.5f), 1e-6f);
      EXPECT_NEAR(s0[2], std::sqrt(0.5f), 1e-6f);
    } else {
      EXPECT_EQ(s0[0], 0.0f);
      EXPECT_EQ(s0[2], 1.0f);
    }
  }
}

// Positions far from the origin fall into cells up to 1e15 wide; the cell
// hash must not overflow there, and coinciding corners still merge.
TEST(MeshDecoder, SmoothedNormalsFarFromTheOrigin) {
  const float far[] = {1e13f, -1e13f, 3e38f, -3e38f, 1e7f};
  for (const float at : far) {
    MdlBuilder m;
    m.triangles = 2;
    m.positions = {at, at, at, at, -at, at, -at, at, at, at, at, at, at, -at, -at};
    m.normals = {0, 0, 1, 1, 0, 0};
    m.position_index = {0, 1, 2, 3, 4, 2};
    m.normal_index = {0, 0, 0, 1, 1, 1};
    const DecodedMesh d = decode(m, kSmoothedNormals);
    ASSERT_EQ(d.coord_set_count, 2u) << at;
    const float* s0 = &d.coord_sets[1].data[0];
    EXPECT_NEAR(s0[0], std::sqrt(0.5f), 1e-6f) << at;
    EXPECT_NEAR(s0[2], std::sqrt(0.5f), 1e-6f) << at;
  }
}

TEST(MeshDecoder, SmoothedNormalsMatchAFullPairScan) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> at(0.0f, 0.03f), dir(-1.0f, 1.0f);
  for (int round = 0; round < 3; ++round) {
    MdlBuilder m;
    m.triangles = 200;
    for (int i = 0; i < 300; ++i) m.positions.insert(m.positions.end(), {at(rng), at(rng), at(rng)});
    for (int i = 0; i < 50; ++i) m.normals.insert(m.normals.end(), {dir(rng), dir(rng), dir(rng)});
    for (int c = 0; c < 600; ++c) {
      m.position_index.push_back(uint16_t(rng() % 300));
      m.normal_index.push_back(uint16_t(rng() % 50));
    }
    const DecodedMesh d = decode(m, kSmoothedNormals);
    const std::vector<float> want = smooth_reference(m);
    for (uint32_t v = 0; v < d.vertex_count; ++v) {
      // Find the vertex's position index through its position.
      size_t p = 0;
      while (p < 300 && (m.positions[p * 3] != d.positions[v * 3] || m.positions[p * 3 + 1] != d.positions[v * 3 + 1] ||
                         m.positions[p * 3 + 2] != d.positions[v * 3 + 2]))
        ++p;
      ASSERT_LT(p, 300u);
      for (int k = 0; k < 3; ++k) EXPECT_EQ(d.coord_sets[1].data[v * 3 + uint32_t(k)], want[p * 3 + size_t(k)]);
    }
  }
}

TEST(MeshDecoder, Tangents) {
  const struct {
    const char* what;
    float uv[6];
    float tangent[3];
    float w;
  } cases[] = {
      {"plain", {0, 0, 1, 0, 0, 1}, {1, 0, 0}, 1},
      {"mirrored u", {0, 0, -1, 0, 0, 1}, {-1, 0, 0}, -1},
      {"degenerate", {0, 0, 1, 1, 2, 2}, {2 / std::sqrt(5.0f), -1 / std::sqrt(5.0f), 0}, 1},
  };
  for (const auto& c : cases) {
    MdlBuilder m;
    m.triangles = 1;
    m.positions = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    m.normals = {0, 0, 1};
    m.coords.assign(c.uv, c.uv + 6);
    m.position_index = {0, 1, 2};
    m.normal_index = {0, 0, 0};
    m.coord_index = {0, 1, 2};
    const DecodedMesh d = decode(m, 0, NAME_TAG_NORMAL_MAP);
    ASSERT_EQ(d.tangents.size(), 12u) << c.what;
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(d.tangents[size_t(k)], c.tangent[k], 1e-6f) << c.what;
    EXPECT_EQ(d.tangents[3], c.w) << c.what;
  }
  // Without normals the tangents fall back to the x axis.
  MdlBuilder m = degenerate(1);
  const DecodedMesh d = decode(m, 0, NAME_TAG_NORMAL_MAP);
  const std::vector<float> want = {1, 0, 0, 1, 1, 0, 0, 1, 1, 0, 0, 1};
  EXPECT_EQ(d.tangents, want);
}

TEST(MeshDecoder, EveryTruncationIsRefused) {
  MdlBuilder m = mdl_cube();
  m.colours = {0xFFFFFFFF};
  m.colour_index.assign(36, 0);
  const Blob whole = m.build();
  MeshPayloadLayout layout;
  ASSERT_TRUE(validate_mesh_payload(whole.view(), &layout));
  for (uint64_t n = 0; n < whole.bytes.size(); ++n) {
    DecodedMesh d{};
    EXPECT_FALSE(decode_mesh(&d, "pkg", PayloadView{whole.bytes.data(), n}, 0, 0)) << n;
    EXPECT_EQ(d.vertex_count, 0u);
  }
}

// Influence slots may name bones the mesh lacks: 255 with weight 0 in an
// unused slot, or any index in a mesh without bones. Such meshes decode, and
// the device mesh clamps the indices to the bones there are.
TEST(MeshDecoder, SkinIndicesPastTheBonesAreAccepted) {
  const struct {
    const char* what;
    std::array<uint8_t, 20> skin;
    uint32_t bones;
  } cases[] = {
      {"skin bone index not below the bone count", {1}, 1},
      {"unused slots hold 255", {0, 255, 255, 255}, 1},
      {"skinned mesh without bones", {3, 255, 255, 255}, 0},
  };
  for (const auto& c : cases) {
    MdlBuilder m = mdl_cube();
    m.skin.push_back(c.skin);
    m.skin_index.assign(36, 0);
    m.bone_count = c.bones;
    m.skinned = 1;
    Blob b = m.build();
    MeshPayloadLayout layout;
    EXPECT_TRUE(validate_mesh_payload(b.view(), &layout)) << c.what;
    DecodedMesh d{};
    EXPECT_TRUE(decode_mesh_welded(&d, "pkg", b.view(), 0, 0)) << c.what;
    free_decoded_mesh(&d);
  }

  struct Clamp {
    std::vector<uint8_t> in;
    uint32_t bones;
    std::vector<uint8_t> out;
  } clamps[] = {
      {{0, 1, 2, 255}, 2, {0, 1, 1, 1}},
      {{0, 1, 2, 255}, 0, {0, 0, 0, 0}},
      {{0, 1, 2, 255}, 1, {0, 0, 0, 0}},
      {{0, 128, 254, 255}, 256, {0, 128, 254, 255}},
      {{7, 255}, 255, {7, 254}},
  };
  for (const Clamp& c : clamps) EXPECT_EQ(clamp_bone_indices(c.in, c.bones), c.out) << c.bones;
}

TEST(MeshDecoder, BrokenLayoutsAreRefused) {
  const struct {
    const char* what;
    void (*change)(MdlBuilder*);
    void (*patch)(Blob*);
  } cases[] = {
      {"no triangles", [](MdlBuilder* m) { m->triangles = 0; }, nullptr},
      {"no positions", [](MdlBuilder* m) { m->position_index.clear(); }, nullptr},
      {"position index past the payload", [](MdlBuilder* m) { m->position_index[5] = 60000; }, nullptr},
      {"normal index past the payload", [](MdlBuilder* m) { m->normal_index[35] = 60000; }, nullptr},
      {"name too long", [](MdlBuilder* m) { m->name.assign(256, 'a'); }, nullptr},
      {"wrapping triangle count", nullptr, [](Blob* b) { b->set(0, 0x2AAAAAABu); }},
      {"huge triangle count", nullptr, [](Blob* b) { b->set(0, 0xFFFFFFFFu); }},
      {"huge material count", nullptr, [](Blob* b) { b->set(27 * 4, 0x10000000u); }},
      {"name offset 0", nullptr, [](Blob* b) { b->set(4, 0); }},
      {"name past the end", nullptr, [](Blob* b) { b->set(4, b->size()); }},
      {"name without a terminator",
       nullptr,
       [](Blob* b) {
         b->set(4, b->size() - 1);
         b->bytes.back() = 'x';
       }},
      {"index stream past the end", nullptr, [](Blob* b) { b->set(7 * 4, b->size() - 4); }},
      {"pool past the end", nullptr, [](Blob* b) { b->set(2 * 4, b->size() - 8); }},
      {"material name past the end", nullptr, [](Blob* b) { b->set(112, 0xFFFFFFF0u); }},
      {"huge bone count with tables",
       nullptr,
       [](Blob* b) {
         b->set(12 * 4, 0x08000000u);
         b->set(14 * 4, 112);
         b->set(15 * 4, 112);
       }},
  };
  for (const auto& c : cases) {
    MdlBuilder m = mdl_cube();
    if (c.change) c.change(&m);
    Blob b = m.build();
    if (c.patch) c.patch(&b);
    DecodedMesh d{};
    MeshPayloadLayout layout;
    EXPECT_FALSE(validate_mesh_payload(b.view(), &layout)) << c.what;
    EXPECT_FALSE(decode_mesh_welded(&d, "pkg", b.view(), 0, 0)) << c.what;
    EXPECT_FALSE(decode_mesh_unwelded(&d, "pkg", b.view(), 0, 0)) << c.what;
    EXPECT_TRUE(d.positions.empty()) << c.what;
  }
}

TEST(MeshDecoder, ChunkHandler) {
  // A malformed payload is refused; an empty one, or one without
  // triangles, is passed over.
  const ChunkContext context{"pkg", 0, nullptr};
  EXPECT_TRUE(decode_mesh_chunk(context, PayloadView{}));
  Blob b = mdl_cube().build();
  b.set(0, 0);
  EXPECT_TRUE(decode_mesh_chunk(context, b.view()));
  b.set(0, 12);
  b.set(4, b.size());
  EXPECT_FALSE(decode_mesh_chunk(context, b.view()));
  std::vector<uint8_t> file;
  add_chunk(&file, CHUNK_TAG_MESH, version_of(CHUNK_TAG_MESH), b);
  const LoaderFault f = load_package_from_memory(context, PayloadView{file.data(), file.size()});
  EXPECT_EQ(f.code, 5);
}

}  // namespace
