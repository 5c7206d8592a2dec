// The constant table: constants by name, and values written into the
// stage's constant registers in the layout the compiled code reads.
#include <algorithm>
#include <cstring>

#include "platform/shader/shader_internal.h"

namespace {

// One 32-bit word of the constant's type from a float.
uint32_t word_of(ShaderBaseType base, float f) {
  uint32_t w;
  if (base == SHADER_FLOAT) {
    std::memcpy(&w, &f, 4);
  } else if (base == SHADER_INT) {
    int32_t i = f >= 2147483520.0f ? INT32_MAX : f <= -2147483648.0f ? INT32_MIN : int32_t(f);
    std::memcpy(&w, &i, 4);
  } else {
    w = f <= 0.0f ? 0u : f >= 4294967040.0f ? UINT32_MAX : uint32_t(f);
  }
  return w;
}

bool put(GpuDevice* device, const ShaderConstantTable* table, uint32_t offset, const uint32_t* words, uint32_t n) {
  return gpu_set_shader_constants(device, table->stage, offset, words, n * 4) == GPU_OK;
}

// Writes `count` elements of vectors (4 floats each in `values`).
bool write_vectors(GpuDevice* device, const ShaderConstantTable* table, const ShaderConstant* k, const float* values,
                   uint32_t count) {
  count = std::min(count, k->elements);
  for (uint32_t e = 0; e < count; ++e) {
    uint32_t words[4];
    for (uint32_t c = 0; c < k->columns; ++c) words[c] = word_of(k->base, values[e * 4 + c]);
    if (!put(device, table, k->offset + e * k->array_stride, words, k->columns)) return false;
  }
  return true;
}

bool write_matrices(GpuDevice* device, const ShaderConstantTable* table, const ShaderConstant* k, const float* m,
                    uint32_t count) {
  count = std::min(count, k->elements);
  for (uint32_t e = 0; e < count; ++e) {
    const float* src = m + e * 16;
    uint32_t base = k->offset + e * k->array_stride;
    // column_major: register c holds HLSL column c; row_major: register r holds row r.
    uint32_t registers = k->transposed ? k->columns : k->rows;
    uint32_t width = k->transposed ? k->rows : k->columns;
    for (uint32_t r = 0; r < registers; ++r) {
      uint32_t words[4];
      for (uint32_t c = 0; c < width; ++c) {
        float f = k->transposed ? src[c * 4 + r] : src[r * 4 + c];
        words[c] = word_of(k->base, f);
      }
      if (!put(device, table, base + r * k->matrix_stride, words, width)) return false;
    }
  }
  return true;
}

bool usable(const ShaderConstantTable* table, const ShaderConstant* k) { return table && k; }

}  // namespace

void shader_table_release(ShaderConstantTable* table) { delete table; }

ShaderConstantTable* shader_table_copy(const ShaderConstantTable* table) {
  return table ? new ShaderConstantTable(*table) : nullptr;
}

const ShaderConstant* shader_constant_by_name(const ShaderConstantTable* table, const char* name) {
  if (!table || !name) return nullptr;
  for (const ShaderConstant& k : table->constants)
    if (k.name == name) return &k;
  return nullptr;
}

uint32_t shader_constant_elements(const ShaderConstant* k) { return k ? k->elements : 0; }

uint32_t shader_constant_register(const ShaderConstant* k) { return k ? k->offset / 16 : 0; }

bool shader_set_float(GpuDevice* device, const ShaderConstantTable* table, const ShaderConstant* k, float value) {
  if (!usable(table, k) || k->matrix) return false;
  uint32_t w = word_of(k->base, value);
  return put(device, table, k->offset, &w, 1);
}

bool shader_set_int(GpuDevice* device, const ShaderConstantTable* table, const ShaderConstant* k, int32_t value) {
  if (!usable(table, k) || k->matrix) return false;
  uint32_t w;
  if (k->base == SHADER_FLOAT) {
    float f = float(value);
    std::memcpy(&w, &f, 4);
  } else {
    std::memcpy(&w, &value, 4);
  }
  return put(device, table, k->offset, &w, 1);
}

bool shader_set_vector(GpuDevice* device, const ShaderConstantTable* table, const ShaderConstant* k,
                       const float value[4]) {
  if (!usable(table, k) || k->matrix || !value) return false;
  return write_vectors(device, table, k, value, 1);
}

bool shader_set_vector_array(GpuDevice* device, const ShaderConstantTable* table, const ShaderConstant* k,
                             const float* values, uint32_t count) {
  if (!usable(table, k) || k->matrix || (count && !values)) return false;
  return write_vectors(device, table, k, values, count);
}

bool shader_set_matrix(GpuDevice* device, const ShaderConstantTable* table, const ShaderConstant* k,
                       const float m[16]) {
  if (!usable(table, k) || !k->matrix || !m) return false;
  return write_matrices(device, table, k, m, 1);
}

bool shader_set_matrix_array(GpuDevice* device, const ShaderConstantTable* table, const ShaderConstant* k,
                             const float* matrices, uint32_t count) {
  if (!usable(table, k) || !k->matrix || (count && !matrices)) return false;
  return write_matrices(device, table, k, matrices, count);
}
