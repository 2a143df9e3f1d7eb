// The [vertex data] section: a header naming one attribute column per word
// ("name/float/vec3", "m[1]/double/dmat2x3/0", "name/float/2"), then one row
// of values per vertex. Read into one interleaved buffer.
#pragma once

#include <GL/glcorearb.h>

#include <string>
#include <vector>

#include "toolchain/gl_runner/gl_program.h"
#include "toolchain/gl_runner/shader_test.h"
#include "toolchain/gl_runner/test_values.h"

namespace gl_runner {

struct VertexColumn {
    std::string name;        // the attribute, without an array index
    int fixedLocation = -1;  // a column named by a number gives the location itself
    int locationOffset = 0;  // array element and matrix column, in locations
    BaseType base = BaseType::floatType;
    int components = 1;
    size_t offset = 0;  // bytes into a row
};

struct VertexData {
    std::vector<VertexColumn> columns;
    std::vector<uint8_t> bytes;
    size_t stride = 0;
    int rows = 0;
    std::string unsupported;  // why the section cannot be read; empty when it can
};

VertexData readVertexData(const std::vector<TestLine>& lines);

// Uploads the rows into `buffer` (made here) and points each column's
// attribute at it in the bound vertex array. Columns whose attribute the
// program does not have are left out.
void bindVertexData(const GlContext& context, const GlProgram& program, const VertexData& data,
                    GLuint& buffer);

}  // namespace gl_runner
