#include "declar.h"

namespace quendril {

EnvSettingsRecord EnvSettings;
std::array<HtIdEntry, kHtIdSlots> HtIdTable;
int16_t htIdCount = 0;
std::string tempDir;
bool stopRequested = false;

}  // namespace quendril
