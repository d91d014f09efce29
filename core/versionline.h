// The texts of the Version dialog.
#pragma once

#include <string>

namespace quendril {

inline constexpr const char* kProductLine = "QUENDRIL 32BIT English";

// "Version " major "." minor revision: minor and revision are written one
// after the other (2, 0, 0 -> "Version 2.00"; 2, 10, 3 -> "Version 2.103").
inline std::string versionLine(int major, int minor, int revision) {
    return "Version " + std::to_string(major) + "." + std::to_string(minor) +
           std::to_string(revision);
}

}  // namespace quendril
