// The validated form: a stage kept as the GLSL or ESSL text the front end
// accepted, for the OpenGL driver to compile. The compiler library writes it
// as a stage binary (binaryFormat 2); the execution runner reads it back.
//
// Layout (little-endian 32-bit words):
//   magic "VRXV"   form version (1)   stage kind   language version
//   1 for ESSL, 0 for GLSL   text length in bytes
//   the text, then zero bytes up to a multiple of 4
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace toolchain {

constexpr uint32_t kValidatedFormMagic = 0x56585256u;  // "VRXV" in little-endian bytes
constexpr uint32_t kValidatedFormVersion = 1;
constexpr uint32_t kValidatedFormHeaderSize = 24;

struct ValidatedForm {
    uint32_t kind = 0;             // StageKind
    uint32_t languageVersion = 0;  // 110 ... 460, or 100, 300 for ESSL
    bool essl = false;
    std::string_view text;  // points into the bytes it was parsed from
};

std::vector<uint8_t> encodeValidatedForm(uint32_t kind, uint32_t languageVersion, bool essl,
                                         std::string_view text);

// False, with a reason, for a wrong magic or version, a text that does not
// fit the bytes, or padding that is not zero. `form.text` stays valid while
// `bytes` does.
bool parseValidatedForm(std::span<const uint8_t> bytes, ValidatedForm& form, std::string& error);

}  // namespace toolchain
