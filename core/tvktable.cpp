#include "tvktable.h"

namespace quendril {

TvkTable& tvk() {
    static TvkTable table = tvkLibrary();
    return table;
}

}  // namespace quendril
