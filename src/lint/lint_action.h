// The lint verbs: suppress, de-escalate, escalate, note and set. A token is
// a verb after trimming White_Space, lowercasing ASCII and deleting every
// hyphen: "DE-ESCALATE", " Suppress " and "set-tings" all are.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>


namespace tarnwick::lint {

enum class LintAction : std::uint8_t { Suppress, Deescalate, Escalate, Note, Set };

// The verb a token names, or nothing. Never allocates.
std::optional<LintAction> lint_action_from_token(std::string_view token);

}  // namespace tarnwick::lint
