// The panels' tables as data, against the front panels' own tables: every key's command,
// images and place, the layout at each scale and the PC keyboard maps. No window is opened.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>

#include "panels/hardkey/HardKeyTable.h"
#include "panels/softkey/SoftKeyTable.h"
#include "panels/softkey/SoftLayout.h"

namespace qv {
namespace {

// The hard-key panel: id, command, normal / pressed / disabled image, place and size as the
// layout gives it, and whether screen mode hides it.
struct HardRow {
    int id;
    const char* command;
    int normal, pressed, disabled;
    int x, y, w, h;
    bool hidden;
};

constexpr bool H = true;
const HardRow kHardRows[] = {
    {1073, "KEYP:MODE", 245, 246, 247, 23, 35, 65, 47, H},
    {1074, "KEYP:SETUP", 281, 282, 280, 23, 115, 65, 47, H},
    {1075, "KEYP:FAV", 257, 259, 258, 23, 195, 65, 47, H},
    {1076, "KEYP:QSAVE", 275, 276, 274, 23, 275, 65, 47, H},
    {1077, "KEYP:SL", 278, 279, 277, 23, 355, 65, 47, H},
    {1078, "KEYP:CAL", 254, 256, 255, 23, 435, 65, 47, H},
    {1079, "KEYP:MARK", 268, 269, 267, 935, 35, 65, 47, false},
    {1080, "KEYP:PEAK", 272, 273, 271, 935, 115, 65, 47, false},
    {1081, "KEYP:TRACE", 284, 285, 283, 935, 195, 65, 47, false},
    {1082, "KEYP:LIMIT", 265, 266, 263, 935, 275, 65, 47, false},
    {1083, "KEYP:HOLD", 261, 262, 260, 935, 355, 65, 47, false},
    {1084, "KEYP:AUTO", 253, 252, 251, 935, 435, 65, 47, false},
    {1085, "KEYP:NUM1", 309, 310, 308, 122, 517, 60, 40, H},
    {1086, "KEYP:NUM2", 312, 313, 311, 232, 517, 60, 40, H},
    {1087, "KEYP:NUM3", 315, 316, 314, 342, 517, 60, 40, H},
    {1088, "KEYP:NUM4", 318, 319, 317, 122, 570, 60, 40, false},
    {1089, "KEYP:NUM5", 321, 322, 320, 232, 570, 60, 40, false},
    {1090, "KEYP:NUM6", 324, 325, 323, 342, 570, 60, 40, false},
    {1091, "KEYP:NUM7", 327, 328, 326, 122, 623, 60, 40, false},
    {1092, "KEYP:NUM8", 330, 331, 329, 232, 623, 60, 40, false},
    {1093, "KEYP:NUM9", 333, 334, 332, 342, 623, 60, 40, false},
    {1094, "KEYP:NUM0", 306, 307, 305, 452, 517, 60, 40, H},
    {1095, "KEYP:JUM", 339, 340, 338, 452, 570, 60, 40, false},
    {1096, "KEYP:ESC", 248, 249, 250, 562, 517, 60, 40, H},
    {1097, "KEYP:ENTR", 342, 343, 341, 452, 619, 230, 40, false},
    {1098, "KEYP:BUHO", 336, 337, 335, 562, 570, 60, 40, false},
    {1099, "KEYP:UP", 290, 291, 289, 722, 554, 10, 10, false},
    {1100, "KEYP:DOWN", 287, 288, 286, 722, 609, 55, 40, false},
};

TEST(HardKeyTable, EveryKeySendsShowsAndSitsAsOnThePanel) {
    ASSERT_EQ(hardkey::kKeys.size(), std::size(kHardRows));
    for (const HardRow& row : kHardRows) {
        SCOPED_TRACE(row.id);
        const PanelKey* key = FindKey(hardkey::kKeys, row.id);
        ASSERT_NE(key, nullptr);
        EXPECT_EQ(key->command, row.command);
        const skin::ImageSet& set = key->skin->sets[0];
        // The focus image is the normal one.
        EXPECT_EQ(set.ids, (std::array{row.normal, row.pressed, row.normal, row.disabled}));
        const QSize image = row.id == 1097   ? QSize(175, 47)
                            : row.id >= 1099 ? QSize(38, 48)
                                             : QSize(65, 47);
        EXPECT_EQ(QSize(set.width, set.height), image);
        EXPECT_EQ(QRect(key->skin->x, key->skin->y, key->skin->w, key->skin->h),
                  QRect(row.x, row.y, row.w, row.h));
        EXPECT_EQ(key->hiddenInScreenMode, row.hidden);
    }
    // The knob: disabled image first, then positions 1 to 12; 140 x 140 at (787, 530).
    EXPECT_EQ(hardkey::kKnob.Frames(),
              (std::array{304, 292, 293, 294, 295, 296, 297, 298, 299, 300, 301, 302, 303}));
    EXPECT_EQ(QRect(hardkey::kKnob.x, hardkey::kKnob.y, hardkey::kKnob.size, hardkey::kKnob.size),
              QRect(787, 530, 140, 140));
}

// The soft-key panel: id, command, design place at 100 %, and per scale the four images
// (normal/pressed/focus/disabled) with their size, written as the panel's table has them.
struct SoftRow {
    int id;
    const char* command;
    int x, y, w, h;
    const char* images[3];
};

// clang-format off
const SoftRow kSoftRows[] = {
    {1013, "KEYP:ESC", 902, 38, 59, 42, {"135/136/135/139, 59x42", "448/449/448/450, 50x36", "349/350/349/351, 41x29"}},
    {1014, "KEYP:CUS1", 906, 108, 52, 44, {"133/134/237/140, 52x44", "444/445/446/447, 44x37", "345/346/347/348, 36x31"}},
    {1015, "KEYP:CUS2", 906, 186, 52, 44, {"133/134/237/140, 52x44", "444/445/446/447, 44x37", "345/346/347/348, 36x31"}},
    {1016, "KEYP:CUS3", 906, 263, 52, 44, {"133/134/237/140, 52x44", "444/445/446/447, 44x37", "345/346/347/348, 36x31"}},
    {1017, "KEYP:CUS4", 906, 338, 52, 44, {"133/134/237/140, 52x44", "444/445/446/447, 44x37", "345/346/347/348, 36x31"}},
    {1018, "KEYP:CUS5", 906, 417, 52, 44, {"133/134/237/140, 52x44", "444/445/446/447, 44x37", "345/346/347/348, 36x31"}},
    {1019, "KEYP:CUS6", 906, 493, 52, 44, {"133/134/237/140, 52x44", "444/445/446/447, 44x37", "345/346/347/348, 36x31"}},
    {1020, "KEYP:CUS7", 906, 571, 52, 44, {"133/134/237/140, 52x44", "444/445/446/447, 44x37", "345/346/347/348, 36x31"}},
    {1021, "KEYP:PREV", 902, 646, 59, 42, {"137/138/137/141, 59x42", "451/452/451/453, 50x36", "352/353/352/354, 41x29"}},
    {1022, "KEYP:MODE", 38, 705, 98, 32, {"156/158/156/157, 98x32", "467/469/467/468, 83x27", "368/370/368/369, 69x22"}},
    {1023, "KEYP:FREQ", 156, 705, 98, 36, {"150/152/150/151, 98x36", "461/463/461/462, 83x31", "362/364/362/363, 69x25"}},
    {1024, "KEYP:AMP", 274, 705, 98, 36, {"144/146/144/145, 98x36", "455/457/455/456, 83x31", "356/358/356/357, 69x25"}},
    {1025, "KEYP:BW", 391, 705, 98, 36, {"147/149/147/148, 98x36", "458/460/458/459, 83x31", "359/361/359/360, 69x25"}},
    {1026, "KEYP:TRAC", 508, 705, 98, 36, {"162/164/162/163, 98x36", "473/475/473/474, 83x31", "374/376/374/375, 69x25"}},
    {1027, "KEYP:MARK", 626, 705, 98, 36, {"153/155/153/154, 98x36", "464/466/464/465, 83x31", "365/367/365/366, 69x25"}},
    {1028, "KEYP:PEAK", 743, 705, 98, 32, {"159/161/159/160, 98x32", "470/472/470/471, 83x27", "371/373/371/372, 69x22"}},
    {1029, "KEYP:NUM1", 1005, 409, 64, 45, {"180/182/180/181, 64x45", "491/493/491/492, 54x38", "392/394/392/393, 45x32"}},
    {1030, "KEYP:NUM2", 1096, 416, 64, 40, {"183/185/183/184, 64x40", "494/496/494/495, 54x34", "395/397/395/396, 45x28"}},
    {1031, "KEYP:NUM3", 1186, 409, 64, 45, {"186/188/186/187, 64x45", "497/499/497/498, 54x38", "398/400/398/399, 45x32"}},
    {1032, "KEYP:NUM4", 1005, 474, 64, 45, {"189/191/189/190, 64x45", "500/502/500/501, 54x38", "401/403/401/402, 45x32"}},
    {1033, "KEYP:NUM5", 1096, 481, 64, 40, {"192/194/192/193, 64x40", "503/505/503/504, 54x34", "404/406/404/405, 45x28"}},
    {1034, "KEYP:NUM6", 1186, 474, 64, 45, {"195/197/195/196, 64x45", "506/508/506/507, 54x38", "407/409/407/408, 45x32"}},
    {1035, "KEYP:NUM7", 1005, 539, 64, 45, {"198/200/198/199, 64x45", "509/511/509/510, 54x38", "410/412/410/411, 45x32"}},
    {1036, "KEYP:NUM8", 1096, 546, 64, 40, {"201/203/201/202, 64x40", "512/514/512/513, 54x34", "413/415/413/414, 45x28"}},
    {1037, "KEYP:NUM9", 1186, 539, 64, 45, {"204/206/204/205, 64x45", "515/517/515/516, 54x38", "416/418/416/417, 45x32"}},
    {1038, "KEYP:JUM", 1005, 604, 64, 45, {"171/173/171/172, 64x45", "482/484/482/483, 54x38", "383/385/383/384, 45x32"}},
    {1039, "KEYP:NUM0", 1096, 613, 64, 40, {"177/179/177/178, 64x40", "488/490/488/489, 54x34", "389/391/389/390, 45x28"}},
    {1040, "KEYP:BUHO", 1186, 604, 64, 45, {"165/167/165/166, 64x45", "476/478/476/477, 54x38", "377/379/377/378, 45x32"}},
    {1041, "KEYP:DEL", 1005, 669, 64, 45, {"168/170/168/169, 64x45", "479/481/479/480, 54x38", "380/382/380/381, 45x32"}},
    {1042, "KEYP:ENTR", 1096, 669, 153, 45, {"174/176/174/175, 153x45", "485/487/485/486, 130x38", "386/388/386/387, 107x32"}},
    {1043, "KEYP:UP", 1086, 59, 63, 52, {"216/218/216/217, 63x52", "527/529/527/528, 54x44", "428/430/428/429, 44x36"}},
    {1044, "KEYP:RIGH", 1213, 177, 52, 63, {"213/215/213/214, 52x63", "524/526/524/525, 44x54", "425/427/425/426, 36x44"}},
    {1045, "KEYP:DOWN", 1088, 306, 63, 52, {"207/209/207/208, 63x52", "518/520/518/519, 54x44", "419/421/419/420, 44x36"}},
    {1046, "KEYP:LEFT", 971, 177, 52, 63, {"210/212/210/211, 52x63", "521/523/521/522, 44x54", "422/424/422/423, 36x44"}},
};
// clang-format on

// A design length at a scale: times the single-precision factor, in double, truncated.
int Scaled(int length, int scale) {
    constexpr float kFactor[] = {1.0f, 0.85f, 0.7f};
    return static_cast<int>(static_cast<double>(kFactor[scale]) * length);
}

std::string Images(const skin::ImageSet& s) {
    char text[64];
    std::snprintf(text, sizeof text, "%d/%d/%d/%d, %dx%d", s.ids[0], s.ids[1], s.ids[2], s.ids[3],
                  s.width, s.height);
    return text;
}

TEST(SoftKeyTable, EveryKeySendsShowsAndSitsAsOnThePanelAtEveryScale) {
    ASSERT_EQ(softkey::kKeys.size(), std::size(kSoftRows));
    for (int scale = 0; scale < 3; ++scale) {
        const SoftLayout layout(scale, false);
        for (const SoftRow& row : kSoftRows) {
            SCOPED_TRACE(testing::Message() << row.id << " at scale " << scale);
            const PanelKey* key = FindKey(softkey::kKeys, row.id);
            ASSERT_NE(key, nullptr);
            EXPECT_EQ(key->command, row.command);
            EXPECT_EQ(Images(key->skin->sets[static_cast<std::size_t>(scale)]), row.images[scale]);
            EXPECT_EQ(layout.Place(*key->skin), QRect(Scaled(row.x, scale), Scaled(row.y, scale),
                                                      Scaled(row.w, scale), Scaled(row.h, scale)));
        }
    }
}

TEST(SoftLayout, WindowScreenKnobAndBackgroundByScaleAndMode) {
    struct Row {
        int scale;
        bool screenMode;
        QSize window;
        std::array<int, 4> screen;  // left, top, right, bottom
        int background;
        std::array<int, 13> knob;
    };
    const auto knob = [](int first) {
        std::array<int, 13> f{};
        for (int i = 0; i < 13; ++i) {
            f[static_cast<std::size_t>(i)] = first + i;
        }
        return f;
    };
    const Row rows[] = {
        {0, false, {1282, 823}, {41, 39, 841, 639}, 143, knob(219)},
        {1, false, {1089, 707}, {34, 33, 714, 543}, 454, knob(530)},
        {2, false, {897, 592}, {28, 27, 587, 446}, 355, knob(431)},
        {0, true, {805, 656}, {0, 0, 800, 600}, 142, knob(219)},
        {1, true, {685, 566}, {0, 0, 680, 510}, 142, knob(530)},
        {2, true, {564, 475}, {0, 0, 559, 419}, 142, knob(431)},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.scale << (r.screenMode ? " screen" : " panel"));
        const SoftLayout layout(r.scale, r.screenMode);
        EXPECT_EQ(layout.WindowSize(), r.window);
        const ScreenRect s = layout.Screen();
        EXPECT_EQ((std::array{s.left, s.top, s.right, s.bottom}), r.screen);
        EXPECT_EQ(layout.BackgroundId(), r.background);
        EXPECT_EQ(layout.Knob().Frames(), r.knob);
    }
    // Worked values of the panel's layout: the ESC key at 85 and 70 %, the knob at 70 %.
    const PanelKey* esc = FindKey(softkey::kKeys, 1013);
    EXPECT_EQ(SoftLayout(1, false).Place(*esc->skin), QRect(766, 32, 50, 35));
    EXPECT_EQ(SoftLayout(2, false).Place(*esc->skin), QRect(631, 26, 41, 29));
    EXPECT_EQ(SoftLayout(0, false).KnobPlace(), QRect(1030, 120, 177, 177));
    EXPECT_EQ(SoftLayout(2, true).KnobPlace(), QRect(720, 83, 123, 123));
    // Any other scale setting lays out at 100 %.
    EXPECT_EQ(SoftLayout(7, false).WindowSize(), QSize(1282, 823));
}

// Windows virtual-key codes as the keyboard map names them, and the key event each is.
struct PcKey {
    int qtKey;
    bool pad;
};
std::map<int, PcKey> VirtualKeys() {
    std::map<int, PcKey> keys = {
        {8, {Qt::Key_Backspace, false}}, {9, {Qt::Key_Tab, false}},
        {13, {Qt::Key_Return, false}},   {27, {Qt::Key_Escape, false}},
        {37, {Qt::Key_Left, false}},     {38, {Qt::Key_Up, false}},
        {39, {Qt::Key_Right, false}},    {40, {Qt::Key_Down, false}},
        {46, {Qt::Key_Delete, false}},   {107, {Qt::Key_Plus, true}},
        {109, {Qt::Key_Minus, true}},    {110, {Qt::Key_Period, true}},
        {189, {Qt::Key_Minus, false}},   {190, {Qt::Key_Period, false}},
    };
    for (int i = 0; i < 10; ++i) {
        keys[48 + i] = {Qt::Key_0 + i, false};
        keys[96 + i] = {Qt::Key_0 + i, true};
    }
    for (int i = 0; i < 26; ++i) {
        keys[65 + i] = {Qt::Key_A + i, false};
    }
    for (int i = 0; i < 12; ++i) {
        keys[112 + i] = {Qt::Key_F1 + i, false};
    }
    return keys;
}

int Map(std::span<const KeyboardRow> map, const PcKey& key, Qt::KeyboardModifiers mods = {}) {
    return MapKey(map, key.qtKey, key.pad ? mods | Qt::KeypadModifier : mods, 0, ScanCodes::None);
}

// Each map from the panels' tables by virtual-key code; every other key is not mapped.
void ExpectMap(std::span<const KeyboardRow> map, const std::map<int, int>& expected) {
    for (const auto& [vk, key] : VirtualKeys()) {
        const auto it = expected.find(vk);
        EXPECT_EQ(Map(map, key), it == expected.end() ? 0 : it->second) << "virtual key " << vk;
        // Shift and Ctrl are not looked at; Alt combinations are never mapped.
        EXPECT_EQ(Map(map, key, Qt::ShiftModifier | Qt::ControlModifier), Map(map, key));
        EXPECT_EQ(Map(map, key, Qt::AltModifier), 0);
    }
}

std::map<int, int> Digits(const std::array<int, 10>& ids) {
    std::map<int, int> m;
    for (int d = 0; d < 10; ++d) {
        m[48 + d] = ids[static_cast<std::size_t>(d)];
        m[96 + d] = ids[static_cast<std::size_t>(d)];
    }
    return m;
}

TEST(KeyboardMap, HardKeyPanel) {
    auto expected = Digits({1094, 1085, 1086, 1087, 1088, 1089, 1090, 1091, 1092, 1093});
    expected.insert(
        {{8, 1098}, {46, 1098}, {13, 1097}, {27, 1096}, {38, 1099}, {40, 1100}, {110, 1095}});
    ExpectMap(hardkey::kKeyboard, expected);
}

TEST(KeyboardMap, SoftKeyPanel) {
    auto expected = Digits({1039, 1029, 1030, 1031, 1032, 1033, 1034, 1035, 1036, 1037});
    // clang-format off
    expected.insert({{8, 1041}, {46, 1041}, {13, 1042}, {27, 1013}, {37, 1046}, {38, 1043},
                     {39, 1044}, {40, 1045}, {110, 1038}});
    // clang-format on
    for (int f = 0; f < 7; ++f) {
        expected[112 + f] = 1014 + f;
    }
    ExpectMap(softkey::kKeyboard, expected);
}

// By key, not by character: the pad's Enter and a pad comma (decimal-comma layouts), and the
// digit row under Shift, found by its physical key where the platform numbers them.
TEST(KeyboardMap, ByKeyNotByCharacter) {
    struct Row {
        int qtKey;
        Qt::KeyboardModifiers mods;
        std::uint32_t scanCode;
        ScanCodes codes;
        int hard, soft;
    };
    const auto shift = Qt::ShiftModifier;
    const Row rows[] = {
        {Qt::Key_Enter, Qt::KeypadModifier, 0, ScanCodes::None, 1097, 1042},
        {Qt::Key_Comma, Qt::KeypadModifier, 0, ScanCodes::None, 1095, 1038},
        {Qt::Key_Comma, {}, 0, ScanCodes::None, 0, 0},
        {Qt::Key_Exclam, shift, 10, ScanCodes::X11, 1085, 1029},
        {Qt::Key_ParenRight, shift, 19, ScanCodes::X11, 1094, 1039},
        {Qt::Key_Exclam, shift, 0x02, ScanCodes::Windows, 1085, 1029},
        {Qt::Key_Exclam, shift, 10, ScanCodes::None, 0, 0},
        {Qt::Key_Exclam, shift, 9, ScanCodes::X11, 0, 0},
        {Qt::Key_Exclam, shift | Qt::AltModifier, 10, ScanCodes::X11, 0, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.qtKey << " code " << r.scanCode);
        EXPECT_EQ(MapKey(hardkey::kKeyboard, r.qtKey, r.mods, r.scanCode, r.codes), r.hard);
        EXPECT_EQ(MapKey(softkey::kKeyboard, r.qtKey, r.mods, r.scanCode, r.codes), r.soft);
    }
}

}  // namespace
}  // namespace qv
