// Records handed to the shader-file writer library: addresses of the stage
// records inside the compiled set.
#pragma once

#include <cstddef>
#include <cstdint>

#include "libraries/compiler_records.h"

constexpr uint32_t kWriterOptionsMagic = 0x546d6200u;

// What the newer write entry points take (also carries a compute stage).
struct WriterOptions {
    uint32_t magic;
    uint32_t padding;
    VertexShaderRecord* vertexShader;
    PixelShaderRecord* pixelShader;
    GeometryShaderRecord* geometryShader;
    ComputeShaderRecord* computeShader;
};
static_assert(sizeof(WriterOptions) == 40);
static_assert(offsetof(WriterOptions, magic) == 0);
static_assert(offsetof(WriterOptions, padding) == 4);
static_assert(offsetof(WriterOptions, vertexShader) == 8);
static_assert(offsetof(WriterOptions, pixelShader) == 16);
static_assert(offsetof(WriterOptions, geometryShader) == 24);
static_assert(offsetof(WriterOptions, computeShader) == 32);

// What the older write entry points take (no compute stage).
struct WriterShaders {
    VertexShaderRecord* vertexShader;
    PixelShaderRecord* pixelShader;
    GeometryShaderRecord* geometryShader;
};
static_assert(sizeof(WriterShaders) == 24);
static_assert(offsetof(WriterShaders, vertexShader) == 0);
static_assert(offsetof(WriterShaders, pixelShader) == 8);
static_assert(offsetof(WriterShaders, geometryShader) == 16);
