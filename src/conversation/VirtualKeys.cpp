#include "conversation/VirtualKeys.h"

#include <Qt>

#include <array>
#include <utility>

namespace velmora {

namespace {

constexpr std::uint16_t VK_BACK = 0x08;
constexpr std::uint16_t VK_TAB = 0x09;
constexpr std::uint16_t VK_RETURN = 0x0D;
constexpr std::uint16_t VK_SPACE = 0x20;
constexpr std::uint16_t VK_F1 = 0x70;

// Keys that are neither letters, digits nor function keys.
constexpr std::array<std::pair<int, std::uint16_t>, 22> NamedKeys{{
    {Qt::Key_Backspace, VK_BACK}, {Qt::Key_Tab, VK_TAB},      {Qt::Key_Backtab, VK_TAB},
    {Qt::Key_Return, VK_RETURN},  {Qt::Key_Enter, VK_RETURN}, {Qt::Key_Shift, 0x10},
    {Qt::Key_Control, 0x11},      {Qt::Key_Alt, 0x12},        {Qt::Key_Pause, 0x13},
    {Qt::Key_CapsLock, 0x14},     {Qt::Key_Escape, 0x1B},     {Qt::Key_Space, VK_SPACE},
    {Qt::Key_PageUp, 0x21},       {Qt::Key_PageDown, 0x22},   {Qt::Key_End, 0x23},
    {Qt::Key_Home, 0x24},         {Qt::Key_Left, 0x25},       {Qt::Key_Up, 0x26},
    {Qt::Key_Right, 0x27},        {Qt::Key_Down, 0x28},       {Qt::Key_Insert, 0x2D},
    {Qt::Key_Delete, 0x2E},
}};

}  // namespace

std::optional<std::uint16_t> virtualKeyFromQtKey(int qtKey) {
    // Letters and digits have the same codes in both: their upper-case ASCII values.
    if ((qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) || (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)) {
        return static_cast<std::uint16_t>(qtKey);
    }
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F12) {
        return static_cast<std::uint16_t>(VK_F1 + (qtKey - Qt::Key_F1));
    }
    for (const auto& [qt, vk] : NamedKeys) {
        if (qt == qtKey) {
            return vk;
        }
    }
    return std::nullopt;
}

}  // namespace velmora
