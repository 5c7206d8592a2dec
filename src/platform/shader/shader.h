// HLSL shaders compiled at run time, the way a Direct3D 9 program compiles
// its shader files at start-up: glslang's HLSL front end in its Direct3D 9
// compatible mode to SPIR-V, SPIRV-Cross to GLSL 3.30, made into shader
// objects of the drawing device. The constant table of a compiled shader
// finds its constants by name and sets them with Direct3D 9's register
// semantics: a value lands in the stage's constant registers and stays in
// force for every shader of that stage bound later.
//
// Matrices follow the device's convention (row-major, row vectors): with
// the default column_major packing, HLSL mul(v, M) computes v x M.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/gpu/gpu.h"

struct ShaderCode;
struct ShaderConstantTable;
struct ShaderConstant;  // a constant of a table; null stands for none

// Compiles HLSL text. entry names the entry function; profile "vs_x_y"
// makes a vertex shader, "ps_x_y" a pixel shader, and sets the register
// budget (vs_1_1: 96 registers, ps_2_0: 32; 3.0 profiles 224 and 256;
// vs_4_0: the vertex stage's whole GPU_VS_CONSTANT_REGISTERS).
// On success code and table are set; otherwise errors holds the compiler's
// messages and both are null. Either out pointer may be null.
bool shader_compile(const char* source, size_t size, const char* source_name, const char* entry, const char* profile,
                    ShaderCode** code, ShaderConstantTable** table, std::string* errors);
// The same from a file; a file that cannot be read is an error.
bool shader_compile_file(const char* path, const char* entry, const char* profile, ShaderCode** code,
                         ShaderConstantTable** table, std::string* errors);
void shader_code_release(ShaderCode* code);
GpuShaderStage shader_code_stage(const ShaderCode* code);
// The GLSL the device receives (for diagnostics and tests).
const char* shader_code_glsl(const ShaderCode* code);

// The device's shader object of the code (CreateVertexShader / CreatePixelShader).
GpuResult shader_create(GpuDevice* device, const ShaderCode* code, GpuShader** out);

void shader_table_release(ShaderConstantTable* table);
// An independent copy, for a second shader object made from the same code.
ShaderConstantTable* shader_table_copy(const ShaderConstantTable* table);
// The constant of that name at the top level; null when the shader does not
// use it (unused constants are left out when compiling).
const ShaderConstant* shader_constant_by_name(const ShaderConstantTable* table, const char* name);
// Elements of an array constant, 1 for others; 0 for none.
uint32_t shader_constant_elements(const ShaderConstant* constant);
// First register of the constant in its stage's registers.
uint32_t shader_constant_register(const ShaderConstant* constant);

// Setters: false for a null table or constant, or a value of another kind
// (a vector into a matrix, an array into a scalar). Integers and floats
// convert to the constant's type. Arrays are cut at the declared elements;
// a vector fills as many components as the constant has.
bool shader_set_int(GpuDevice* device, const ShaderConstantTable* table, const ShaderConstant* constant, int32_t value);
bool shader_set_float(GpuDevice* device, const ShaderConstantTable* table, const ShaderConstant* constant, float value);
bool shader_set_vector(GpuDevice* device, const ShaderConstantTable* table, const ShaderConstant* constant,
                       const float value[4]);
bool shader_set_vector_array(GpuDevice* device, const ShaderConstantTable* table, const ShaderConstant* constant,
                             const float* values, uint32_t count);
// m holds 16 floats, row-major.
bool shader_set_matrix(GpuDevice* device, const ShaderConstantTable* table, const ShaderConstant* constant,
                       const float m[16]);
bool shader_set_matrix_array(GpuDevice* device, const ShaderConstantTable* table, const ShaderConstant* constant,
                             const float* matrices, uint32_t count);
