/* The terminal's files of a tvkbox platform on a POSIX system: a send job
 * sends the regular, non-hidden files of a directory in name order; a
 * receive job stores into a directory, each file under a temporary name
 * until it is whole and checked, then synced and renamed. Used by htsim, and
 * an example of the file callbacks a firmware provides.
 *
 * The callbacks take `user` as a struct tvkbox_posix: put one first in the
 * struct your platform's user points to (its other callbacks, such as the
 * poll answer, are yours). */
#ifndef TVKBOX_POSIX_H
#define TVKBOX_POSIX_H

#include <dirent.h>

#include "tvkbox.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct tvkbox_posix {
    /* Set by the caller before a job starts. */
    const char *send_dir;   /* the files a send job sends */
    const char *first_name; /* when not null, the first file is sent under this name */
    const char *recv_dir;   /* where a receive job stores its files */
    /* Bytes read or written in the current job. */
    uint64_t job_bytes;
    /* Private. */
    struct dirent **list;
    int listed;
    int fd, dir_fd;
    char part[32];
    char name[TVKBOX_MAX_NAME + 1];
} tvkbox_posix;

/* A fresh state: no job, nothing open. */
void tvkbox_posix_init(tvkbox_posix *p);
/* Closes what a job left open and frees the listing. */
void tvkbox_posix_close(tvkbox_posix *p);
/* Sets the file callbacks of pf (send_begin, send_list, send_open,
 * send_read, send_close, recv_begin, recv_create, recv_write, recv_commit,
 * recv_discard); user must point to p (or a struct starting with it). */
void tvkbox_posix_platform(tvkbox_platform *pf);

/* The callbacks, for a caller that wraps some of them. */
int tvkbox_posix_send_begin(void *user);
int tvkbox_posix_send_list(void *user, uint32_t index, uint8_t *name, size_t cap, uint64_t *size);
int tvkbox_posix_send_open(void *user, uint32_t index);
long tvkbox_posix_send_read(void *user, uint8_t *buf, size_t n);
void tvkbox_posix_send_close(void *user);
int tvkbox_posix_recv_begin(void *user, const tvkbox_job *job);
int tvkbox_posix_recv_create(void *user, const uint8_t *name, size_t len, uint64_t size);
int tvkbox_posix_recv_write(void *user, const uint8_t *data, size_t n);
int tvkbox_posix_recv_commit(void *user);
void tvkbox_posix_recv_discard(void *user);

#ifdef __cplusplus
}
#endif

#endif
