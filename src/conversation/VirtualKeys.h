#pragma once

#include <cstdint>
#include <optional>

namespace velmora {

// Keystrokes travel as Windows virtual-key codes so that both sides agree whatever toolkit
// they run on. These map the keys a conversation uses: letters, digits, editing and
// navigation keys, F1 to F12 and the modifiers.
std::optional<std::uint16_t> virtualKeyFromQtKey(int qtKey);

}  // namespace velmora
