/* tvkbox: the I/O box's side of the tervolk line protocol (docs/line-protocol.md),
 * for a microcontroller. C99, no heap, no OS calls, no global mutable state:
 * everything lives in one struct tvkbox that the caller owns, in buffers the
 * caller gives it. The box is driven from outside:
 *
 *   - tvkbox_input() takes the characters the UART received;
 *   - tvkbox_poll() sends the next frame of a window and runs the watchdog;
 *     call it whenever the line is free to take a frame, and at least every
 *     few milliseconds;
 *   - characters to send leave through tvkbox_platform.output;
 *   - time is the caller's millisecond clock, passed into every call.
 *
 * Nothing blocks or sleeps. The terminal (its poll answer and its files)
 * comes from the tvkbox_platform callbacks.
 *
 * Build switches (0 or 1, default 1 unless noted):
 *   TVKBOX_FEC   Reed-Solomon error correction of frames (feature 2);
 *   TVKBOX_PACK  zstd-compressed file streams (feature 1), in the memory
 *                given by tvkbox_config.pack_memory; needs libzstd.
 * A box built without one does not offer it; it still speaks to any master. */
#ifndef TVKBOX_H
#define TVKBOX_H

#include <stddef.h>
#include <stdint.h>

#include "tvkshape.h"

#ifndef TVKBOX_FEC
#define TVKBOX_FEC 1
#endif
#ifndef TVKBOX_PACK
#define TVKBOX_PACK 1
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Length of the terminal record a poll is answered with (line-protocol 3.2). */
#define TVKBOX_RECORD_LEN 22
/* Longest file name in a stream. */
#define TVKBOX_MAX_NAME 255
/* Largest and smallest frame payload a box may take; a FILE chunk with the
 * longest name must fit in one frame. */
#define TVKBOX_MAX_FRAME 4160
#define TVKBOX_MIN_FRAME 288
/* Most frames a window may hold. */
#define TVKBOX_MAX_WINDOW 128
/* Largest error-correction parity of one frame: codewords of the largest
 * body times the strongest parity. */
#define TVKBOX_FEC_PARITY 288

/* What a poll is answered with (tvkbox_platform.poll). */
enum tvkbox_answer { TVKBOX_NOTERM = 0, TVKBOX_IDLE = 1, TVKBOX_RECORD = 2 };

/* A receive job as the master's START announced it. */
typedef struct tvkbox_job {
    uint8_t trans_type; /* the record's transType (15: an application install) */
    uint32_t file_count;
    uint64_t total_size;
} tvkbox_job;

/* How a job ended (tvkbox_platform.job_ended). */
typedef struct tvkbox_result {
    int ok;          /* every file moved intact and the peer stored them all */
    uint32_t files;  /* files sent, or received and committed */
    uint64_t bytes;  /* their bytes */
    uint32_t resent; /* frames sent again: by the box, or by the master as seen by the box */
} tvkbox_result;

/* What the firmware provides. Every callback gets `user`. output and poll
 * are required. The callbacks of a direction (send_* or recv_*) are all
 * given, or all null: then the box refuses such jobs. */
typedef struct tvkbox_platform {
    void *user;
    /* Characters to put on the line, in order; all of them must be taken
     * (buffered or written) before the call returns. */
    void (*output)(void *user, const uint8_t *chars, size_t n);
    /* The answer to a poll: TVKBOX_NOTERM (no terminal in the box),
     * TVKBOX_IDLE, or TVKBOX_RECORD with the terminal's record written to
     * record (line-protocol 3.2). */
    int (*poll)(void *user, uint8_t record[TVKBOX_RECORD_LEN]);

    /* Box sends (the master's receive). 0 when the terminal has a send job
     * (its files are then listed from index 0), nonzero refuses the job. */
    int (*send_begin)(void *user);
    /* Name (bytes, not terminated) and size of file `index` of the job:
     * the name's length 1..cap, 0 past the last file, or < 0 when the file
     * cannot be sent (it is left out and the job fails). Asked again for
     * the same index until the file has been opened. */
    int (*send_list)(void *user, uint32_t index, uint8_t *name, size_t cap, uint64_t *size);
    /* Opens file `index` for reading; 0 on success. */
    int (*send_open)(void *user, uint32_t index);
    /* Reads up to n bytes of the open file; the count, 0 at its end, < 0 on
     * an error. */
    long (*send_read)(void *user, uint8_t *buf, size_t n);
    void (*send_close)(void *user);

    /* Box receives (the master's send, or an install). 0 accepts the job. */
    int (*recv_begin)(void *user, const tvkbox_job *job);
    /* Starts a file (name already checked against the protocol's rules);
     * 0 on success. Write it where a partial file can never be taken for a
     * whole one (a temporary name). */
    int (*recv_create)(void *user, const uint8_t *name, size_t len, uint64_t size);
    /* Appends to the file; 0 on success. */
    int (*recv_write)(void *user, const uint8_t *data, size_t n);
    /* The file is whole and checked: store it under its name, durably;
     * 0 on success. Only after this may the master be told it arrived. */
    int (*recv_commit)(void *user);
    /* The file failed: forget what was written of it. */
    void (*recv_discard)(void *user);
    /* Bytes free for received files; null: not checked. A receive whose
     * announced total exceeds it is refused. */
    uint64_t (*free_space)(void *user);

    /* A job ended (optional). */
    void (*job_ended)(void *user, const tvkbox_result *result);
    /* The master released the terminal (optional). */
    void (*released)(void *user);
} tvkbox_platform;

/* The line and the memory of one box. */
typedef struct tvkbox_config {
    uint8_t address;          /* 1..16 */
    uint32_t bits_per_second; /* the line's rate, at least 300 */
    uint8_t bits_per_char;    /* 1 + data + parity + stop bits (at most 12) */
    uint8_t seven_bits;       /* 7 data bits: frames are packed 7 in 8 */
    /* lineParamB (at most 600000): a job whose master has been silent this
     * long is dropped. */
    uint32_t progress_ms;
    uint8_t version_one;      /* speak protocol version 1 only (a box built before version 2) */
    /* Largest frame payload (TVKBOX_MIN_FRAME..TVKBOX_MAX_FRAME); 0 picks
     * one that leaves room for about three frames of window. */
    uint16_t max_frame;
    /* The line and window buffers: one frame as received, and the frames of
     * a window. At least tvkbox_buffer_need(max_frame, 1, seven_bits). */
    uint8_t *buffer;
    size_t buffer_size;
    /* Memory of the zstd coder (TVKBOX_PACK); less than tvkbox_pack_need()
     * (or none) leaves the stream uncompressed. Must be 8-byte aligned. */
    void *pack_memory;
    size_t pack_memory_size;
} tvkbox_config;

/* Fields are private: the struct is public only so that the caller can own
 * it (statically or on its stack). */
typedef struct tvkbox {
    tvkbox_config cfg;
    tvkbox_platform pf;
    uint32_t now_ms;
    uint32_t char_ns; /* line time of one character */
    /* line */
    uint8_t *line;
    size_t line_cap, line_len;
    uint8_t line_skipping;
    /* Times in microseconds of the caller's clock, wrapping: when our
     * characters will have left the line, the last character and the last
     * frame of the master. */
    uint32_t busy_until_us, last_input_us, last_heard_us;
    uint32_t bad_frames, repaired_frames;
    /* window slots: a header and one frame each */
    uint8_t *area;
    size_t slot_size, slots;
    uint16_t frame_max;
    /* job */
    uint8_t job, reported, peer_failed, master_v2, packed;
    uint16_t last_token;
    /* sender */
    uint16_t base_seq;
    size_t head, count, emit_at, emit_last;
    uint8_t emit_piece, emitting;
    tvk_shape shape;
    uint32_t resent;
    /* stream reader */
    uint32_t file_index, files_done;
    uint64_t file_size, file_pos, bytes_done;
    uint32_t file_crc;
    uint8_t file_open, stream_ended, stream_failed, pack_started;
    /* receiver */
    uint16_t cum, next_new;
    uint32_t corrected;
    /* stream writer */
    uint8_t skipping, chunk_started, unpack_failed;
    /* encoder */
    uint32_t crc;
    uint8_t group[255];
    size_t group_len;
    uint8_t p7[8];
    size_t p7_len;
    uint8_t out[64];
    size_t out_len, out_total;
#if TVKBOX_FEC
    uint8_t parity[TVKBOX_FEC_PARITY];
#endif
#if TVKBOX_PACK
    void *zctx;
    uint8_t *zblock;
    size_t zblock_len, zblock_at;
    uint8_t zflushing, zlast, zready;
#endif
} tvkbox;

/* Bytes of buffer a box needs for frames of max_frame payload bytes and a
 * window of `window` frames (1..TVKBOX_MAX_WINDOW). */
size_t tvkbox_buffer_need(uint16_t max_frame, size_t window, int seven_bits);

/* Bytes of pack_memory that compressed streams need (0 without TVKBOX_PACK). */
size_t tvkbox_pack_need(void);

/* Sets the box up. Returns 0, or -1 when the configuration does not fit
 * (address out of range, a frame size outside its bounds, a buffer too
 * small for one frame of window, callbacks missing, or a direction's
 * callbacks given in part). */
int tvkbox_init(tvkbox *box, const tvkbox_config *config, const tvkbox_platform *platform, uint32_t now_ms);

/* Characters received from the line, at now_ms. Frames addressed to this
 * box are answered at once through platform.output; a window's frames
 * follow from tvkbox_poll(). */
void tvkbox_input(tvkbox *box, const uint8_t *chars, size_t n, uint32_t now_ms);

/* Sends the next frame of the window in progress, if any, and drops a job
 * whose master has been silent for progress_ms. Returns 1 while more frames
 * of the window wait, else 0. */
int tvkbox_poll(tvkbox *box, uint32_t now_ms);

/* The box holds a job (sending or receiving). */
int tvkbox_in_job(const tvkbox *box);

/* The largest frame payload and the window (in frames) this box announces
 * in its READY. */
uint16_t tvkbox_frame_max(const tvkbox *box);
size_t tvkbox_window(const tvkbox *box);

/* Received frames that failed their check (line noise), and protected
 * frames that error correction set right, since init. */
uint32_t tvkbox_bad_frames(const tvkbox *box);
uint32_t tvkbox_repaired_frames(const tvkbox *box);

/* Ends any job as failed (discarding a partial file) and forgets it; for a
 * terminal leaving its box. */
void tvkbox_reset(tvkbox *box);

#ifdef __cplusplus
}
#endif

#endif
