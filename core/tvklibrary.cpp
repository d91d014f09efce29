#include "tvktable.h"

namespace quendril {

const TvkTable& tvkLibrary() {
    static const TvkTable table{
        tvk_open,     tvk_close,       tvk_disconnect,   tvk_idtblclr,
        tvk_idtbladd, tvk_polling,     tvk_getcinffirst, tvk_getcinfnext,
        tvk_filerecv, tvk_filesend,    tvk_geterrinf,    tvk_stopreq,
        tvk_sethwnd,  tvk_getcomfname, tvk_setnotify,    tvk_setpump,
        tvk_setcheck,
    };
    return table;
}

}  // namespace quendril
