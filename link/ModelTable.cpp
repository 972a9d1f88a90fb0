#include "link/ModelTable.h"

#include <array>

namespace qv {
namespace {

struct ModelGroup {
    int kind;
    std::array<std::string_view, 10> codes;  // unused slots stay empty
};

// Tested in this order; each code occurs once, so the order changes no result.
constexpr std::array<ModelGroup, 5> kModelGroups{{
    {2, {"TQ5201B", "TQ5202B", "TQ5203A", "TQ5204B", "QV5201B", "QV5202B", "QV5204B", "HN140"}},
    {4, {"TQ381A", "QV381A", "TQ382A", "QV382A", "TQ383A", "QV383A", "TQ384A", "QV384A"}},
    {6,
     {"QV391A", "QV392A", "QV394A", "QV391B", "QV392B", "QV394B", "QV381B", "QV382B", "QV383B",
      "QV384B"}},
    {3, {"TQ366A", "QV366A"}},
    {5,
     {"TQ363C", "QV363C", "TQ364C", "QV364C", "HN6600C", "R517C", "TQ365C", "QV365C", "TQ366C",
      "QV366C"}},
}};

}  // namespace

int ModelKindOf(std::string_view modelName) {
    if (modelName.empty()) {
        return 0;
    }
    for (const ModelGroup& group : kModelGroups) {
        for (std::string_view code : group.codes) {
            if (!code.empty() && code == modelName) {
                return group.kind;
            }
        }
    }
    return 0;
}

std::vector<KnownModel> KnownModels() {
    std::vector<KnownModel> models;
    for (const ModelGroup& group : kModelGroups) {
        for (std::string_view code : group.codes) {
            if (!code.empty()) {
                models.push_back({code, group.kind});
            }
        }
    }
    return models;
}

}  // namespace qv
