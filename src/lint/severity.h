// The three lint severities, most severe first: error, warning, info.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/result.h"

namespace tarnwick::lint {

enum class Severity : std::uint8_t { Error = 0, Warning = 1, Info = 2 };
inline constexpr std::size_t kSeverityCount = 3;

// ASCII case-insensitive, not trimmed. The error is the message text.
Result<Severity, std::string> severity_from_text(std::string_view text);
std::string_view severity_text(Severity severity);

}  // namespace tarnwick::lint
