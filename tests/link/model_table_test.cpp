#include <gtest/gtest.h>

#include "link/ModelTable.h"

namespace qv {
namespace {

struct ModelCase {
    const char* name;
    int kind;
};

class ModelKind : public ::testing::TestWithParam<ModelCase> {};

TEST_P(ModelKind, ClassifiesExactNamesOnly) {
    EXPECT_EQ(ModelKindOf(GetParam().name), GetParam().kind) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ModelKind,
    ::testing::Values(ModelCase{"QV392B", 6}, ModelCase{"QV384B", 6}, ModelCase{"QV391A", 6},
                      ModelCase{"TQ381A", 4}, ModelCase{"QV384A", 4}, ModelCase{"HN6600C", 5},
                      ModelCase{"R517C", 5}, ModelCase{"QV366C", 5}, ModelCase{"HN140", 2},
                      ModelCase{"TQ5203A", 2}, ModelCase{"TQ366A", 3}, ModelCase{"QV366A", 3},
                      // Near misses.
                      ModelCase{"qv392b", 0}, ModelCase{"QV392B ", 0}, ModelCase{" QV392B", 0},
                      ModelCase{"QV392", 0}, ModelCase{"QV392BB", 0}, ModelCase{"", 0},
                      ModelCase{"TQ5203B", 0}, ModelCase{"HN7700", 0}));

TEST(ModelKind, NameWithEmbeddedZeroIsNotTheCode) {
    EXPECT_EQ(ModelKindOf(std::string_view("QV392B\0X", 8)), 0);
}

}  // namespace
}  // namespace qv
