/* Receives the files of the first terminal that offers some, into the
 * current directory: receive-one PORT (COM port PORT, $QUENDRIL_COM<PORT>). */
#include <stdio.h>
#include <stdlib.h>
#include <tervolk.h>

int main(int argc, char **argv) {
    /* 115200 bit/s 8N1; answer within 100 ms, progress within 3 s, 3 retries */
    const tvk_openparam line = {7, 0, 0, 1, 100, 3000, 3, 0, 0};
    tvk_comminfo ht;
    int32_t mode = 1;
    int16_t r;
    if (argc != 2) {
        fputs("usage: receive-one PORT\n", stderr);
        return 2;
    }
    if ((r = tvk_open(atoi(argv[1]), &line)) != TVK_OK) goto failed;
    tvk_idtbladd("&&&&&&"); /* any terminal */
    for (int polls = 1;; ++polls) { /* box 1, for about ten seconds */
        if ((r = tvk_polling(&mode, 1)) < 0) goto failed;
        if (r > 0 && tvk_getcinffirst(&ht) == TVK_OK && ht.transDir == TVK_DIR_TO_PC) break;
        if (polls == 160) { r = TVK_ETIMEOUT; goto failed; }
    }
    if ((r = tvk_filerecv("", &ht)) != TVK_OK) goto failed;
    tvk_disconnect(0, &ht);
    tvk_close();
    printf("%d file(s), %d bytes from %.6s\n", (int)ht.fileCount, (int)ht.totalSize, ht.htId);
    return 0;
failed:
    fprintf(stderr, "receive-one: %s (status 0x%04x)\n", tvk_strerror(r), (unsigned)tvk_geterrinf());
    tvk_close();
    return 1;
}
