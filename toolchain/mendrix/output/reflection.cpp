#include "toolchain/mendrix/output/reflection.h"

#include <glslang/Include/intermediate.h>
#include <glslang/MachineIndependent/localintermediate.h>
#include <glslang/Public/ShaderLang.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <unordered_set>

#include "toolchain/mendrix/output/live_symbols.h"

namespace mendrix {

namespace {

// The stage's global declarations, in declaration order.
std::vector<const glslang::TIntermSymbol*> linkerObjects(const glslang::TIntermediate& stage) {
    std::vector<const glslang::TIntermSymbol*> symbols;
    glslang::TIntermAggregate* root =
        stage.getTreeRoot() != nullptr ? stage.getTreeRoot()->getAsAggregate() : nullptr;
    if (root == nullptr) {
        return symbols;
    }
    for (TIntermNode* child : root->getSequence()) {
        glslang::TIntermAggregate* linker = child->getAsAggregate();
        if (linker == nullptr || linker->getOp() != glslang::EOpLinkerObjects) {
            continue;
        }
        for (TIntermNode* object : linker->getSequence()) {
            if (const glslang::TIntermSymbol* symbol = object->getAsSymbolNode()) {
                symbols.push_back(symbol);
            }
        }
    }
    return symbols;
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

// Built-ins by qualifier, by their reserved name, or as blocks of built-ins
// (gl_in, gl_PerVertex).
bool isBuiltIn(const glslang::TIntermSymbol& symbol) {
    const glslang::TType& type = symbol.getType();
    if (type.getQualifier().builtIn != glslang::EbvNone ||
        std::strncmp(symbol.getName().c_str(), "gl_", 3) == 0) {
        return true;
    }
    if (type.getBasicType() != glslang::EbtBlock) {
        return false;
    }
    if (std::strncmp(type.getTypeName().c_str(), "gl_", 3) == 0) {
        return true;
    }
    for (const glslang::TTypeLoc& member : *type.getStruct()) {
        if (member.type->getQualifier().builtIn == glslang::EbvNone) {
            return false;
        }
    }
    return true;
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
    for (const glslang::TIntermSymbol* symbol : linkerObjects(stage)) {
        glslang::TStorageQualifier storage = symbol->getType().getQualifier().storage;
        if (isBuiltIn(*symbol)) {
            continue;
        }
        if (storage == glslang::EvqVaryingIn) {
            addInterfaceSymbol(*symbol, toolchain::kReflectVaryingIn, result.inputs);
        } else if (storage == glslang::EvqVaryingOut) {
            addInterfaceSymbol(*symbol, toolchain::kReflectVaryingOut, result.outputs);
        }
    }
    return result;
}

namespace {

// Uniform locations a type takes: one per array element, a structure's
// members' together.
int32_t uniformLocationSize(const glslang::TType& type) {
    int32_t element = 1;
    if (type.isStruct()) {
        element = 0;
        for (const glslang::TTypeLoc& member : *type.getStruct()) {
            element += uniformLocationSize(*member.type);
        }
    }
    return type.isSizedArray() ? element * type.getCumulativeArraySize() : element;
}

// The GL type of a sampler or image, as the front end's program reflection
// gives it (it has no other public mapping); 0 when it does not list it.
uint32_t opaqueGlType(const glslang::TProgram& program, const std::string& name) {
    int index = program.getReflectionIndex(name.c_str());
    if (index < 0) {
        index = program.getReflectionIndex((name + "[0]").c_str());
    }
    if (index < 0 || index >= program.getNumUniformVariables()) {
        return 0;
    }
    return static_cast<uint32_t>(program.getUniform(index).glDefineType);
}

struct LeafContext {
    bool limitArraySymbols = true;
    uint8_t category = toolchain::kReflectUniform;
    uint32_t opaqueType = 0;
    std::vector<ReflectionEntry>* out = nullptr;
};

// Lists a uniform as OpenGL names its symbols: "s.member", "items[2]".
void addUniformLeaves(const glslang::TType& type, const std::string& name, int32_t location,
                      const LeafContext& context) {
    auto at = [location](int32_t offset) { return location < 0 ? -1 : location + offset; };
    if (type.isSizedArray()) {
        glslang::TType element(type, 0);
        int32_t count = type.getOuterArraySize();
        int32_t size = uniformLocationSize(element);
        // Without the limit a symbol per element, up to a bound that keeps an
        // absurd array from taking all memory.
        constexpr int32_t kMaxElementSymbols = 65536;
        for (int32_t i = 0; i < count && i < kMaxElementSymbols; ++i) {
            if (context.limitArraySymbols && i > 1 && i != count - 1) {
                i = count - 2;  // first two, then the last
                continue;
            }
            addUniformLeaves(element, name + "[" + std::to_string(i) + "]", at(i * size), context);
        }
        return;
    }
    if (type.isStruct()) {
        int32_t offset = 0;
        for (const glslang::TTypeLoc& member : *type.getStruct()) {
            addUniformLeaves(*member.type, name + "." + member.type->getFieldName().c_str(),
                             at(offset), context);
            offset += uniformLocationSize(*member.type);
        }
        return;
    }
    uint32_t glType =
        context.category == toolchain::kReflectSampler ? context.opaqueType : glTypeOf(type);
    context.out->push_back({context.category, location, glType, 1, name});
}

bool isLooseUniform(const glslang::TIntermSymbol& symbol) {
    const glslang::TType& type = symbol.getType();
    return type.getQualifier().storage == glslang::EvqUniform &&
           type.getBasicType() != glslang::EbtBlock && !isBuiltIn(symbol);
}

// Every loose uniform of the program with its first location: the declared
// one where there is one, else the lowest free range.
std::map<std::string, int32_t> assignUniformLocations(
    const std::vector<const glslang::TIntermediate*>& stages,
    const std::map<std::string, int32_t>& declared) {
    std::map<std::string, int32_t> locations;
    std::vector<std::pair<std::string, int32_t>> unplaced;  // name, size
    // Locations in use; ranges beyond kTracked (far more than any GPU has)
    // are not tracked, which keeps a huge array from taking huge memory.
    constexpr int32_t kTracked = 1 << 16;
    std::vector<bool> taken(kTracked, false);
    auto mark = [&taken](int32_t first, int32_t size) {
        for (int32_t i = first; i < first + size && i < kTracked; ++i) {
            taken[static_cast<size_t>(i)] = true;
        }
    };
    auto isFree = [&taken](int32_t first, int32_t size) {
        for (int32_t i = first; i < first + size && i < kTracked; ++i) {
            if (taken[static_cast<size_t>(i)]) {
                return false;
            }
        }
        return true;
    };
    for (const glslang::TIntermediate* stage : stages) {
        for (const glslang::TIntermSymbol* symbol : linkerObjects(*stage)) {
            std::string name = symbol->getName().c_str();
            if (!isLooseUniform(*symbol) || locations.count(name) != 0) {
                continue;
            }
            int32_t size = uniformLocationSize(symbol->getType());
            auto found = declared.find(name);
            int32_t location = found != declared.end() ? found->second : -1;
            locations[name] = location;
            if (location >= 0) {
                mark(location, size);
            } else {
                unplaced.emplace_back(name, size);
            }
        }
    }
    for (const auto& [name, size] : unplaced) {
        int32_t first = 0;
        while (!isFree(first, size)) {
            ++first;
        }
        locations[name] = first;
        mark(first, size);
    }
    return locations;
}

int32_t bindingOf(const glslang::TType& type) {
    const glslang::TQualifier& qualifier = type.getQualifier();
    return qualifier.hasBinding() ? static_cast<int32_t>(qualifier.layoutBinding) : -1;
}

// One stage's entries, grouped: inputs, uniforms, samplers, uniform blocks,
// storage blocks, outputs.
std::vector<ReflectionEntry> reflectStage(const glslang::TProgram& program, EShLanguage language,
                                          const std::map<std::string, int32_t>& locations,
                                          bool limitArraySymbols) {
    const glslang::TIntermediate& stage = *program.getIntermediate(language);
    std::unordered_set<std::string> live = liveSymbolNames(stage);
    std::vector<ReflectionEntry> groups[6];
    for (const glslang::TIntermSymbol* symbol : linkerObjects(stage)) {
        std::string name = symbol->getName().c_str();
        const glslang::TType& type = symbol->getType();
        if (live.count(name) == 0 || isBuiltIn(*symbol)) {
            continue;
        }
        glslang::TStorageQualifier storage = type.getQualifier().storage;
        if (storage == glslang::EvqVaryingIn) {
            addInterfaceSymbol(*symbol,
                               language == EShLangVertex ? uint8_t{toolchain::kReflectAttribute}
                                                         : uint8_t{toolchain::kReflectVaryingIn},
                               groups[0]);
        } else if (storage == glslang::EvqVaryingOut) {
            addInterfaceSymbol(*symbol, toolchain::kReflectVaryingOut, groups[5]);
        } else if (isLooseUniform(*symbol)) {
            bool opaque = type.getBasicType() == glslang::EbtSampler;
            LeafContext context{
                limitArraySymbols,
                opaque ? uint8_t{toolchain::kReflectSampler} : uint8_t{toolchain::kReflectUniform},
                opaque ? opaqueGlType(program, name) : 0, &groups[opaque ? 2 : 1]};
            addUniformLeaves(type, name, locations.at(name), context);
        } else if (type.getBasicType() == glslang::EbtBlock &&
                   (storage == glslang::EvqUniform || storage == glslang::EvqBuffer)) {
            bool storageBlock = storage == glslang::EvqBuffer;
            groups[storageBlock ? 4 : 3].push_back(
                {storageBlock ? uint8_t{toolchain::kReflectStorageBlock}
                              : uint8_t{toolchain::kReflectUniformBlock},
                 bindingOf(type), 0, arraySizeOf(type), type.getTypeName().c_str()});
        }
    }
    std::vector<ReflectionEntry> entries;
    for (std::vector<ReflectionEntry>& group : groups) {
        entries.insert(entries.end(), group.begin(), group.end());
    }
    return entries;
}

}  // namespace

std::map<std::string, int32_t> declaredUniformLocations(const glslang::TProgram& program) {
    std::map<std::string, int32_t> declared;
    for (int stage = 0; stage < EShLangCount; ++stage) {
        const glslang::TIntermediate* intermediate =
            program.getIntermediate(static_cast<EShLanguage>(stage));
        if (intermediate == nullptr) {
            continue;
        }
        for (const glslang::TIntermSymbol* symbol : linkerObjects(*intermediate)) {
            int32_t location = locationOf(symbol->getType());
            if (isLooseUniform(*symbol) && location >= 0) {
                declared.emplace(symbol->getName().c_str(), location);
            }
        }
    }
    return declared;
}

ProgramReflection reflectProgram(const glslang::TProgram& program,
                                 const std::vector<EShLanguage>& stages,
                                 const std::map<std::string, int32_t>& declared,
                                 bool limitArraySymbols) {
    std::vector<const glslang::TIntermediate*> intermediates;
    for (EShLanguage language : stages) {
        intermediates.push_back(program.getIntermediate(language));
    }
    ProgramReflection result;
    result.uniformLocations = assignUniformLocations(intermediates, declared);
    for (EShLanguage language : stages) {
        result.stages.push_back(
            reflectStage(program, language, result.uniformLocations, limitArraySymbols));
    }
    return result;
}

}  // namespace mendrix
