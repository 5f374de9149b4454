#pragma once

#include <cstdint>
#include <optional>

namespace velmora {

// Keystrokes travel as Windows virtual-key codes so that both sides agree whatever toolkit
// they run on. These map the keys a conversation uses: letters, digits, editing and
// navigation keys, F1 to F12 and the modifiers.
std::optional<std::uint16_t> virtualKeyFromQtKey(int qtKey);
std::optional<int> qtKeyFromVirtualKey(std::uint16_t virtualKey);

// Keys whose effect in a text view comes from the character they type (letters, digits,
// Space, Enter, Backspace, Tab), as opposed to keys that act by themselves (arrows, Delete).
bool virtualKeyTypesCharacter(std::uint16_t virtualKey);

}  // namespace velmora
