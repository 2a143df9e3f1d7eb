// The validated form's reader against every way its bytes can be damaged.
#include <gtest/gtest.h>

#include "toolchain/common/validated_form.h"

namespace {

TEST(ValidatedForm, ReadsWhatTheEncoderWroteAndRefusesDamagedForms) {
    const std::string_view text = "#version 130\nvoid main() { }\n";  // 29 bytes: 3 of padding
    const std::vector<uint8_t> good = toolchain::encodeValidatedForm(2, 130, false, text);
    toolchain::ValidatedForm form;
    std::string error;
    ASSERT_TRUE(toolchain::parseValidatedForm(good, form, error)) << error;
    EXPECT_EQ(form.kind, 2u);
    EXPECT_EQ(form.languageVersion, 130u);
    EXPECT_FALSE(form.essl);
    EXPECT_EQ(form.text, text);

    struct Damage {
        const char* name;
        size_t at;  // byte changed, or the size cut to when `cut`
        bool cut;
    } damages[] = {
        {"magic", 0, false},           {"formVersion", 4, false},
        {"lengthTooLong", 20, false},  {"padding", good.size() - 1, false},
        {"truncatedHeader", 20, true}, {"truncatedText", good.size() - 4, true},
    };
    for (const Damage& damage : damages) {
        std::vector<uint8_t> bytes = good;
        if (damage.cut) {
            bytes.resize(damage.at);
        } else {
            bytes[damage.at] ^= 0x40;
        }
        EXPECT_FALSE(toolchain::parseValidatedForm(bytes, form, error)) << damage.name;
    }
}

}  // namespace
