// The string catalogue: every text the user sees, looked up by numeric ID.
#pragma once

#include <string>

namespace quendril {

// Every ID the program loads is a base ID plus this offset.
inline constexpr int langOffset = 1000;

// The text of id, or an empty text for an id the catalogue does not hold.
std::string loadResString(int id);

}  // namespace quendril
