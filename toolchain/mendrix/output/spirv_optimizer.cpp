#include "toolchain/mendrix/output/spirv_optimizer.h"

#include <spirv-tools/libspirv.hpp>
#include <spirv-tools/optimizer.hpp>

namespace mendrix {

namespace {

constexpr spv_target_env kTarget = SPV_ENV_OPENGL_4_5;

using PassMaker = spvtools::Optimizer::PassToken (*)();

// Interface variables stay, so that the reflection and the neighbouring
// stages still match the code.
spvtools::Optimizer::PassToken deadCodeKeepingInterface() {
    return spvtools::CreateAggressiveDCEPass(true);
}
spvtools::Optimizer::PassToken fullLoopUnroll() {
    return spvtools::CreateLoopUnrollPass(true);
}

// Pass groups in the order they run; a group runs when its bit is set.
struct PassGroup {
    uint64_t bit;
    std::vector<PassMaker> passes;
};

const std::vector<PassGroup>& passGroups() {
    static const std::vector<PassGroup> kGroups = {
        // glsl: an initial sweep of unused functions, variables and code.
        {kOptimizeUnusedCode,
         {spvtools::CreateEliminateDeadFunctionsPass, spvtools::CreateDeadVariableEliminationPass,
          deadCodeKeepingInterface}},
        // sc, first half: inlining, so later passes see whole functions.
        {kOptimizeBackend,
         {spvtools::CreateInlineExhaustivePass, spvtools::CreateEliminateDeadFunctionsPass}},
        // loopvar: local variables into SSA values (loop counters included).
        {kOptimizeLoopVariables,
         {spvtools::CreateLocalAccessChainConvertPass,
          spvtools::CreateLocalSingleBlockLoadStoreElimPass,
          spvtools::CreateLocalSingleStoreElimPass, spvtools::CreateSSARewritePass,
          spvtools::CreateLoopInvariantCodeMotionPass}},
        // const: constant propagation and folding, then the branches it decides.
        {kOptimizeConstants,
         {spvtools::CreateCCPPass, spvtools::CreateFoldSpecConstantOpAndCompositePass,
          spvtools::CreateSimplificationPass, spvtools::CreateDeadBranchElimPass,
          spvtools::CreateUnifyConstantPass, spvtools::CreateEliminateDeadConstantPass}},
        // loopexpr: full unrolling of loops with a known trip count.
        {kOptimizeLoopUnroll, {fullLoopUnroll, spvtools::CreateSimplificationPass}},
        // unusedvar: stores, inserts and components nobody reads.
        {kOptimizeUnusedStores,
         {spvtools::CreateDeadInsertElimPass, spvtools::CreateVectorDCEPass,
          deadCodeKeepingInterface, spvtools::CreateDeadVariableEliminationPass}},
        // fastmath: float operations may run at relaxed precision.
        {kOptimizeFastMath, {spvtools::CreateRelaxFloatOpsPass}},
        // sc, second half: clean-up of the control flow and of the ids.
        {kOptimizeBackend,
         {spvtools::CreateCFGCleanupPass, spvtools::CreateBlockMergePass,
          spvtools::CreateRedundancyEliminationPass, deadCodeKeepingInterface,
          spvtools::CreateCompactIdsPass}},
    };
    return kGroups;
}

// Keeps the first error message a SPIR-V tool reports.
spvtools::MessageConsumer firstMessage(std::string& problem) {
    return [&problem](spv_message_level_t level, const char*, const spv_position_t& position,
                      const char* message) {
        if (problem.empty() && level <= SPV_MSG_ERROR) {
            problem = std::string(message) + " (word " + std::to_string(position.index) + ")";
        }
    };
}

}  // namespace

bool optimizeSpirv(std::vector<uint32_t>& words, uint64_t optimizationFlags, std::string& problem) {
    spvtools::Optimizer optimizer(kTarget);
    optimizer.SetMessageConsumer(firstMessage(problem));
    bool any = false;
    for (const PassGroup& group : passGroups()) {
        if ((optimizationFlags & group.bit) == 0) {
            continue;
        }
        for (PassMaker make : group.passes) {
            optimizer.RegisterPass(make());
            any = true;
        }
    }
    if (!any) {
        return true;
    }
    spvtools::OptimizerOptions options;
    options.set_run_validator(false);  // validated before and after
    std::vector<uint32_t> optimized;
    if (!optimizer.Run(words.data(), words.size(), &optimized, options)) {
        if (problem.empty()) {
            problem = "the SPIR-V optimiser failed";
        }
        return false;
    }
    words.swap(optimized);
    return true;
}

bool validateSpirv(const std::vector<uint32_t>& words, std::string& problem) {
    spvtools::SpirvTools tools(kTarget);
    tools.SetMessageConsumer(firstMessage(problem));
    if (tools.Validate(words)) {
        return true;
    }
    if (problem.empty()) {
        problem = "the SPIR-V validator refused the code";
    }
    return false;
}

}  // namespace mendrix
