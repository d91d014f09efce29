#include "Module1.h"

namespace quendril {

TvkTable& tvk() {
    static TvkTable table = tvkLibrary();
    return table;
}

}  // namespace quendril
