// The soft-key panel's keys: each key's control id and the one command it sends. Images and
// places come from the skin rows of the same ids.
#pragma once

#include <array>
#include <span>
#include <string_view>

#include "resources/ids.h"
#include "widgets/SkinCatalogue.h"

struct SoftKey {
    int id;
    std::string_view command;
};

class SoftKeyTable {
  public:
    static constexpr int kKeyCount = 34;
    // The hidden "Keyboard" button; no key or menu item carries it.
    static constexpr int kKeyboardButton = qv::ids::kSoftKeyboardButton;

    // The 34 keys in id order, 1013 to 1046.
    static std::span<const SoftKey> Keys();
    // The command of a key id or of the keyboard button; empty for any other id.
    static std::string_view Command(int id);
    // The skin row of a key id, or nullptr.
    static const qv::skin::KeySkin* Skin(int id);
};
