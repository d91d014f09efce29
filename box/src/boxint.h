/* Internals of tvkbox shared by its source files. */
#ifndef TVKBOX_BOXINT_H
#define TVKBOX_BOXINT_H

#include "tvkbox.h"
#include "tvkline.h"

/* Frame types (line-protocol 2.3). */
enum {
    T_POLL = 1, T_NOTERM, T_IDLE, T_RECORD, T_START, T_READY, T_DATA, T_ACKREQ,
    T_ACK, T_RR, T_DONE, T_DISC, T_UA, T_ABORT, T_REJECT, T_FRAG
};

/* Chunks of the file stream (line-protocol 5). */
enum { C_FILE = 1, C_DATA, C_EOF, C_END, C_CANCEL, C_REST, C_PACKED };

enum { JOB_NONE = 0, JOB_SEND, JOB_RECV };
enum { FEATURE_PACKED = 1, FEATURE_PROTECTED = 2 };

#define ACK_LEN 19
#define ACK_LEN_V2 23
#define ACK_COMPLETE 1
#define ACK_FAILED 2
#define PACK_BLOCK 16384

/* A received frame, its payload still in the line buffer. */
typedef struct boxframe {
    uint8_t addr, type, pf;
    uint16_t seq;
    const uint8_t *payload;
    size_t len;
    uint32_t corrected;
} boxframe;

/* Window slot: length (2 bytes LE), flags, piece count, next piece; then the payload. */
#define SLOT_HEAD 5
enum { SLOT_FULL = 1, SLOT_ACKED = 2, SLOT_IN_WINDOW = 4, SLOT_SEND = 8, SLOT_RESEND = 16 };
uint8_t *box_slot(tvkbox *b, size_t index);
size_t box_slot_len(const uint8_t *slot);
void box_slot_set_len(uint8_t *slot, size_t len);

/* line.c */
void box_line_input(tvkbox *b, const uint8_t *chars, size_t n);
/* Sends a frame whose payload is a then p (either may be empty) at error
 * correction strength t (0: plain). */
void box_send_frame(tvkbox *b, uint8_t type, int pf, uint16_t seq, const uint8_t *a, size_t na, const uint8_t *p,
                    size_t np, int t);
uint32_t box_now_us(const tvkbox *b);
uint32_t box_line_us(const tvkbox *b, size_t chars);

/* a is later than b on the wrapping clock. */
int box_after(uint32_t a, uint32_t b);

/* box.c: a frame addressed to this box. */
void box_handle(tvkbox *b, const boxframe *f);

/* stream.c */
void box_reader_start(tvkbox *b, int packed);
/* Appends the next chunks (or compressed bytes) to payload[*len..limit). */
void box_reader_fill(tvkbox *b, uint8_t *payload, size_t *len, size_t limit);
int box_reader_exhausted(const tvkbox *b);
void box_reader_stop(tvkbox *b);
void box_writer_start(tvkbox *b);
void box_writer_consume(tvkbox *b, const uint8_t *p, size_t n);
void box_writer_stop(tvkbox *b);
int box_can_pack(const tvkbox *b);

#endif
