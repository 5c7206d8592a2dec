// "MDL " payloads as a package would carry them, through validation and
// both decoders (no device: nothing is registered). The first byte chooses
// the queue flag and the name tags; the rest is the payload. Decoded meshes
// must be internally consistent. Seeds in corpus/mesh_decoder/ are small
// meshes written from the payload layout (a triangle, a skinned quad).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "assets/mesh_decoder.h"

namespace {

void check(const DecodedMesh& d) {
  const size_t v = d.vertex_count;
  if (d.positions.size() != v * 3) __builtin_trap();
  if (!d.normals.empty() && d.normals.size() != v * 3) __builtin_trap();
  if (d.coord_sets[0].data.size() != v * 2) __builtin_trap();
  if (!d.tangents.empty() && d.tangents.size() != v * 4) __builtin_trap();
  if (d.index_count != d.indices.size()) __builtin_trap();
  for (uint16_t i : d.indices)
    if (i >= v) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint32_t flags = data[0] & 1u;
  const uint32_t tags = (data[0] >> 1) & 3u;
  // A copy of exactly the payload, so reading past it is caught.
  std::vector<uint8_t> payload(data + 1, data + size);
  const PayloadView view{payload.data(), payload.size()};
  DecodedMesh d{};
  if (decode_mesh(&d, "fuzz", view, flags, tags)) check(d);
  free_decoded_mesh(&d);
  // The other path on small meshes too.
  MeshPayloadLayout layout;
  if (validate_mesh_payload(view, &layout) && layout.triangles < 4096) {
    if (decode_mesh_unwelded(&d, "fuzz", view, flags, tags)) check(d);
    free_decoded_mesh(&d);
  }
  return 0;
}
