#include "toolchain/mendrix/reflection.h"

#include <glslang/Include/intermediate.h>
#include <glslang/MachineIndependent/localintermediate.h>
#include <glslang/Public/ShaderLang.h>

#include <cstring>

namespace mendrix {

namespace {

void putU32(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

uint32_t getU32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

uint32_t arraySizeOf(const glslang::TType& type) {
    if (!type.isArray() || !type.isSizedArray()) {
        return 1;
    }
    int size = type.getCumulativeArraySize();
    return size > 0 ? static_cast<uint32_t>(size) : 1;
}

int32_t locationOf(const glslang::TType& type) {
    const glslang::TQualifier& qualifier = type.getQualifier();
    return qualifier.hasLocation() ? static_cast<int32_t>(qualifier.layoutLocation) : -1;
}

bool isUserInterface(const glslang::TType& type, glslang::TStorageQualifier storage) {
    const glslang::TQualifier& qualifier = type.getQualifier();
    return qualifier.storage == storage && qualifier.builtIn == glslang::EbvNone;
}

void addInterfaceSymbol(const glslang::TIntermSymbol& symbol, uint8_t category,
                        std::vector<ReflectionEntry>& out) {
    const glslang::TType& type = symbol.getType();
    std::string name(symbol.getName().c_str());
    bool anonymous = name.compare(0, 5, "anon@") == 0;
    if (type.getBasicType() == glslang::EbtBlock) {
        std::string block(type.getTypeName().c_str());
        if (!anonymous) {
            out.push_back({category, locationOf(type), 0, arraySizeOf(type), name});
        }
        for (const glslang::TTypeLoc& member : *type.getStruct()) {
            const glslang::TType& memberType = *member.type;
            if (memberType.getQualifier().builtIn != glslang::EbvNone) {
                continue;
            }
            std::string memberName(memberType.getFieldName().c_str());
            out.push_back({category, locationOf(memberType), glTypeOf(memberType),
                           arraySizeOf(memberType), block + "." + memberName});
        }
        return;
    }
    out.push_back({category, locationOf(type), glTypeOf(type), arraySizeOf(type), name});
}

}  // namespace

std::vector<uint8_t> encodeReflection(const std::vector<ReflectionEntry>& entries) {
    std::vector<uint8_t> out;
    putU32(out, static_cast<uint32_t>(entries.size()));
    for (const ReflectionEntry& entry : entries) {
        size_t length = entry.name.size() > 0xffff ? 0xffff : entry.name.size();
        out.push_back(entry.category);
        out.push_back(0);
        out.push_back(static_cast<uint8_t>(length & 0xff));
        out.push_back(static_cast<uint8_t>(length >> 8));
        putU32(out, static_cast<uint32_t>(entry.location));
        putU32(out, entry.type);
        putU32(out, entry.arraySize);
        out.insert(out.end(), entry.name.begin(), entry.name.begin() + length);
        while (out.size() % 4 != 0) {
            out.push_back(0);
        }
    }
    return out;
}

bool decodeReflection(const uint8_t* bytes, size_t size, std::vector<ReflectionEntry>& entries) {
    entries.clear();
    if (bytes == nullptr || size < 4) {
        return false;
    }
    uint32_t count = getU32(bytes);
    size_t pos = 4;
    for (uint32_t i = 0; i < count; ++i) {
        if (size - pos < 16) {
            return false;
        }
        ReflectionEntry entry;
        entry.category = bytes[pos];
        size_t length = bytes[pos + 2] | static_cast<size_t>(bytes[pos + 3]) << 8;
        entry.location = static_cast<int32_t>(getU32(bytes + pos + 4));
        entry.type = getU32(bytes + pos + 8);
        entry.arraySize = getU32(bytes + pos + 12);
        pos += 16;
        size_t padded = (length + 3) & ~size_t{3};
        if (size - pos < padded) {
            return false;
        }
        entry.name.assign(reinterpret_cast<const char*>(bytes + pos), length);
        pos += padded;
        entries.push_back(std::move(entry));
    }
    return pos == size;
}

uint32_t glTypeOf(const glslang::TType& type) {
    using glslang::TBasicType;
    TBasicType basic = type.getBasicType();
    if (type.isMatrix()) {
        // GL_FLOAT_MAT2 .. GL_FLOAT_MAT4x3, GL_DOUBLE_MAT2 .. GL_DOUBLE_MAT4x3
        static const uint32_t kFloat[3][3] = {
            {0x8B5A, 0x8B65, 0x8B66}, {0x8B67, 0x8B5B, 0x8B68}, {0x8B69, 0x8B6A, 0x8B5C}};
        static const uint32_t kDouble[3][3] = {
            {0x8F46, 0x8F49, 0x8F4A}, {0x8F4B, 0x8F47, 0x8F4C}, {0x8F4D, 0x8F4E, 0x8F48}};
        int cols = type.getMatrixCols();
        int rows = type.getMatrixRows();
        if (cols < 2 || cols > 4 || rows < 2 || rows > 4) {
            return 0;
        }
        if (basic == glslang::EbtFloat) {
            return kFloat[cols - 2][rows - 2];
        }
        if (basic == glslang::EbtDouble) {
            return kDouble[cols - 2][rows - 2];
        }
        return 0;
    }
    int size = type.getVectorSize();
    if (type.isStruct() || size < 1 || size > 4) {
        return 0;
    }
    // scalar, vec2, vec3, vec4
    static const uint32_t kFloat[4] = {0x1406, 0x8B50, 0x8B51, 0x8B52};
    static const uint32_t kDouble[4] = {0x140A, 0x8FFC, 0x8FFD, 0x8FFE};
    static const uint32_t kInt[4] = {0x1404, 0x8B53, 0x8B54, 0x8B55};
    static const uint32_t kUint[4] = {0x1405, 0x8DC6, 0x8DC7, 0x8DC8};
    static const uint32_t kBool[4] = {0x8B56, 0x8B57, 0x8B58, 0x8B59};
    switch (basic) {
        case glslang::EbtFloat:
            return kFloat[size - 1];
        case glslang::EbtDouble:
            return kDouble[size - 1];
        case glslang::EbtInt:
            return kInt[size - 1];
        case glslang::EbtUint:
            return kUint[size - 1];
        case glslang::EbtBool:
            return kBool[size - 1];
        default:
            return 0;
    }
}

StageInterface collectStageInterface(const glslang::TIntermediate& stage) {
    StageInterface result;
    glslang::TIntermAggregate* root =
        stage.getTreeRoot() != nullptr ? stage.getTreeRoot()->getAsAggregate() : nullptr;
    if (root == nullptr) {
        return result;
    }
    for (TIntermNode* child : root->getSequence()) {
        glslang::TIntermAggregate* linker = child->getAsAggregate();
        if (linker == nullptr || linker->getOp() != glslang::EOpLinkerObjects) {
            continue;
        }
        for (TIntermNode* object : linker->getSequence()) {
            const glslang::TIntermSymbol* symbol = object->getAsSymbolNode();
            if (symbol == nullptr) {
                continue;
            }
            const glslang::TType& type = symbol->getType();
            if (isUserInterface(type, glslang::EvqVaryingIn)) {
                addInterfaceSymbol(*symbol, toolchain::kReflectVaryingIn, result.inputs);
            } else if (isUserInterface(type, glslang::EvqVaryingOut)) {
                addInterfaceSymbol(*symbol, toolchain::kReflectVaryingOut, result.outputs);
            }
        }
    }
    return result;
}

void collectUniforms(const glslang::TProgram& program, unsigned stageMask,
                     std::vector<ReflectionEntry>& out) {
    for (int i = 0; i < program.getNumUniformVariables(); ++i) {
        const glslang::TObjectReflection& uniform = program.getUniform(i);
        if ((uniform.stages & stageMask) == 0 || uniform.index >= 0) {
            // Members of uniform blocks are described by their block.
            continue;
        }
        const glslang::TType* type = uniform.getType();
        bool opaque = type != nullptr && type->getBasicType() == glslang::EbtSampler;
        int32_t location = -1;
        if (opaque) {
            location = uniform.getBinding();
        } else if (type != nullptr) {
            location = locationOf(*type);
        }
        uint32_t arraySize = uniform.size > 0 ? static_cast<uint32_t>(uniform.size) : 1;
        out.push_back(
            {opaque ? uint8_t{toolchain::kReflectSampler} : uint8_t{toolchain::kReflectUniform},
             location, static_cast<uint32_t>(uniform.glDefineType), arraySize, uniform.name});
    }
    for (int i = 0; i < program.getNumUniformBlocks(); ++i) {
        const glslang::TObjectReflection& block = program.getUniformBlock(i);
        if ((block.stages & stageMask) == 0) {
            continue;
        }
        out.push_back({toolchain::kReflectUniformBlock, block.getBinding(), 0, 1, block.name});
    }
}

void collectAttributes(const glslang::TProgram& program, std::vector<ReflectionEntry>& out) {
    for (int i = 0; i < program.getNumPipeInputs(); ++i) {
        const glslang::TObjectReflection& input = program.getPipeInput(i);
        const glslang::TType* type = input.getType();
        if (type != nullptr && type->getQualifier().builtIn != glslang::EbvNone) {
            continue;
        }
        uint32_t arraySize = input.size > 0 ? static_cast<uint32_t>(input.size) : 1;
        out.push_back({toolchain::kReflectAttribute, type != nullptr ? locationOf(*type) : -1,
                       static_cast<uint32_t>(input.glDefineType), arraySize, input.name});
    }
}

}  // namespace mendrix
