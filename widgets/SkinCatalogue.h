// Every skin bitmap by number: its exact size, what it shows and for which key and state.
// The key rows are the source; the per-bitmap catalogue is derived from them at compile time,
// so a number cannot be listed with two sizes. Plain data: no Qt here, the generator and the
// tests walk the same table.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

namespace qv::skin {

enum class Kind { Background, Screen, Key, Knob, Icon };
enum class State { Normal, Pressed, Focus, Disabled };
enum class Panel { HardKey, SoftKey, Program };
// How a key is moulded; the generator paints each face differently.
enum class Face { Function, Digit, Enter, Escape, Arrow, Soft, Nav };

// Four images of one key at one scale: normal, pressed, focus, disabled.
struct ImageSet {
    std::array<int, 4> ids{};
    int width = 0;
    int height = 0;
};

// One key of a panel picture: its design place (100 %) and its images per scale.
// Hard-key rows fill only scale 0.
struct KeySkin {
    int controlId;
    std::string_view label;   // the legend printed on the key
    std::string_view second;  // second function (soft-key numeric pad), may be empty
    Face face;
    int x, y, w, h;  // layout rectangle at 100 %
    std::array<ImageSet, 3> sets;
};

struct KnobSkin {
    Panel panel;
    int scale;
    int size;
    int disabledId;  // index 0 of the frame list
    int firstId;     // position 1; positions 2..12 follow
    int x, y;        // design place at 100 %
    constexpr std::array<int, 13> Frames() const {
        std::array<int, 13> f{};
        f[0] = disabledId;
        for (int i = 1; i <= 12; ++i) {
            f[static_cast<std::size_t>(i)] = firstId + i - 1;
        }
        return f;
    }
};

struct PlainSkin {
    int number;
    int width, height;
    Kind kind;
    Panel panel;
    int scale;
    std::string_view label;
};

namespace detail {
// Function row, numeric pad and arrows of the soft-key panel: normal n, disabled n+1,
// pressed n+2, focus = normal.
constexpr ImageSet Std(int n, int w, int h) {
    return {{n, n + 2, n, n + 1}, w, h};
}
// Hard keys: normal / pressed / disabled, focus = normal.
constexpr std::array<ImageSet, 3> Hard(int n, int p, int d, int w = 65, int h = 47) {
    return {ImageSet{{n, p, n, d}, w, h}, ImageSet{}, ImageSet{}};
}
constexpr std::array<ImageSet, 3> Pad45(int a, int b, int c) {
    return {Std(a, 64, 45), Std(b, 54, 38), Std(c, 45, 32)};
}
constexpr std::array<ImageSet, 3> Pad40(int a, int b, int c) {
    return {Std(a, 64, 40), Std(b, 54, 34), Std(c, 45, 28)};
}
constexpr std::array<ImageSet, 3> Row36(int a, int b, int c) {
    return {Std(a, 98, 36), Std(b, 83, 31), Std(c, 69, 25)};
}
constexpr std::array<ImageSet, 3> Row32(int a, int b, int c) {
    return {Std(a, 98, 32), Std(b, 83, 27), Std(c, 69, 22)};
}
constexpr std::array<ImageSet, 3> kSoftKeySets{ImageSet{{133, 134, 237, 140}, 52, 44},
                                               ImageSet{{444, 445, 446, 447}, 44, 37},
                                               ImageSet{{345, 346, 347, 348}, 36, 31}};
}  // namespace detail

using detail::Hard;

inline constexpr std::array<KeySkin, 28> kHardKeys{{
    {1073, "Mode", "", Face::Function, 23, 35, 65, 47, Hard(245, 246, 247)},
    {1074, "Setup", "", Face::Function, 23, 115, 65, 47, Hard(281, 282, 280)},
    {1075, "Favorite", "", Face::Function, 23, 195, 65, 47, Hard(257, 259, 258)},
    {1076, "QuickSave", "", Face::Function, 23, 275, 65, 47, Hard(275, 276, 274)},
    {1077, "Save/Load", "", Face::Function, 23, 355, 65, 47, Hard(278, 279, 277)},
    {1078, "Cal", "", Face::Function, 23, 435, 65, 47, Hard(254, 256, 255)},
    {1079, "Marker", "", Face::Function, 935, 35, 65, 47, Hard(268, 269, 267)},
    {1080, "Peak", "", Face::Function, 935, 115, 65, 47, Hard(272, 273, 271)},
    {1081, "Trace", "", Face::Function, 935, 195, 65, 47, Hard(284, 285, 283)},
    {1082, "Limit", "", Face::Function, 935, 275, 65, 47, Hard(265, 266, 263)},
    {1083, "Hold", "", Face::Function, 935, 355, 65, 47, Hard(261, 262, 260)},
    {1084, "AutoSave", "", Face::Function, 935, 435, 65, 47, Hard(253, 252, 251)},
    {1085, "1", "", Face::Digit, 122, 517, 60, 40, Hard(309, 310, 308)},
    {1086, "2", "", Face::Digit, 232, 517, 60, 40, Hard(312, 313, 311)},
    {1087, "3", "", Face::Digit, 342, 517, 60, 40, Hard(315, 316, 314)},
    {1088, "4", "", Face::Digit, 122, 570, 60, 40, Hard(318, 319, 317)},
    {1089, "5", "", Face::Digit, 232, 570, 60, 40, Hard(321, 322, 320)},
    {1090, "6", "", Face::Digit, 342, 570, 60, 40, Hard(324, 325, 323)},
    {1091, "7", "", Face::Digit, 122, 623, 60, 40, Hard(327, 328, 326)},
    {1092, "8", "", Face::Digit, 232, 623, 60, 40, Hard(330, 331, 329)},
    {1093, "9", "", Face::Digit, 342, 623, 60, 40, Hard(333, 334, 332)},
    {1094, "0", "", Face::Digit, 452, 517, 60, 40, Hard(306, 307, 305)},
    {1095, ".", "", Face::Digit, 452, 570, 60, 40, Hard(339, 340, 338)},
    {1096, "ESC", "", Face::Escape, 562, 517, 60, 40, Hard(248, 249, 250)},
    {1097, "Enter", "", Face::Enter, 452, 619, 230, 40, Hard(342, 343, 341, 175, 47)},
    {1098, "+/-", "", Face::Digit, 562, 570, 60, 40, Hard(336, 337, 335)},
    {1099, "\u25B2", "", Face::Arrow, 722, 554, 10, 10, Hard(290, 291, 289, 38, 48)},
    {1100, "\u25BC", "", Face::Arrow, 722, 609, 55, 40, Hard(287, 288, 286, 38, 48)},
}};

using detail::Pad40;
using detail::Pad45;
using detail::Row32;
using detail::Row36;

inline constexpr std::array<KeySkin, 34> kSoftKeys{{
    {1013,
     "ESC",
     "",
     Face::Escape,
     902,
     38,
     59,
     42,
     {ImageSet{{135, 136, 135, 139}, 59, 42}, ImageSet{{448, 449, 448, 450}, 50, 36},
      ImageSet{{349, 350, 349, 351}, 41, 29}}},
    {1014, "", "", Face::Soft, 906, 108, 52, 44, detail::kSoftKeySets},
    {1015, "", "", Face::Soft, 906, 186, 52, 44, detail::kSoftKeySets},
    {1016, "", "", Face::Soft, 906, 263, 52, 44, detail::kSoftKeySets},
    {1017, "", "", Face::Soft, 906, 338, 52, 44, detail::kSoftKeySets},
    {1018, "", "", Face::Soft, 906, 417, 52, 44, detail::kSoftKeySets},
    {1019, "", "", Face::Soft, 906, 493, 52, 44, detail::kSoftKeySets},
    {1020, "", "", Face::Soft, 906, 571, 52, 44, detail::kSoftKeySets},
    {1021,
     "Prev",
     "",
     Face::Nav,
     902,
     646,
     59,
     42,
     {ImageSet{{137, 138, 137, 141}, 59, 42}, ImageSet{{451, 452, 451, 453}, 50, 36},
      ImageSet{{352, 353, 352, 354}, 41, 29}}},
    {1022, "Mode", "", Face::Function, 38, 705, 98, 32, Row32(156, 467, 368)},
    {1023, "Freq/Dist", "", Face::Function, 156, 705, 98, 36, Row36(150, 461, 362)},
    {1024, "Amp/Scale", "", Face::Function, 274, 705, 98, 36, Row36(144, 455, 356)},
    {1025, "BW/AVG", "", Face::Function, 391, 705, 98, 36, Row36(147, 458, 359)},
    {1026, "Trace/Display", "", Face::Function, 508, 705, 98, 36, Row36(162, 473, 374)},
    {1027, "Marker", "", Face::Function, 626, 705, 98, 36, Row36(153, 464, 365)},
    {1028, "Peak", "", Face::Function, 743, 705, 98, 32, Row32(159, 470, 371)},
    {1029, "1", "Measure", Face::Digit, 1005, 409, 64, 45, Pad45(180, 491, 392)},
    {1030, "2", "Trigger", Face::Digit, 1096, 416, 64, 40, Pad40(183, 494, 395)},
    {1031, "3", "System", Face::Digit, 1186, 409, 64, 45, Pad45(186, 497, 398)},
    {1032, "4", "Measure Setup", Face::Digit, 1005, 474, 64, 45, Pad45(189, 500, 401)},
    {1033, "5", "", Face::Digit, 1096, 481, 64, 40, Pad40(192, 503, 404)},
    {1034, "6", "Preset", Face::Digit, 1186, 474, 64, 45, Pad45(195, 506, 407)},
    {1035, "7", "Save/Load", Face::Digit, 1005, 539, 64, 45, Pad45(198, 509, 410)},
    {1036, "8", "", Face::Digit, 1096, 546, 64, 40, Pad40(201, 512, 413)},
    {1037, "9", "Hold", Face::Digit, 1186, 539, 64, 45, Pad45(204, 515, 416)},
    {1038, ".", "Sweep", Face::Digit, 1005, 604, 64, 45, Pad45(171, 482, 383)},
    {1039, "0", "Help", Face::Digit, 1096, 613, 64, 40, Pad40(177, 488, 389)},
    {1040, "+/-", "Limit", Face::Digit, 1186, 604, 64, 45, Pad45(165, 476, 377)},
    {1041, "Del", "", Face::Escape, 1005, 669, 64, 45, Pad45(168, 479, 380)},
    {1042,
     "Enter",
     "",
     Face::Enter,
     1096,
     669,
     153,
     45,
     {detail::Std(174, 153, 45), detail::Std(485, 130, 38), detail::Std(386, 107, 32)}},
    {1043,
     "\u25B2",
     "",
     Face::Arrow,
     1086,
     59,
     63,
     52,
     {detail::Std(216, 63, 52), detail::Std(527, 54, 44), detail::Std(428, 44, 36)}},
    {1044,
     "\u25B6",
     "",
     Face::Arrow,
     1213,
     177,
     52,
     63,
     {detail::Std(213, 52, 63), detail::Std(524, 44, 54), detail::Std(425, 36, 44)}},
    {1045,
     "\u25BC",
     "",
     Face::Arrow,
     1088,
     306,
     63,
     52,
     {detail::Std(207, 63, 52), detail::Std(518, 54, 44), detail::Std(419, 44, 36)}},
    {1046,
     "\u25C0",
     "",
     Face::Arrow,
     971,
     177,
     52,
     63,
     {detail::Std(210, 52, 63), detail::Std(521, 44, 54), detail::Std(422, 36, 44)}},
}};

inline constexpr std::array<KnobSkin, 4> kKnobs{{
    {Panel::HardKey, 0, 140, 304, 292, 787, 530},
    {Panel::SoftKey, 0, 177, 219, 220, 1030, 120},
    {Panel::SoftKey, 1, 150, 530, 531, 1030, 120},
    {Panel::SoftKey, 2, 124, 431, 432, 1030, 120},
}};

inline constexpr std::array<PlainSkin, 9> kPlain{{
    {243, 1023, 679, Kind::Background, Panel::HardKey, 0, "Hard-key front panel"},
    {242, 800, 480, Kind::Screen, Panel::HardKey, 0, "Hard-key screen"},
    {143, 1282, 767, Kind::Background, Panel::SoftKey, 0, "Soft-key front panel 100%"},
    {454, 1090, 652, Kind::Background, Panel::SoftKey, 1, "Soft-key front panel 85%"},
    {355, 897, 537, Kind::Background, Panel::SoftKey, 2, "Soft-key front panel 70%"},
    {142, 800, 600, Kind::Screen, Panel::SoftKey, 0, "Soft-key screen"},
    {128, 32, 32, Kind::Icon, Panel::Program, 0, "Application"},
    {233, 16, 16, Kind::Icon, Panel::Program, 0, "Connected"},
    {234, 16, 16, Kind::Icon, Panel::Program, 0, "Disconnected"},
}};

// One bitmap of the skin.
struct Entry {
    int number = 0;
    int width = 0;
    int height = 0;
    Kind kind = Kind::Key;
    Panel panel = Panel::Program;
    int scale = 0;
    State state = State::Normal;
    int position = 0;              // knob: 0 disabled, 1..12 pointer position
    const KeySkin* key = nullptr;  // keys: the first key row that uses this bitmap
    std::string_view label;        // key legend or image name
};

namespace detail {

template <typename Sink>
constexpr void ForEachBitmap(Sink&& sink) {
    for (const PlainSkin& p : kPlain) {
        sink(Entry{p.number, p.width, p.height, p.kind, p.panel, p.scale, State::Normal, 0, nullptr,
                   p.label});
    }
    const auto keys = [&](const auto& table, Panel panel) {
        for (const KeySkin& k : table) {
            for (int scale = 0; scale < 3; ++scale) {
                const ImageSet& s = k.sets[static_cast<std::size_t>(scale)];
                for (int st = 0; st < 4; ++st) {
                    const int id = s.ids[static_cast<std::size_t>(st)];
                    if (id != 0) {
                        sink(Entry{id, s.width, s.height, Kind::Key, panel, scale,
                                   static_cast<State>(st), 0, &k, k.label});
                    }
                }
            }
        }
    };
    keys(kHardKeys, Panel::HardKey);
    keys(kSoftKeys, Panel::SoftKey);
    for (const KnobSkin& k : kKnobs) {
        const auto frames = k.Frames();
        for (int i = 0; i < 13; ++i) {
            sink(Entry{frames[static_cast<std::size_t>(i)], k.size, k.size, Kind::Knob, k.panel,
                       k.scale, i == 0 ? State::Disabled : State::Normal, i, nullptr, "Knob"});
        }
    }
}

// Focus images that repeat the normal one, and keys sharing images, list a number more than
// once; the catalogue keeps its first mention.
constexpr std::size_t CountDistinct() {
    std::array<int, 1024> seen{};
    std::size_t n = 0;
    ForEachBitmap([&](const Entry& e) {
        for (std::size_t i = 0; i < n; ++i) {
            if (seen[i] == e.number) {
                return;
            }
        }
        seen[n++] = e.number;
    });
    return n;
}

template <std::size_t N>
constexpr std::array<Entry, N> BuildCatalogue() {
    std::array<Entry, N> out{};
    std::size_t n = 0;
    ForEachBitmap([&](const Entry& e) {
        for (std::size_t i = 0; i < n; ++i) {
            if (out[i].number == e.number) {
                return;
            }
        }
        out[n++] = e;
    });
    return out;
}

// Same number, two sizes: caught when the header is compiled.
template <std::size_t N>
constexpr bool SizesAgree(const std::array<Entry, N>& catalogue) {
    bool ok = true;
    ForEachBitmap([&](const Entry& e) {
        for (const Entry& c : catalogue) {
            if (c.number == e.number) {
                ok = ok && c.width == e.width && c.height == e.height;
                return;
            }
        }
    });
    return ok;
}

}  // namespace detail

inline constexpr auto kCatalogue = detail::BuildCatalogue<detail::CountDistinct()>();
static_assert(detail::SizesAgree(kCatalogue), "a skin bitmap is listed with two sizes");

// The entry of a bitmap number, or nullptr.
const Entry* Find(int number);
std::span<const Entry> Catalogue();
const char* StateName(State state);

}  // namespace qv::skin
