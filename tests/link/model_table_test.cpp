#include <gtest/gtest.h>

#include "link/ModelTable.h"

namespace qv {
namespace {

// Every code of the model table by kind; anything else is kind 0.
TEST(ModelKind, EveryCodeOfTheTableAndNearMisses) {
    const std::pair<int, std::vector<const char*>> table[] = {
        {2, {"TQ5201B", "TQ5202B", "TQ5203A", "TQ5204B", "QV5201B", "QV5202B", "QV5204B", "HN140"}},
        {4, {"TQ381A", "QV381A", "TQ382A", "QV382A", "TQ383A", "QV383A", "TQ384A", "QV384A"}},
        {6,
         {"QV391A", "QV392A", "QV394A", "QV391B", "QV392B", "QV394B", "QV381B", "QV382B", "QV383B",
          "QV384B"}},
        {3, {"TQ366A", "QV366A"}},
        {5,
         {"TQ363C", "QV363C", "TQ364C", "QV364C", "HN6600C", "R517C", "TQ365C", "QV365C", "TQ366C",
          "QV366C"}},
        // Whole codes only, byte for byte.
        {0,
         {"", "qv392b", "QV392B ", " QV392B", "QV392", "QV392BB", "TQ5203B", "HN7700", "QV5203A"}},
    };
    for (const auto& [kind, codes] : table) {
        for (const char* code : codes) {
            EXPECT_EQ(ModelKindOf(code), kind) << '"' << code << '"';
        }
    }
    EXPECT_EQ(ModelKindOf(std::string_view("QV392B\0X", 8)), 0);
}

}  // namespace
}  // namespace qv
