/* A stub firmware for measuring the box library on a microcontroller: no
 * file system (the terminal sends one file from flash and receives into
 * nothing), a memory-mapped UART, a millisecond counter. scripts/box-size
 * links it with the library and again with -DSIZESTUB_BARE (the same loop
 * without the box), and counts the difference. */
#include <stddef.h>
#include <stdint.h>

#include "tvkbox.h"

/* Memory-mapped registers of an imaginary UART and timer. */
#define UART_STATUS (*(volatile uint32_t *)0x40002000u)
#define UART_DATA (*(volatile uint32_t *)0x40002004u)
#define MILLIS (*(volatile uint32_t *)0x40003000u)

#ifndef SIZESTUB_BARE
static const uint8_t file_data[64] = {'S', 'A', 'L', 'E', 'S'};

static void put_chars(void *user, const uint8_t *chars, size_t n) {
    (void)user;
    for (size_t i = 0; i < n; ++i) {
        while (UART_STATUS & 1u) {
        }
        UART_DATA = chars[i];
    }
}

static int answer_poll(void *user, uint8_t record[TVKBOX_RECORD_LEN]) {
    (void)user;
    for (size_t i = 0; i < TVKBOX_RECORD_LEN; ++i) record[i] = (uint8_t)'0';
    return TVKBOX_RECORD;
}

static int send_begin(void *user) {
    (void)user;
    return 0;
}

static int send_list(void *user, uint32_t index, uint8_t *name, size_t cap, uint64_t *size) {
    (void)user;
    if (index > 0 || cap < 9) return 0;
    for (size_t i = 0; i < 9; ++i) name[i] = (uint8_t)"SALES.DAT"[i];
    *size = sizeof file_data;
    return 9;
}

static size_t read_at;
static int send_open(void *user, uint32_t index) {
    (void)user;
    (void)index;
    read_at = 0;
    return 0;
}

static long send_read(void *user, uint8_t *buf, size_t n) {
    (void)user;
    size_t k = 0;
    for (; k < n && read_at < sizeof file_data; ++k) buf[k] = file_data[read_at++];
    return (long)k;
}

static void send_close(void *user) { (void)user; }

static int recv_begin(void *user, const tvkbox_job *job) {
    (void)user;
    return job->total_size > 1024u;
}

static int recv_create(void *user, const uint8_t *name, size_t len, uint64_t size) {
    (void)user;
    (void)name;
    (void)len;
    return size > 1024u;
}

static int recv_write(void *user, const uint8_t *data, size_t n) {
    (void)user;
    (void)data;
    (void)n;
    return 0;
}

static int recv_commit(void *user) {
    (void)user;
    return 0;
}

static void recv_discard(void *user) { (void)user; }

/* The caller's memory: scripts/box-size leaves symbols named caller_* out of
 * the library's RAM. */
static uint8_t caller_buffer[4096];
#if TVKBOX_PACK
/* Room for the zstd coder: at least tvkbox_pack_need() on the target. */
static uint64_t caller_pack_memory[256 * 1024 / 8];
#endif
static tvkbox box;
#endif

void reset_handler(void);
void reset_handler(void) {
#ifndef SIZESTUB_BARE
    static const tvkbox_platform pf = {
        NULL, put_chars, answer_poll, send_begin, send_list, send_open, send_read, send_close,
        recv_begin, recv_create, recv_write, recv_commit, recv_discard, NULL, NULL, NULL};
    tvkbox_config cfg = {0};
    cfg.address = 1;
    cfg.bits_per_second = 115200;
    cfg.bits_per_char = 10;
    cfg.progress_ms = 3000;
    cfg.buffer = caller_buffer;
    cfg.buffer_size = sizeof caller_buffer;
#if TVKBOX_PACK
    cfg.pack_memory = caller_pack_memory;
    cfg.pack_memory_size = sizeof caller_pack_memory;
#endif
    tvkbox_init(&box, &cfg, &pf, MILLIS);
#endif
    for (;;) {
        if (UART_STATUS & 2u) {
            const uint8_t c = (uint8_t)UART_DATA;
#ifdef SIZESTUB_BARE
            UART_DATA = c;
#else
            tvkbox_input(&box, &c, 1, MILLIS);
#endif
        }
#ifndef SIZESTUB_BARE
        tvkbox_poll(&box, MILLIS);
#endif
    }
}
