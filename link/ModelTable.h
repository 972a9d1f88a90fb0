// Model kinds of the soft-key instrument line, by the model name the instrument reports.
#pragma once

#include <string_view>
#include <vector>

namespace qv {

// Kind of a model name: 2, 3, 4, 5 or 6 (touch screen); 0 for a name not in the table.
// Names compare whole, byte for byte and case-sensitive.
int ModelKindOf(std::string_view modelName);

struct KnownModel {
    std::string_view name;
    int kind;
};
// Every name of the table with its kind, in table order.
std::vector<KnownModel> KnownModels();

inline constexpr int kModelKindTouch = 6;
inline constexpr int kModelKindInitial = 4;

}  // namespace qv
