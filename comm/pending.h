// Interfaces of the settings module this module calls; replaced by its own
// header as soon as that lands.
#pragma once

#include <cstdint>
#include <string>

namespace quendril {
int16_t readIni();
int32_t numericValue(const std::string& text);
}  // namespace quendril
