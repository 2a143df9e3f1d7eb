#include "toolchain/mendrix/output/statistics.h"

#define SPV_ENABLE_UTILITY_CODE
#include <glslang/Include/intermediate.h>
#include <glslang/MachineIndependent/localintermediate.h>
#include <glslang/SPIRV/spirv.hpp>

#include <algorithm>
#include <set>
#include <unordered_map>

namespace mendrix {

namespace {

// ---- SPIR-V ------------------------------------------------------------

bool isAlu(uint32_t op) {
    return op == spv::OpExtInst || (op >= spv::OpVectorShuffle && op <= spv::OpTranspose) ||
           (op >= spv::OpConvertFToU && op <= spv::OpBitcast) ||
           (op >= spv::OpSNegate && op <= spv::OpSMulExtended) ||
           (op >= spv::OpAny && op <= spv::OpFUnordGreaterThanEqual) ||
           (op >= spv::OpShiftRightLogical && op <= spv::OpBitCount) ||
           (op >= spv::OpDPdx && op <= spv::OpFwidthCoarse);
}

bool isTextureFetch(uint32_t op) {
    return op >= spv::OpImageSampleImplicitLod && op <= spv::OpImageRead;
}

bool isControlFlow(uint32_t op) {
    switch (op) {
        case spv::OpBranch:
        case spv::OpBranchConditional:
        case spv::OpSwitch:
        case spv::OpKill:
        case spv::OpReturn:
        case spv::OpReturnValue:
        case spv::OpUnreachable:
        case spv::OpFunctionCall:
        case spv::OpEmitVertex:
        case spv::OpEndPrimitive:
        case spv::OpEmitStreamVertex:
        case spv::OpEndStreamPrimitive:
        case spv::OpControlBarrier:
        case spv::OpTerminateInvocation:
        case spv::OpDemoteToHelperInvocation:
            return true;
        default:
            return false;
    }
}

// Instructions that only structure a function and execute nothing.
bool isExecutable(uint32_t op) {
    switch (op) {
        case spv::OpFunction:
        case spv::OpFunctionParameter:
        case spv::OpFunctionEnd:
        case spv::OpLabel:
        case spv::OpVariable:
        case spv::OpLine:
        case spv::OpNoLine:
        case spv::OpSelectionMerge:
        case spv::OpLoopMerge:
        case spv::OpPhi:
            return false;
        default:
            return true;
    }
}

struct Instruction {
    uint32_t op;
    const uint32_t* words;  // words[0] is the opcode word
    uint32_t count;
};

class Module {
public:
    explicit Module(const std::vector<uint32_t>& words) {
        for (size_t pos = 5; pos < words.size();) {
            uint32_t count = words[pos] >> 16;
            if (count == 0 || pos + count > words.size()) {
                break;
            }
            Instruction instruction{words[pos] & 0xffff, &words[pos], count};
            bool hasResult = false;
            bool hasType = false;
            spv::HasResultAndType(static_cast<spv::Op>(instruction.op), &hasResult, &hasType);
            if (hasResult) {
                uint32_t at = hasType ? 2 : 1;
                if (at < count) {
                    definitions[instruction.words[at]] = instructions.size();
                }
            }
            instructions.push_back(instruction);
            pos += count;
        }
    }

    const Instruction* definition(uint32_t id) const {
        auto found = definitions.find(id);
        return found == definitions.end() ? nullptr : &instructions[found->second];
    }

    // 4-component slots a value of type `id` occupies, as constants are laid
    // out in registers; 0 for opaque types.
    uint32_t slotsOf(uint32_t id, int depth = 0) const {
        const Instruction* type = definition(id);
        if (type == nullptr || depth > 16) {
            return 0;
        }
        switch (type->op) {
            case spv::OpTypeBool:
            case spv::OpTypeInt:
            case spv::OpTypeFloat:
            case spv::OpTypeVector:
                return 1;
            case spv::OpTypeMatrix:
                return type->count > 3 ? type->words[3] : 1;
            case spv::OpTypeArray: {
                const Instruction* length = type->count > 3 ? definition(type->words[3]) : nullptr;
                uint32_t elements =
                    length != nullptr && length->op == spv::OpConstant && length->count > 3
                        ? length->words[3]
                        : 1;
                return elements * slotsOf(type->words[2], depth + 1);
            }
            case spv::OpTypeRuntimeArray:
                return slotsOf(type->words[2], depth + 1);
            case spv::OpTypeStruct: {
                uint32_t total = 0;
                for (uint32_t i = 2; i < type->count; ++i) {
                    total += slotsOf(type->words[i], depth + 1);
                }
                return total;
            }
            case spv::OpTypePointer:
                return type->count > 3 ? slotsOf(type->words[3], depth + 1) : 0;
            default:
                return 0;
        }
    }

    // The variable a pointer id is derived from through access chains.
    const Instruction* baseVariable(uint32_t pointer) const {
        for (int depth = 0; depth < 64; ++depth) {
            const Instruction* def = definition(pointer);
            if (def == nullptr) {
                return nullptr;
            }
            if (def->op == spv::OpVariable) {
                return def;
            }
            if ((def->op != spv::OpAccessChain && def->op != spv::OpInBoundsAccessChain) ||
                def->count < 4) {
                return nullptr;
            }
            pointer = def->words[3];
        }
        return nullptr;
    }

    std::vector<Instruction> instructions;

private:
    std::unordered_map<uint32_t, size_t> definitions;
};

bool isUniformStorage(uint32_t storage) {
    return storage == spv::StorageClassUniform || storage == spv::StorageClassUniformConstant ||
           storage == spv::StorageClassPushConstant;
}

}  // namespace

uint32_t gprPoolSizeFor(uint32_t gpuVersion) {
    return gpuVersion >= 2 ? 256 : 128;
}

ShaderStats statsFromSpirv(const std::vector<uint32_t>& words, bool vertexStage,
                           uint32_t gpuVersion) {
    ShaderStats stats{};
    stats.gprPoolSize = gprPoolSizeFor(gpuVersion);
    if (words.size() < 5) {
        return stats;
    }
    Module module(words);
    std::set<uint32_t> uniformsUsed;

    // Per function: values live over the linear instruction order.
    bool inFunction = false;
    uint32_t functionVariables = 0;
    std::unordered_map<uint32_t, size_t> defined;    // id -> position
    std::unordered_map<uint32_t, size_t> lastUse;    // id -> position
    std::unordered_map<uint32_t, size_t> blockOf;    // id -> block number
    std::unordered_map<uint32_t, bool> leavesBlock;  // id used outside its block
    size_t block = 0;

    auto finishFunction = [&]() {
        // Peak of simultaneously live values.
        std::vector<std::pair<size_t, int>> events;
        for (const auto& [id, start] : defined) {
            auto use = lastUse.find(id);
            if (use == lastUse.end()) {
                continue;
            }
            events.push_back({start, 1});
            events.push_back({use->second, -1});
        }
        std::sort(events.begin(), events.end());
        int live = 0;
        int peak = 0;
        for (const auto& event : events) {
            live += event.second;
            peak = std::max(peak, live);
        }
        stats.gprsUsed = std::max(stats.gprsUsed, functionVariables + static_cast<uint32_t>(peak));
        std::unordered_map<size_t, uint32_t> localPerBlock;
        for (const auto& [id, where] : blockOf) {
            if (lastUse.count(id) != 0 && !leavesBlock[id]) {
                ++localPerBlock[where];
            }
        }
        for (const auto& entry : localPerBlock) {
            stats.clauseTempsUsed = std::max(stats.clauseTempsUsed, entry.second);
        }
        defined.clear();
        lastUse.clear();
        blockOf.clear();
        leavesBlock.clear();
        functionVariables = 0;
    };

    for (size_t position = 0; position < module.instructions.size(); ++position) {
        const Instruction& in = module.instructions[position];
        if (in.op == spv::OpFunction) {
            inFunction = true;
            continue;
        }
        if (!inFunction) {
            continue;
        }
        if (in.op == spv::OpFunctionEnd) {
            finishFunction();
            inFunction = false;
            continue;
        }
        if (in.op == spv::OpLabel) {
            ++block;
            continue;
        }
        bool hasResult = false;
        bool hasType = false;
        spv::HasResultAndType(static_cast<spv::Op>(in.op), &hasResult, &hasType);
        uint32_t firstOperand = 1 + (hasType ? 1 : 0) + (hasResult ? 1 : 0);
        for (uint32_t i = firstOperand; i < in.count; ++i) {
            auto def = defined.find(in.words[i]);
            if (def != defined.end()) {
                lastUse[in.words[i]] = position;
                if (blockOf[in.words[i]] != block) {
                    leavesBlock[in.words[i]] = true;
                }
            }
        }
        if (in.op == spv::OpVariable) {
            ++functionVariables;
            continue;
        }
        if (hasResult && in.op != spv::OpFunctionParameter) {
            uint32_t id = in.words[hasType ? 2 : 1];
            defined[id] = position;
            blockOf[id] = block;
        }
        if (in.op == spv::OpLoad || in.op == spv::OpAccessChain ||
            in.op == spv::OpInBoundsAccessChain) {
            const Instruction* variable = in.count > 3 ? module.baseVariable(in.words[3]) : nullptr;
            if (variable != nullptr && variable->count > 3) {
                uint32_t storage = variable->words[3];
                if (in.op == spv::OpLoad && vertexStage && storage == spv::StorageClassInput) {
                    ++stats.vfetchInstructions;
                }
                if (isUniformStorage(storage)) {
                    uniformsUsed.insert(variable->words[2]);
                }
            }
        }
        if (!isExecutable(in.op)) {
            continue;
        }
        ++stats.totalInstructions;
        if (isAlu(in.op)) {
            ++stats.aluInstructions;
        } else if (isTextureFetch(in.op)) {
            ++stats.tfetchInstructions;
        } else if (isControlFlow(in.op)) {
            ++stats.controlFlowInstructions;
        }
    }
    for (uint32_t variable : uniformsUsed) {
        const Instruction* def = module.definition(variable);
        if (def != nullptr) {
            stats.externalAluConstants += module.slotsOf(def->words[1]);
        }
    }
    return stats;
}

// ---- front-end tree -------------------------------------------------------

namespace {

uint32_t slotsOf(const glslang::TType& type, int depth = 0) {
    if (depth > 16 || type.getBasicType() == glslang::EbtSampler) {
        return 0;
    }
    uint32_t element = 1;
    if (type.isStruct()) {
        element = 0;
        for (const glslang::TTypeLoc& member : *type.getStruct()) {
            element += slotsOf(*member.type, depth + 1);
        }
    } else if (type.isMatrix()) {
        element = static_cast<uint32_t>(type.getMatrixCols());
    }
    if (type.isSizedArray()) {
        element *= static_cast<uint32_t>(std::max(1, type.getCumulativeArraySize()));
    }
    return element;
}

class TreeCounter : public glslang::TIntermTraverser {
public:
    TreeCounter(bool vertexStage, ShaderStats& stats) : vertexStage(vertexStage), stats(stats) {}

    void visitSymbol(glslang::TIntermSymbol* symbol) override {
        const glslang::TType& type = symbol->getType();
        glslang::TStorageQualifier storage = type.getQualifier().storage;
        if (storage == glslang::EvqTemporary || storage == glslang::EvqIn ||
            storage == glslang::EvqOut || storage == glslang::EvqInOut ||
            storage == glslang::EvqConstReadOnly) {
            locals.insert(symbol->getId());
        } else if (storage == glslang::EvqVaryingIn && vertexStage &&
                   type.getQualifier().builtIn == glslang::EbvNone) {
            ++stats.vfetchInstructions;
        } else if (storage == glslang::EvqUniform && uniforms.insert(symbol->getId()).second) {
            stats.externalAluConstants += slotsOf(type);
        }
    }

    bool visitBinary(glslang::TVisit, glslang::TIntermBinary* node) override {
        switch (node->getOp()) {
            case glslang::EOpIndexDirect:
            case glslang::EOpIndexDirectStruct:
            case glslang::EOpComma:
                break;
            default:
                countAlu();
        }
        return true;
    }

    bool visitUnary(glslang::TVisit, glslang::TIntermUnary* node) override {
        if (node->isTexture() || node->isImage()) {
            countFetch();
        } else {
            countAlu();
        }
        return true;
    }

    bool visitAggregate(glslang::TVisit, glslang::TIntermAggregate* node) override {
        switch (node->getOp()) {
            case glslang::EOpLinkerObjects:
                return false;
            case glslang::EOpSequence:
                for (TIntermNode* statement : node->getSequence()) {
                    measureStatement(statement);
                }
                return true;
            case glslang::EOpNull:
            case glslang::EOpFunction:
            case glslang::EOpParameters:
                return true;
            case glslang::EOpFunctionCall:
                ++stats.totalInstructions;
                ++stats.controlFlowInstructions;
                return true;
            default:
                if (node->isTexture() || node->isImage()) {
                    countFetch();
                } else if (node->getOp() == glslang::EOpEmitVertex ||
                           node->getOp() == glslang::EOpEndPrimitive ||
                           node->getOp() == glslang::EOpBarrier) {
                    ++stats.totalInstructions;
                    ++stats.controlFlowInstructions;
                } else {
                    countAlu();
                }
                return true;
        }
    }

    bool visitSelection(glslang::TVisit, glslang::TIntermSelection*) override {
        ++stats.totalInstructions;
        ++stats.controlFlowInstructions;
        return true;
    }
    bool visitLoop(glslang::TVisit, glslang::TIntermLoop*) override {
        ++stats.totalInstructions;
        ++stats.controlFlowInstructions;
        return true;
    }
    bool visitBranch(glslang::TVisit, glslang::TIntermBranch*) override {
        ++stats.totalInstructions;
        ++stats.controlFlowInstructions;
        return true;
    }
    bool visitSwitch(glslang::TVisit, glslang::TIntermSwitch*) override {
        ++stats.totalInstructions;
        ++stats.controlFlowInstructions;
        return true;
    }

    uint32_t localCount() const { return static_cast<uint32_t>(locals.size()); }

private:
    void countAlu() {
        ++stats.totalInstructions;
        ++stats.aluInstructions;
    }
    void countFetch() {
        ++stats.totalInstructions;
        ++stats.tfetchInstructions;
    }

    // The operations of one statement are the temporaries it needs at most.
    void measureStatement(TIntermNode* statement) {
        class OperationCounter : public glslang::TIntermTraverser {
        public:
            bool visitBinary(glslang::TVisit, glslang::TIntermBinary*) override {
                ++count;
                return true;
            }
            bool visitUnary(glslang::TVisit, glslang::TIntermUnary*) override {
                ++count;
                return true;
            }
            bool visitAggregate(glslang::TVisit, glslang::TIntermAggregate* node) override {
                if (node->getOp() == glslang::EOpSequence) {
                    return false;  // nested statements are measured on their own
                }
                ++count;
                return true;
            }
            bool visitSelection(glslang::TVisit, glslang::TIntermSelection*) override {
                return false;
            }
            bool visitLoop(glslang::TVisit, glslang::TIntermLoop*) override { return false; }
            uint32_t count = 0;
        } counter;
        statement->traverse(&counter);
        stats.clauseTempsUsed = std::max(stats.clauseTempsUsed, counter.count);
    }

    bool vertexStage;
    ShaderStats& stats;
    std::set<long long> locals;
    std::set<long long> uniforms;
};

}  // namespace

ShaderStats statsFromTree(const glslang::TIntermediate& stage, uint32_t gpuVersion) {
    ShaderStats stats{};
    stats.gprPoolSize = gprPoolSizeFor(gpuVersion);
    if (stage.getTreeRoot() == nullptr) {
        return stats;
    }
    TreeCounter counter(stage.getStage() == EShLangVertex, stats);
    stage.getTreeRoot()->traverse(&counter);
    stats.gprsUsed = counter.localCount();
    return stats;
}

}  // namespace mendrix
