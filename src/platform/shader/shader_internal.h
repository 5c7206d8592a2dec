// Records shared by the shader module's source files. Not part of the interface.
#pragma once

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
