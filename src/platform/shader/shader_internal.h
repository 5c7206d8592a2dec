// Records shared by the shader module's source files. Not part of the interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/shader/shader.h"

struct ShaderCode {
  GpuShaderStage stage;
  std::string glsl;
  std::vector<GpuShaderVarying> varyings;
};

enum ShaderBaseType : uint8_t { SHADER_FLOAT, SHADER_INT, SHADER_UINT };

struct ShaderConstant {
  std::string name;
  uint32_t offset;        // bytes into the stage's registers
  ShaderBaseType base;
  uint8_t rows, columns;  // HLSL shape: a vector is 1 x n, a matrix rows x columns
  bool matrix;
  bool transposed;        // column_major packing: one register per HLSL column
  uint32_t elements;      // 1 unless an array
  uint32_t array_stride;  // bytes between elements
  uint32_t matrix_stride; // bytes between the registers of one matrix
};

struct ShaderConstantTable {
  GpuShaderStage stage;
  std::vector<ShaderConstant> constants;
};

// Translated shaders by key: kept in memory for the run and on disk in the
// user's cache folder ($XDG_CACHE_HOME/tamberlune/shaders, else
// ~/.cache/tamberlune/shaders).
// The key hashes the source, entry, profile and the translator's settings
// and versions.
uint64_t shader_cache_key(const char* source, size_t size, const char* entry, const char* profile);
// True with copies of the entry when memory or a sound disk entry holds it.
bool shader_cache_find(uint64_t key, ShaderCode* code, ShaderConstantTable* table);
// Keeps the entry in memory and writes it to disk; a folder that cannot be
// written is skipped silently.
void shader_cache_store(uint64_t key, const ShaderCode& code, const ShaderConstantTable& table);
// Drops the in-memory entries, so the next find reads the disk (tests).
void shader_cache_forget();
