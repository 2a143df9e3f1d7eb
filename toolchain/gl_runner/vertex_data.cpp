#include "toolchain/gl_runner/vertex_data.h"

#include <cctype>
#include <cstdlib>

namespace gl_runner {

namespace {

constexpr std::pair<std::string_view, BaseType> kBaseTypes[] = {
    {"float", BaseType::floatType},
    {"double", BaseType::doubleType},
    {"int", BaseType::intType},
    {"uint", BaseType::uintType},
};

bool allDigits(const std::string& text) {
    if (text.empty()) {
        return false;
    }
    for (char c : text) {
        if (std::isdigit(static_cast<unsigned char>(c)) == 0) {
            return false;
        }
    }
    return true;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t at = text.find(separator); at != std::string::npos;
         at = text.find(separator, start)) {
        parts.push_back(text.substr(start, at - start));
        start = at + 1;
    }
    parts.push_back(text.substr(start));
    return parts;
}

// One header word; false when this runner cannot read it.
bool readColumn(const std::string& word, VertexColumn& column) {
    std::vector<std::string> parts = split(word, '/');
    if (parts.size() < 3 || parts.size() > 4) {
        return false;
    }
    bool knownBase = false;
    for (const auto& [name, base] : kBaseTypes) {
        if (parts[1] == name) {
            column.base = base;
            knownBase = true;
        }
    }
    if (!knownBase) {
        return false;
    }
    int columns = 1;
    if (allDigits(parts[2])) {
        column.components = std::atoi(parts[2].c_str());
    } else {
        const GlslType* type = glslTypeNamed(parts[2]);
        if (type == nullptr || type->base != column.base) {
            return false;
        }
        column.components = type->rows;
        columns = type->columns;
    }
    if (column.components < 1 || column.components > 4 || (columns > 1) != (parts.size() == 4)) {
        return false;
    }
    int matrixColumn = parts.size() == 4 ? std::atoi(parts[3].c_str()) : 0;
    std::string name = parts[0];
    int element = 0;
    size_t open = name.find('[');
    if (open != std::string::npos) {
        element = std::atoi(name.c_str() + open + 1);
        name.resize(open);
    }
    column.locationOffset = element * columns + matrixColumn;
    if (allDigits(name)) {
        column.fixedLocation = std::atoi(name.c_str());
    }
    column.name = name;
    return true;
}

}  // namespace

VertexData readVertexData(const std::vector<TestLine>& lines) {
    VertexData data;
    if (lines.empty()) {
        return data;
    }
    for (const std::string& word : commandWords(lines.front().text)) {
        VertexColumn column;
        if (!readColumn(word, column)) {
            data.unsupported = "vertex data column '" + word + "'";
            return data;
        }
        column.offset = data.stride;
        data.stride += componentSize(column.base) * static_cast<size_t>(column.components);
        data.columns.push_back(column);
    }
    for (size_t row = 1; row < lines.size(); ++row) {
        std::vector<std::string> values = commandWords(lines[row].text);
        size_t next = 0;
        for (const VertexColumn& column : data.columns) {
            for (int component = 0; component < column.components; ++component) {
                if (next >= values.size() ||
                    !appendComponent(values[next++], column.base, data.bytes)) {
                    data.unsupported = "vertex data line " + std::to_string(lines[row].number);
                    return data;
                }
            }
        }
        if (next != values.size()) {
            data.unsupported = "vertex data line " + std::to_string(lines[row].number);
            return data;
        }
        ++data.rows;
    }
    return data;
}

void bindVertexData(const GlContext& context, const GlProgram& program, const VertexData& data,
                    GLuint& buffer) {
    const GlFunctions& gl = context.gl();
    gl.glGenBuffers(1, &buffer);
    gl.glBindBuffer(GL_ARRAY_BUFFER, buffer);
    gl.glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(data.bytes.size()), data.bytes.data(),
                    GL_STATIC_DRAW);
    const auto stride = static_cast<GLsizei>(data.stride);
    for (const VertexColumn& column : data.columns) {
        GLint location = column.fixedLocation >= 0
                             ? column.fixedLocation
                             : attributeLocation(context, program, column.name);
        if (location < 0) {
            continue;
        }
        auto index = static_cast<GLuint>(location + column.locationOffset);
        const void* offset = reinterpret_cast<const void*>(column.offset);
        switch (column.base) {
            case BaseType::floatType:
                gl.glVertexAttribPointer(index, column.components, GL_FLOAT, GL_FALSE, stride,
                                         offset);
                break;
            case BaseType::doubleType:
                gl.glVertexAttribLPointer(index, column.components, GL_DOUBLE, stride, offset);
                break;
            case BaseType::intType:
                gl.glVertexAttribIPointer(index, column.components, GL_INT, stride, offset);
                break;
            case BaseType::uintType:
                gl.glVertexAttribIPointer(index, column.components, GL_UNSIGNED_INT, stride,
                                          offset);
                break;
        }
        gl.glEnableVertexAttribArray(index);
    }
}

}  // namespace gl_runner
