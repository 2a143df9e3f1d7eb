#include "driver/optimization_options.h"

#include <gtest/gtest.h>

namespace {

struct ListCase {
    const char* list;
    OptimizationFlags start;
    OptimizationFlags expected;
    const char* warning;  // what reaches standard error
};

TEST(OptimizationList, AppliesItemsInOrder) {
    const ListCase cases[] = {
        {nullptr, 0x8, 0x8, ""},
        {"", 0x8, 0x8, ""},
        {"all", 0, 0xFFFFFFFFFFFFFF3F, ""},
        {"1", 0, 0xFFFFFFFFFFFFFF3F, ""},
        {"all", 0x80, 0xFFFFFFFFFFFFFFBF, ""},
        {"all,no-fastmath", 0, 0xFFFFFFFFFFFFFF3D, ""},
        {"all,!fastmath", 0, 0xFFFFFFFFFFFFFF3D, ""},
        {"none,const", 0xFF, 0x8, ""},
        {"0,const", 0xFF, 0x8, ""},
        {"!all", 0, 0, ""},
        {"!all", 0x80, 0x80, ""},
        {"no-none", 0xFF, 0, ""},
        {"!0", 0xFF, 0, ""},
        {"const,,fastmath,,", 0, 0xA, ""},
        {"sc,loopvar,loopexpr,unusedvar,glsl", 0, 0xB5, ""},
        {"const,bogus,fastmath", 0, 0x8, "Unknown optimization option: bogus,fastmath\n"},
        {"no-", 0x4, 0x4, "Unknown optimization option: \n"},
        {"!", 0x4, 0x4, "Unknown optimization option: \n"},
        {"!no-const", 0x8, 0x8, "Unknown optimization option: no-const\n"},
        {"no-!const", 0x8, 0x8, "Unknown optimization option: !const\n"},
        {",const", 0, 0, "Unknown optimization option: ,const\n"},
        {"Const", 0, 0, "Unknown optimization option: Const\n"},
        {"constx", 0, 0, "Unknown optimization option: constx\n"},
        {"allx", 0, 0, "Unknown optimization option: allx\n"},
        {"fast", 0, 0, "Unknown optimization option: fast\n"},
        {"const fastmath", 0, 0, "Unknown optimization option: const fastmath\n"},
        {"sc,const fastmath", 0, 0x1, "Unknown optimization option: const fastmath\n"},
    };
    for (const ListCase& testCase : cases) {
        SCOPED_TRACE(testCase.list == nullptr ? "(null)" : testCase.list);
        testing::internal::CaptureStderr();
        OptimizationFlags result = parseOptimizationList(testCase.start, testCase.list);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), testCase.warning);
        EXPECT_EQ(result, testCase.expected);
    }
}

TEST(OptimizationList, TableIsClosedAndNamesAreUnique) {
    int rows = 0;
    for (const OptimizationOption* row = kOptimizationOptions; row->name != nullptr; ++row) {
        ++rows;
        for (const OptimizationOption* other = row + 1; other->name != nullptr; ++other) {
            EXPECT_STRNE(row->name, other->name);
        }
    }
    EXPECT_EQ(rows, 11);
}

}  // namespace
