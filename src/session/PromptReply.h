#pragma once

#include <functional>
#include <optional>

namespace velmora {

// How a prompt hands back its answer: once, on the UI thread, at once or when the user has
// answered; nothing when the user cancelled.
template <typename Answer>
using PromptReply = std::function<void(std::optional<Answer>)>;

}  // namespace velmora
