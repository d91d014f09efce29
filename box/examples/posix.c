/* The terminal's files on a POSIX system (posix.h). */
#define _POSIX_C_SOURCE 200809L

#include "posix.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

/* Received files live under this prefix until they are whole and checked. */
#define PART_PREFIX ".tvk-part-"

static tvkbox_posix *of(void *user) { return (tvkbox_posix *)user; }

void tvkbox_posix_init(tvkbox_posix *p) {
    memset(p, 0, sizeof *p);
    p->fd = p->dir_fd = -1;
}

static void free_list(tvkbox_posix *p) {
    int i;
    for (i = 0; i < p->listed; ++i) free(p->list[i]);
    free(p->list);
    p->list = NULL;
    p->listed = 0;
}

static void close_fd(int *fd) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
}

void tvkbox_posix_close(tvkbox_posix *p) {
    if (p->part[0]) tvkbox_posix_recv_discard(p);
    close_fd(&p->fd);
    close_fd(&p->dir_fd);
    free_list(p);
}

/* ---- sending ---- */

/* Names compare as bytes, whatever the locale. */
static int by_name(const struct dirent **a, const struct dirent **b) { return strcmp((*a)->d_name, (*b)->d_name); }

static int sendable(const tvkbox_posix *p, const char *name) {
    struct stat st;
    return name[0] != '.' && fstatat(p->dir_fd, name, &st, 0) == 0 && S_ISREG(st.st_mode);
}

int tvkbox_posix_send_begin(void *user) {
    tvkbox_posix *p = of(user);
    int n, i, kept = 0;
    tvkbox_posix_close(p);
    p->job_bytes = 0;
    if (!p->send_dir) return -1;
    p->dir_fd = open(p->send_dir, O_RDONLY | O_DIRECTORY);
    n = p->dir_fd < 0 ? -1 : scandir(p->send_dir, &p->list, NULL, by_name);
    if (n < 0) {
        close_fd(&p->dir_fd);
        p->list = NULL;
        return -1;
    }
    for (i = 0; i < n; ++i) {
        if (sendable(p, p->list[i]->d_name)) p->list[kept++] = p->list[i];
        else free(p->list[i]);
    }
    p->listed = kept;
    return 0;
}

int tvkbox_posix_send_list(void *user, uint32_t index, uint8_t *name, size_t cap, uint64_t *size) {
    tvkbox_posix *p = of(user);
    const char *n;
    size_t len;
    struct stat st;
    if (index >= (uint32_t)p->listed) return 0;
    n = index == 0 && p->first_name ? p->first_name : p->list[index]->d_name;
    len = strlen(n);
    if (len > cap) return -1;
    memcpy(name, n, len);
    *size = fstatat(p->dir_fd, p->list[index]->d_name, &st, 0) == 0 ? (uint64_t)st.st_size : 0;
    return (int)len;
}

int tvkbox_posix_send_open(void *user, uint32_t index) {
    tvkbox_posix *p = of(user);
    close_fd(&p->fd);
    if (index >= (uint32_t)p->listed) return -1;
    p->fd = openat(p->dir_fd, p->list[index]->d_name, O_RDONLY | O_NOFOLLOW);
    return p->fd < 0 ? -1 : 0;
}

long tvkbox_posix_send_read(void *user, uint8_t *buf, size_t n) {
    tvkbox_posix *p = of(user);
    ssize_t r;
    do r = read(p->fd, buf, n);
    while (r < 0 && errno == EINTR);
    if (r > 0) p->job_bytes += (uint64_t)r;
    return (long)r;
}

void tvkbox_posix_send_close(void *user) { close_fd(&of(user)->fd); }

/* ---- receiving ---- */

int tvkbox_posix_recv_begin(void *user, const tvkbox_job *job) {
    tvkbox_posix *p = of(user);
    (void)job;
    tvkbox_posix_close(p);
    p->job_bytes = 0;
    if (!p->recv_dir) return -1;
    p->dir_fd = open(p->recv_dir, O_RDONLY | O_DIRECTORY);
    return p->dir_fd < 0 ? -1 : 0;
}

int tvkbox_posix_recv_create(void *user, const uint8_t *name, size_t len, uint64_t size) {
    tvkbox_posix *p = of(user);
    struct stat st;
    int attempt;
    (void)size;
    memcpy(p->name, name, len);
    p->name[len] = '\0';
    /* Nothing is ever written through a link, over a directory, or as
     * another receiver's part file. */
    if (strncmp(p->name, PART_PREFIX, sizeof PART_PREFIX - 1) == 0 ||
        (fstatat(p->dir_fd, p->name, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode)))
        return -1;
    for (attempt = 0; attempt < 4 && p->fd < 0; ++attempt) {
        struct timespec now;
        clock_gettime(CLOCK_REALTIME, &now);
        snprintf(p->part, sizeof p->part, PART_PREFIX "%08lx%04x", (unsigned long)now.tv_nsec,
                 (unsigned)getpid() & 0xFFFFu);
        p->fd = openat(p->dir_fd, p->part, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
    }
    if (p->fd < 0) p->part[0] = '\0';
    return p->fd < 0 ? -1 : 0;
}

int tvkbox_posix_recv_write(void *user, const uint8_t *data, size_t n) {
    tvkbox_posix *p = of(user);
    while (n > 0) {
        ssize_t w = write(p->fd, data, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return -1;
        data += w;
        n -= (size_t)w;
        p->job_bytes += (uint64_t)w;
    }
    return 0;
}

int tvkbox_posix_recv_commit(void *user) {
    tvkbox_posix *p = of(user);
    /* On disk under its name before the master hears of it. */
    const int ok = fsync(p->fd) == 0 && renameat(p->dir_fd, p->part, p->dir_fd, p->name) == 0 && fsync(p->dir_fd) == 0;
    if (!ok) unlinkat(p->dir_fd, p->part, 0);
    close_fd(&p->fd);
    p->part[0] = '\0';
    return ok ? 0 : -1;
}

void tvkbox_posix_recv_discard(void *user) {
    tvkbox_posix *p = of(user);
    close_fd(&p->fd);
    if (p->part[0]) unlinkat(p->dir_fd, p->part, 0);
    p->part[0] = '\0';
}

void tvkbox_posix_platform(tvkbox_platform *pf) {
    pf->send_begin = tvkbox_posix_send_begin;
    pf->send_list = tvkbox_posix_send_list;
    pf->send_open = tvkbox_posix_send_open;
    pf->send_read = tvkbox_posix_send_read;
    pf->send_close = tvkbox_posix_send_close;
    pf->recv_begin = tvkbox_posix_recv_begin;
    pf->recv_create = tvkbox_posix_recv_create;
    pf->recv_write = tvkbox_posix_recv_write;
    pf->recv_commit = tvkbox_posix_recv_commit;
    pf->recv_discard = tvkbox_posix_recv_discard;
}
