#include "toolchain/mendrix/output/live_symbols.h"

#include <glslang/Include/intermediate.h>
#include <glslang/MachineIndependent/localintermediate.h>

#include <unordered_map>
#include <vector>

namespace mendrix {

namespace {

// Collects the symbols and the calls of one subtree; the front end's
// traverser is the only way to visit every node kind.
class UseCollector : public glslang::TIntermTraverser {
public:
    UseCollector(std::unordered_set<std::string>& names, std::vector<std::string>& calls)
        : names(names), calls(calls) {}

    void visitSymbol(glslang::TIntermSymbol* symbol) override {
        names.insert(symbol->getName().c_str());
    }
    bool visitAggregate(glslang::TVisit, glslang::TIntermAggregate* node) override {
        if (node->getOp() == glslang::EOpFunctionCall) {
            calls.push_back(node->getName().c_str());
        }
        return true;
    }

private:
    std::unordered_set<std::string>& names;
    std::vector<std::string>& calls;
};

}  // namespace

std::unordered_set<std::string> liveSymbolNames(const glslang::TIntermediate& stage) {
    std::unordered_set<std::string> names;
    glslang::TIntermAggregate* root =
        stage.getTreeRoot() != nullptr ? stage.getTreeRoot()->getAsAggregate() : nullptr;
    if (root == nullptr) {
        return names;
    }
    std::vector<std::string> pending{"main("};
    UseCollector collector(names, pending);
    std::unordered_map<std::string, TIntermNode*> functions;
    for (TIntermNode* child : root->getSequence()) {
        glslang::TIntermAggregate* node = child->getAsAggregate();
        if (node != nullptr && node->getOp() == glslang::EOpFunction) {
            functions.emplace(node->getName().c_str(), node);
        } else if (node == nullptr || node->getOp() != glslang::EOpLinkerObjects) {
            child->traverse(&collector);  // global initialisers always run
        }
    }
    std::unordered_set<std::string> visited;
    while (!pending.empty()) {
        std::string name = std::move(pending.back());
        pending.pop_back();
        auto found = functions.find(name);
        if (found != functions.end() && visited.insert(name).second) {
            found->second->traverse(&collector);
        }
    }
    return names;
}

}  // namespace mendrix
