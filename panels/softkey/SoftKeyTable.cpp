#include "panels/softkey/SoftKeyTable.h"

#include "resources/ids.h"
#include "session/Commands.h"

namespace {

namespace ids = qv::ids;

constexpr std::array<SoftKey, SoftKeyTable::kKeyCount> kKeys{{
    {1013, "KEYP:ESC"},  {1014, "KEYP:CUS1"}, {1015, "KEYP:CUS2"}, {1016, "KEYP:CUS3"},
    {1017, "KEYP:CUS4"}, {1018, "KEYP:CUS5"}, {1019, "KEYP:CUS6"}, {1020, "KEYP:CUS7"},
    {1021, "KEYP:PREV"}, {1022, "KEYP:MODE"}, {1023, "KEYP:FREQ"}, {1024, "KEYP:AMP"},
    {1025, "KEYP:BW"},   {1026, "KEYP:TRAC"}, {1027, "KEYP:MARK"}, {1028, "KEYP:PEAK"},
    {1029, "KEYP:NUM1"}, {1030, "KEYP:NUM2"}, {1031, "KEYP:NUM3"}, {1032, "KEYP:NUM4"},
    {1033, "KEYP:NUM5"}, {1034, "KEYP:NUM6"}, {1035, "KEYP:NUM7"}, {1036, "KEYP:NUM8"},
    {1037, "KEYP:NUM9"}, {1038, "KEYP:JUM"},  {1039, "KEYP:NUM0"}, {1040, "KEYP:BUHO"},
    {1041, "KEYP:DEL"},  {1042, "KEYP:ENTR"}, {1043, "KEYP:UP"},   {1044, "KEYP:RIGH"},
    {1045, "KEYP:DOWN"}, {1046, "KEYP:LEFT"},
}};

// Every key has its skin row at the same index, and the ids run without a gap.
constexpr bool TablesAgree() {
    for (std::size_t i = 0; i < kKeys.size(); ++i) {
        if (kKeys[i].id != ids::kSoftKeyFirst + static_cast<int>(i) ||
            qv::skin::kSoftKeys[i].controlId != kKeys[i].id) {
            return false;
        }
    }
    return kKeys.back().id == ids::kSoftKeyLast;
}
static_assert(TablesAgree(), "soft-key commands and skin rows disagree");

std::size_t IndexOf(int id) {
    return static_cast<std::size_t>(id - ids::kSoftKeyFirst);
}

bool IsKey(int id) {
    return id >= ids::kSoftKeyFirst && id <= ids::kSoftKeyLast;
}

}  // namespace

std::span<const SoftKey> SoftKeyTable::Keys() {
    return kKeys;
}

std::string_view SoftKeyTable::Command(int id) {
    if (id == kKeyboardButton) {
        return qv::kKeyboardCommand;
    }
    return IsKey(id) ? kKeys[IndexOf(id)].command : std::string_view();
}

const qv::skin::KeySkin* SoftKeyTable::Skin(int id) {
    return IsKey(id) ? &qv::skin::kSoftKeys[IndexOf(id)] : nullptr;
}
