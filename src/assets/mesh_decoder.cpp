#include "assets/mesh_decoder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>

#include "assets/asset_names.h"
#include "assets/asset_registry.h"
#include "assets/mesh_records.h"
#include "assets/model_records.h"
#include "assets/package_chunks.h"

namespace {

// Header words.
enum : uint32_t {
  W_TRIANGLES = 0,
  W_NAME = 1,
  W_POSITIONS = 2,
  W_NORMALS = 3,
  W_COORDS = 4,
  W_SKIN = 5,
  W_COLOURS = 6,
  W_POSITION_INDICES = 7,
  W_NORMAL_INDICES = 8,
  W_COORD_INDICES = 9,
  W_SKIN_INDICES = 10,
  W_COLOUR_INDICES = 11,
  W_BONES = 12,
  W_SKINNED = 13,
  W_BONE_NAMES = 14,
  W_BONE_MATRICES = 15,
  W_BOX = 16,
  W_SPHERE = 22,
  W_MATERIALS = 27,
};

// The five attributes of a corner, in the order the welder compares them.
enum Attribute { A_POSITION, A_NORMAL, A_COLOUR, A_COORD, A_SKIN, A_COUNT };

struct Stream {
  uint32_t pool;     // data offset
  uint32_t indices;  // index-stream offset
  uint32_t stride;
  bool used;
};

uint32_t word(PayloadView p, uint32_t w) { return payload_u32(p, uint64_t(w) * 4); }

float word_f(PayloadView p, uint32_t w) {
  float f = 0.0f;
  p.f32_at(uint64_t(w) * 4, &f);
  return f;
}

std::array<Stream, A_COUNT> streams_of(PayloadView p) {
  std::array<Stream, A_COUNT> s{};
  s[A_POSITION] = {word(p, W_POSITIONS), word(p, W_POSITION_INDICES), 12, false};
  s[A_NORMAL] = {word(p, W_NORMALS), word(p, W_NORMAL_INDICES), 12, false};
  s[A_COLOUR] = {word(p, W_COLOURS), word(p, W_COLOUR_INDICES), 4, false};
  s[A_COORD] = {word(p, W_COORDS), word(p, W_COORD_INDICES), 8, false};
  s[A_SKIN] = {word(p, W_SKIN), word(p, W_SKIN_INDICES), kMeshSkinBytes, false};
  for (Stream& x : s) x.used = x.pool != 0 && x.indices != 0;
  s[A_SKIN].used = s[A_SKIN].used && word(p, W_SKINNED) != 0;
  return s;
}

uint16_t index_at(PayloadView p, const Stream& s, uint64_t corner) {
  uint16_t v;
  std::memcpy(&v, p.data + s.indices + corner * 2, 2);
  return v;
}

bool name_ok(PayloadView p, uint32_t offset) {
  const char* s = p.cstr_at(offset);
  return s && std::strlen(s) <= kPayloadNameMax;
}

// The decoder's own small vector operations.
struct V3 {
  float x, y, z;
};
V3 add(V3 a, V3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
V3 sub(V3 a, V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
V3 scale(V3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }
float dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
V3 cross(V3 a, V3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
// A zero vector stays zero.
V3 normalize(V3 a) {
  const float l = std::sqrt(dot(a, a));
  return l > 0.0f ? scale(a, 1.0f / l) : a;
}

V3 load3(const uint8_t* at) {
  V3 v;
  std::memcpy(&v, at, 12);
  return v;
}

V3 get3(const std::vector<float>& v, uint32_t i) { return {v[size_t(i) * 3], v[size_t(i) * 3 + 1], v[size_t(i) * 3 + 2]}; }

// Reads one decoder's worth of state from a validated payload.
struct Source {
  PayloadView p;
  MeshPayloadLayout layout;
  std::array<Stream, A_COUNT> s;

  uint16_t attr(Attribute a, uint64_t corner) const { return s[a].used ? index_at(p, s[a], corner) : 0; }
  const uint8_t* pool(Attribute a, uint32_t i) const { return p.data + s[a].pool + uint64_t(i) * s[a].stride; }
};

// Appends the attributes of one corner as the next vertex.
void emit_vertex(DecodedMesh* m, const Source& src, uint64_t corner) {
  V3 pos = load3(src.pool(A_POSITION, src.attr(A_POSITION, corner)));
  m->positions.insert(m->positions.end(), {pos.x, pos.y, pos.z});
  if (src.s[A_NORMAL].used) {
    V3 n = load3(src.pool(A_NORMAL, src.attr(A_NORMAL, corner)));
    m->normals.insert(m->normals.end(), {n.x, n.y, n.z});
  }
  if (src.s[A_COLOUR].used) {
    uint32_t c;
    std::memcpy(&c, src.pool(A_COLOUR, src.attr(A_COLOUR, corner)), 4);
    m->colours.push_back(c);
  }
  float uv[2] = {0.0f, 0.0f};
  if (src.s[A_COORD].used) std::memcpy(uv, src.pool(A_COORD, src.attr(A_COORD, corner)), 8);
  m->coord_sets[0].data.insert(m->coord_sets[0].data.end(), {uv[0], uv[1]});
  if (src.s[A_SKIN].used) {
    const uint8_t* r = src.pool(A_SKIN, src.attr(A_SKIN, corner));
    m->skin_indices.insert(m->skin_indices.end(), r, r + 4);
    float w[4];
    std::memcpy(w, r + 4, 16);
    m->skin_weights.insert(m->skin_weights.end(), w, w + 4);
  }
}

struct CellKey {
  int64_t x, y, z;
  bool operator==(const CellKey&) const = default;
};
struct CellHash {
  size_t operator()(const CellKey& k) const {
    return std::hash<int64_t>()(k.x * 73856093 ^ k.y * 19349663 ^ k.z * 83492791);
  }
};

// Cells twice the merge distance wide: two positions closer than it lie in
// the same or neighbouring cells.
constexpr double kSmoothCell = 0.01;

int64_t cell_of(float v) { return int64_t(std::floor(std::clamp(double(v) / kSmoothCell, -1e15, 1e15))); }

// Per position index, the normalised sum of the normals of every corner on
// it, merged with the sums of positions closer than the merge distance. Pairs
// are visited as a full scan would (i ascending, then each close j
// ascending), only found through a grid instead of tested one by one.
std::vector<float> smoothed_normals(const Source& src) {
  const uint64_t corners = uint64_t(src.layout.triangles) * 3;
  uint32_t highest = 0;
  for (uint64_t c = 0; c < corners; ++c) highest = std::max<uint32_t>(highest, src.attr(A_POSITION, c));
  const uint32_t n = highest + 1;
  std::vector<V3> sums(n, V3{0, 0, 0});
  std::vector<uint8_t> used(n, 0);
  for (uint64_t c = 0; c < corners; ++c) {
    const uint16_t p = src.attr(A_POSITION, c);
    used[p] = 1;
    if (src.s[A_NORMAL].used) sums[p] = add(sums[p], load3(src.pool(A_NORMAL, src.attr(A_NORMAL, c))));
  }
  std::vector<V3> pos(n);
  std::unordered_map<CellKey, std::vector<uint32_t>, CellHash> grid;
  for (uint32_t i = 0; i < n; ++i) {
    if (!used[i]) continue;
    pos[i] = load3(src.pool(A_POSITION, i));
    // A position that is not finite is never close to another.
    if (!std::isfinite(pos[i].x) || !std::isfinite(pos[i].y) || !std::isfinite(pos[i].z)) continue;
    grid[CellKey{cell_of(pos[i].x), cell_of(pos[i].y), cell_of(pos[i].z)}].push_back(i);
  }
  std::vector<uint32_t> close;
  for (uint32_t i = 0; i < n; ++i) {
    if (!used[i] || !std::isfinite(pos[i].x) || !std::isfinite(pos[i].y) || !std::isfinite(pos[i].z)) continue;
    const CellKey k{cell_of(pos[i].x), cell_of(pos[i].y), cell_of(pos[i].z)};
    close.clear();
    for (int64_t dx = -1; dx <= 1; ++dx)
      for (int64_t dy = -1; dy <= 1; ++dy)
        for (int64_t dz = -1; dz <= 1; ++dz) {
          auto it = grid.find(CellKey{k.x + dx, k.y + dy, k.z + dz});
          if (it == grid.end()) continue;
          for (uint32_t j : it->second) {
            const V3 d = sub(pos[i], pos[j]);
            if (j != i && dot(d, d) < kMeshSmoothDistanceSq) close.push_back(j);
          }
        }
    std::sort(close.begin(), close.end());
    for (uint32_t j : close) {
      sums[i] = add(sums[i], sums[j]);
      sums[j] = sums[i];
    }
  }
  std::vector<float> out(size_t(n) * 3);
  for (uint32_t i = 0; i < n; ++i) {
    const V3 v = normalize(sums[i]);
    out[size_t(i) * 3] = v.x;
    out[size_t(i) * 3 + 1] = v.y;
    out[size_t(i) * 3 + 2] = v.z;
  }
  return out;
}

// Tangents need normals and texture coordinates; without them every vertex
// gets the x axis.
void compute_tangents(DecodedMesh* m, const Source& src) {
  const uint32_t v = m->vertex_count;
  if (m->normals.empty() || !src.s[A_COORD].used) {
    m->tangents.assign(size_t(v) * 4, 0.0f);
    for (uint32_t i = 0; i < v; ++i) {
      m->tangents[size_t(i) * 4] = 1.0f;
      m->tangents[size_t(i) * 4 + 3] = 1.0f;
    }
    return;
  }
  std::vector<V3> s_acc(v, V3{0, 0, 0}), t_acc(v, V3{0, 0, 0});
  const std::vector<float>& uv = m->coord_sets[0].data;
  for (uint32_t t = 0; t < src.layout.triangles; ++t) {
    uint32_t vi[3];
    for (int c = 0; c < 3; ++c) vi[c] = m->indices.empty() ? 3 * t + uint32_t(c) : m->indices[size_t(t) * 3 + size_t(c)];
    const V3 pa = get3(m->positions, vi[0]), pb = get3(m->positions, vi[1]), pc = get3(m->positions, vi[2]);
    const V3 e1 = sub(pb, pa), e2 = sub(pc, pa);
    const float ds1 = uv[size_t(vi[1]) * 2] - uv[size_t(vi[0]) * 2];
    const float ds2 = uv[size_t(vi[2]) * 2] - uv[size_t(vi[0]) * 2];
    const float dt1 = uv[size_t(vi[1]) * 2 + 1] - uv[size_t(vi[0]) * 2 + 1];
    const float dt2 = uv[size_t(vi[2]) * 2 + 1] - uv[size_t(vi[0]) * 2 + 1];
    const float det = ds1 * dt2 - ds2 * dt1;
    const float r = (det == 0.0f || std::isnan(det)) ? 1.0f : 1.0f / det;
    const V3 sdir = scale(sub(scale(e1, dt2), scale(e2, dt1)), r);
    const V3 tdir = scale(sub(scale(e2, ds1), scale(e1, ds2)), r);
    for (uint32_t k : vi) {
      s_acc[k] = add(s_acc[k], sdir);
      t_acc[k] = add(t_acc[k], tdir);
    }
  }
  m->tangents.resize(size_t(v) * 4);
  for (uint32_t i = 0; i < v; ++i) {
    const V3 n = get3(m->normals, i), s = s_acc[i];
    const V3 tan = normalize(sub(s, scale(n, dot(n, s))));
    float* out = &m->tangents[size_t(i) * 4];
    out[0] = tan.x;
    out[1] = tan.y;
    out[2] = tan.z;
    out[3] = dot(cross(n, s), t_acc[i]) < 0.0f ? -1.0f : 1.0f;
  }
}

// What both decoders do once the vertices are made: the optional coordinate
// set, tangents, materials, bones, counts and bounds. first_corner[v] is the
// corner that vertex v was taken from.
void finish_mesh(DecodedMesh* m, const Source& src, const char* package, const std::vector<uint32_t>& first_corner,
                 uint32_t flags, uint32_t tags) {
  const PayloadView p = src.p;
  m->coord_sets[0].components = 2;
  m->coord_set_count = 1;
  if (flags & kMeshFlagSmoothedNormals) {
    const std::vector<float> smooth = smoothed_normals(src);
    DecodedCoordSet& set = m->coord_sets[1];
    set.components = 3;
    set.data.resize(size_t(m->vertex_count) * 3);
    for (uint32_t v = 0; v < m->vertex_count; ++v) {
      const uint16_t pi = src.attr(A_POSITION, first_corner[v]);
      std::memcpy(&set.data[size_t(v) * 3], &smooth[size_t(pi) * 3], 12);
    }
    m->coord_set_count = 2;
  }
  if (tags & NAME_TAG_NORMAL_MAP) compute_tangents(m, src);
  m->skin_influences = src.s[A_SKIN].used ? 4 : 0;
  m->material_count = src.layout.materials;
  m->materials.resize(m->material_count);
  for (uint32_t i = 0; i < m->material_count; ++i) {
    DecodedMaterial& mat = m->materials[i];
    mat = DecodedMaterial{};
    const uint64_t at = kMeshHeaderBytes + uint64_t(i) * kMeshMaterialBytes;
    const uint32_t name = payload_u32(p, at);
    for (int k = 0; k < 3; ++k) mat.words[k] = payload_u32(p, at + 4 + uint64_t(k) * 4);
    mat.packages[0] = package;
    mat.texture_names[0] = name ? p.cstr_at(name) : nullptr;
    mat.slot_count = name ? 1 : 0;
  }
  m->bone_count = src.layout.bones;
  m->bones.resize(m->bone_count);
  for (uint32_t i = 0; i < m->bone_count; ++i) {
    DecodedBone& b = m->bones[i];
    const uint32_t name = payload_u32(p, word(p, W_BONE_NAMES) + uint64_t(i) * 4);
    b.name = name ? p.cstr_at(name) : nullptr;
    b.hash = hash_name(b.name);
    std::memcpy(b.matrix.m, p.data + word(p, W_BONE_MATRICES) + uint64_t(i) * kMeshBoneMatrixBytes, 64);
  }
  m->index_count = uint32_t(m->indices.size());
  const float box[6] = {word_f(p, W_BOX),     word_f(p, W_BOX + 2), word_f(p, W_BOX + 4),
                        word_f(p, W_BOX + 1), word_f(p, W_BOX + 3), word_f(p, W_BOX + 5)};
  std::memcpy(m->box, box, sizeof box);
  for (int k = 0; k < 5; ++k) m->sphere[k] = word_f(p, W_SPHERE + uint32_t(k));
  m->sphere[5] = m->sphere[4] * m->sphere[4];
}

bool open_source(Source* src, PayloadView payload) {
  src->p = payload;
  if (!validate_mesh_payload(payload, &src->layout)) return false;
  src->s = streams_of(payload);
  return true;
}

void decode_unwelded(DecodedMesh* out, const Source& src, const char* package, uint32_t flags, uint32_t tags) {
  const uint64_t corners = uint64_t(src.layout.triangles) * 3;
  std::vector<uint32_t> first_corner(corners);
  for (uint64_t c = 0; c < corners; ++c) {
    emit_vertex(out, src, c);
    first_corner[c] = uint32_t(c);
  }
  out->vertex_count = uint32_t(corners);
  finish_mesh(out, src, package, first_corner, flags, tags);
}

}  // namespace

bool validate_mesh_payload(PayloadView p, MeshPayloadLayout* layout) {
  *layout = MeshPayloadLayout{};
  if (!p.data || p.size < kMeshHeaderBytes) return false;
  const uint32_t triangles = word(p, W_TRIANGLES);
  const uint32_t materials = word(p, W_MATERIALS);
  if (triangles == 0 || !p.span_at(kMeshHeaderBytes, materials, kMeshMaterialBytes)) return false;
  if (word(p, W_NAME) == 0 || !name_ok(p, word(p, W_NAME))) return false;
  for (uint32_t i = 0; i < materials; ++i) {
    const uint32_t name = payload_u32(p, kMeshHeaderBytes + uint64_t(i) * kMeshMaterialBytes);
    if (name && !name_ok(p, name)) return false;
  }
  const auto s = streams_of(p);
  if (!s[A_POSITION].used) return false;
  const uint64_t corners = uint64_t(triangles) * 3;
  const uint32_t bone_count = word(p, W_BONES);
  for (int a = 0; a < A_COUNT; ++a) {
    const Stream& st = s[size_t(a)];
    if (!st.used) continue;
    if (!p.span_at(st.indices, corners, 2)) return false;
    uint32_t highest = 0;
    for (uint64_t c = 0; c < corners; ++c) highest = std::max<uint32_t>(highest, index_at(p, st, c));
    // Influence slots may name bones the mesh lacks (255 in unused slots);
    // the device mesh clamps them.
    if (!p.span_at(st.pool, uint64_t(highest) + 1, st.stride)) return false;
  }
  uint32_t bones = 0;
  if (bone_count && word(p, W_BONE_NAMES) && word(p, W_BONE_MATRICES)) {
    if (!p.span_at(word(p, W_BONE_NAMES), bone_count, 4)) return false;
    if (!p.span_at(word(p, W_BONE_MATRICES), bone_count, kMeshBoneMatrixBytes)) return false;
    for (uint32_t i = 0; i < bone_count; ++i) {
      const uint32_t name = payload_u32(p, word(p, W_BONE_NAMES) + uint64_t(i) * 4);
      if (name && !name_ok(p, name)) return false;
    }
    bones = bone_count;
  }
  layout->triangles = triangles;
  layout->name = p.cstr_at(word(p, W_NAME));
  layout->positions = true;
  layout->normals = s[A_NORMAL].used;
  layout->coords = s[A_COORD].used;
  layout->skin = s[A_SKIN].used;
  layout->colours = s[A_COLOUR].used;
  layout->bones = bones;
  layout->materials = materials;
  return true;
}

bool decode_mesh_welded(DecodedMesh* out, const char* package, PayloadView payload, uint32_t flags, uint32_t tags) {
  free_decoded_mesh(out);
  Source src;
  if (!open_source(&src, payload)) return false;
  const uint32_t corners = src.layout.triangles * 3;
  // Corners sorted by their five attribute indices, the corner id last, so a
  // run of equal corners starts with its smallest id.
  std::vector<uint32_t> order(corners);
  std::vector<std::array<uint16_t, A_COUNT>> attrs(corners);
  for (uint32_t c = 0; c < corners; ++c) {
    order[c] = c;
    for (int a = 0; a < A_COUNT; ++a) attrs[c][size_t(a)] = src.attr(Attribute(a), c);
  }
  std::sort(order.begin(), order.end(), [&attrs](uint32_t a, uint32_t b) {
    return attrs[a] != attrs[b] ? attrs[a] < attrs[b] : a < b;
  });
  std::vector<uint32_t> representative(corners);
  for (uint32_t i = 0; i < corners;) {
    uint32_t j = i;
    while (j < corners && attrs[order[j]] == attrs[order[i]]) representative[order[j++]] = order[i];
    i = j;
  }
  std::vector<uint32_t> vertex_of(corners), first_corner;
  for (uint32_t c = 0; c < corners; ++c) {
    if (representative[c] == c) {
      vertex_of[c] = uint32_t(first_corner.size());
      first_corner.push_back(c);
    } else {
      vertex_of[c] = vertex_of[representative[c]];
    }
  }
  if (first_corner.size() > kMeshMaxIndexedVertices) {
    decode_unwelded(out, src, package, flags, tags);
    return true;
  }
  for (uint32_t v : first_corner) emit_vertex(out, src, v);
  out->vertex_count = uint32_t(first_corner.size());
  out->indices.resize(corners);
  for (uint32_t c = 0; c < corners; ++c) out->indices[c] = uint16_t(vertex_of[c]);
  finish_mesh(out, src, package, first_corner, flags, tags);
  return true;
}

bool decode_mesh_unwelded(DecodedMesh* out, const char* package, PayloadView payload, uint32_t flags,
                          uint32_t tags) {
  free_decoded_mesh(out);
  Source src;
  if (!open_source(&src, payload)) return false;
  decode_unwelded(out, src, package, flags, tags);
  return true;
}

bool decode_mesh(DecodedMesh* out, const char* package, PayloadView payload, uint32_t flags, uint32_t tags) {
  MeshPayloadLayout layout;
  if (!validate_mesh_payload(payload, &layout)) {
    free_decoded_mesh(out);
    return false;
  }
  return layout.triangles < kMeshUnweldedTriangles ? decode_mesh_welded(out, package, payload, flags, tags)
                                                    : decode_mesh_unwelded(out, package, payload, flags, tags);
}

void free_decoded_mesh(DecodedMesh* mesh) { *mesh = DecodedMesh{}; }

bool decode_mesh_chunk(const ChunkContext& context, PayloadView payload) {
  // A mesh without triangles has nothing to draw; it is passed over.
  if (payload.size == 0 || (payload.size >= kMeshHeaderBytes && word(payload, W_TRIANGLES) == 0)) return true;
  MeshPayloadLayout layout;
  if (!validate_mesh_payload(payload, &layout)) return false;
  std::string name;
  const uint32_t tags = strip_name_tags(&name, layout.name);
  DecodedMesh mesh{};
  decode_mesh(&mesh, context.package, payload, context.flags, tags);
  if (register_mesh(context.package, name.c_str(), mesh, tags) == 0)
    std::fprintf(stderr, "tamberlune: package %s: mesh %s could not be stored\n", context.package, name.c_str());
  free_decoded_mesh(&mesh);
  return true;
}
