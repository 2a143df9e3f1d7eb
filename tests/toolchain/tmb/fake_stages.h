// Stage records built in memory the way the reference compiler fills them,
// with made-up binaries and reflection blocks, so the writer can be tested
// without the compiler library.
#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "libraries/writer_records.h"
#include "toolchain/common/stage_record.h"
#include "toolchain/tmb/vrx_format.h"

namespace tmb_test {

// The four stage slots of one compiled set, and the program the writer is
// expected to store for them.
class FakeProgram {
public:
    FakeProgram() = default;
    // The records point into this object's storage: it cannot be copied.
    FakeProgram(const FakeProgram&) = delete;
    FakeProgram& operator=(const FakeProgram&) = delete;

    // Fills the slot of `kind` with a compiled stage whose contents derive
    // from `seed`; `binarySize` may be any size, not only whole words.
    FakeProgram& withStage(uint32_t kind, uint32_t seed, size_t binarySize = 64,
                           bool withHash = true, bool withReflection = true) {
        tmb::Stage stage;
        stage.kind = kind;
        stage.binaryFormat = seed % 2 == 0 ? tmb::kFormatSpirv : tmb::kFormatValidated;
        stage.flags = (withHash ? toolchain::kStageFlagHashPresent : 0) |
                      (seed % 3 == 0 ? toolchain::kStageFlagEssl : 0);
        stage.languageVersion = seed % 3 == 0 ? 300 : 450;
        stage.optimizationFlags = 0x40ull | static_cast<uint64_t>(seed) << 32;
        for (size_t i = 0; i < binarySize; ++i) {
            stage.binary.push_back(static_cast<uint8_t>(seed * 31 + i * 7 + kind));
        }
        if (withHash) {
            for (size_t i = 0; i < stage.hash.size(); ++i) {
                stage.hash[i] = static_cast<uint8_t>(0xA0 + seed + i);
            }
        }
        if (withReflection) {
            stage.reflection = tmb::encodeReflection({
                {toolchain::kReflectAttribute, 0, 0x8B52, 1, "position"},
                {toolchain::kReflectUniform, -1, 0x8B5C, 1, "u_matrix" + std::to_string(seed)},
                {toolchain::kReflectSampler, 3, 0x8B5E, 4, "textures"},
                {toolchain::kReflectStreamOut, -1, 0x8B51, 1, "gl_Position"},
            });
        }
        return withRecord(stage);
    }

    // Puts exactly `stage` into the slot of its kind.
    FakeProgram& withRecord(const tmb::Stage& stage) {
        toolchain::StageRecord record{};
        record.magic = toolchain::kStageRecordMagic;
        record.kind = stage.kind;
        record.binaryFormat = stage.binaryFormat;
        record.flags = stage.flags;
        record.optimizationFlags = stage.optimizationFlags;
        record.binary = keep(stage.binary);
        record.binarySize = stage.binary.size();
        record.reflection = stage.reflection.empty() ? nullptr : keep(stage.reflection);
        record.reflectionSize = stage.reflection.size();
        std::memcpy(record.hash, stage.hash.data(), sizeof record.hash);
        record.gpuVersion = gpuVersion;
        record.languageVersion = stage.languageVersion;
        record.sourcePath = "/somewhere/shader.glsl";
        setRecord(stage.kind, record);
        expected.stages.push_back(stage);
        return *this;
    }

    // The record at the start of the slot of `kind`, to be altered by a test.
    toolchain::StageRecord record(uint32_t kind) const {
        toolchain::StageRecord out;
        std::memcpy(&out, slot(kind), sizeof out);
        return out;
    }
    void setRecord(uint32_t kind, const toolchain::StageRecord& record) {
        std::memcpy(slot(kind), &record, sizeof record);
        present[kind - 1] = true;
    }
    // Marks a slot as given by the driver although nothing was compiled
    // into it (its bytes stay zero).
    FakeProgram& withEmptySlot(uint32_t kind) {
        present[kind - 1] = true;
        return *this;
    }

    WriterOptions options() {
        return {kWriterOptionsMagic,
                0,
                present[0] ? &vertex : nullptr,
                present[1] ? &pixel : nullptr,
                present[2] ? &geometry : nullptr,
                present[3] ? &compute : nullptr};
    }
    WriterShaders shaders() {
        return {present[0] ? &vertex : nullptr, present[1] ? &pixel : nullptr,
                present[2] ? &geometry : nullptr};
    }

    uint32_t gpuVersion = 2;  // what the records say they were compiled for
    tmb::Program expected;

private:
    const uint8_t* keep(const std::vector<uint8_t>& bytes) {
        storage.push_back(bytes);
        return storage.back().data();
    }
    const void* slot(uint32_t kind) const { return const_cast<FakeProgram*>(this)->slot(kind); }
    void* slot(uint32_t kind) {
        switch (kind) {
            case toolchain::kStageVertex:
                return vertex.bytes;
            case toolchain::kStagePixel:
                return pixel.bytes;
            case toolchain::kStageGeometry:
                return geometry.bytes;
            default:
                return compute.bytes;
        }
    }

    // Slots aligned as inside the compiled set, where they follow 8-byte
    // aligned pointers.
    alignas(8) VertexShaderRecord vertex{};
    alignas(8) PixelShaderRecord pixel{};
    alignas(8) GeometryShaderRecord geometry{};
    alignas(8) ComputeShaderRecord compute{};
    bool present[4] = {};
    std::deque<std::vector<uint8_t>> storage;  // deque: elements never move
};

}  // namespace tmb_test
