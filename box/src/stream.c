/* The file stream (line-protocol 5): the chunks of the files a box sends,
 * and the chunks it receives, handed to the platform's files. With
 * TVKBOX_PACK the stream may be compressed (5.1); the coder lives in the
 * caller's pack_memory. */
#include <string.h>

#include "boxint.h"

#if TVKBOX_PACK
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

/* zstd level 6 with a 32 KiB window and tables of 2^14 entries, as the
 * PC's library packs (docs/line-protocol.md 5.1). */
#define PACK_LEVEL 6
#define PACK_WINDOW_LOG 15
#define PACK_TABLE_LOG 14
/* A block's varint length (at most 3 bytes for PACK_BLOCK) and its chunks. */
#define ZBLOCK_CAP (3 + PACK_BLOCK)
#endif

static size_t varint_length(uint64_t v) {
    size_t n = 1;
    while (v >= 0x80) {
        v >>= 7;
        ++n;
    }
    return n;
}

static void put_varint(uint8_t *p, size_t *len, uint64_t v) {
    while (v >= 0x80) {
        p[(*len)++] = (uint8_t)(v | 0x80);
        v >>= 7;
    }
    p[(*len)++] = (uint8_t)v;
}

static int get_varint(const uint8_t *p, size_t n, size_t *pos, uint64_t *v) {
    int shift;
    *v = 0;
    for (shift = 0; shift < 64; shift += 7) {
        uint8_t c;
        if (*pos >= n) return 0;
        c = p[(*pos)++];
        if (shift == 63 && c > 1) return 0;
        *v |= (uint64_t)(c & 0x7F) << shift;
        if (!(c & 0x80)) return 1;
    }
    return 0;
}

static void put_le32(uint8_t *p, uint32_t v) {
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
    p[2] = (uint8_t)(v >> 16);
    p[3] = (uint8_t)(v >> 24);
}

/* ---- the coder's memory ---- */

#if TVKBOX_PACK
static ZSTD_compressionParameters pack_params(void) {
    ZSTD_compressionParameters c = ZSTD_getCParams(PACK_LEVEL, 0, 0);
    c.windowLog = PACK_WINDOW_LOG;
    c.hashLog = PACK_TABLE_LOG;
    c.chainLog = PACK_TABLE_LOG;
    return c;
}

static size_t coder_need(void) {
    const size_t c = ZSTD_estimateCStreamSize_usingCParams(pack_params());
    const size_t d = ZSTD_estimateDStreamSize((size_t)1 << PACK_WINDOW_LOG);
    return c > d ? c : d;
}

size_t tvkbox_pack_need(void) { return coder_need() + ZBLOCK_CAP; }

int box_can_pack(const tvkbox *b) { return b->cfg.pack_memory && b->cfg.pack_memory_size >= tvkbox_pack_need(); }

/* The coder and the block buffer share pack_memory: a job either sends or
 * receives. */
static void *coder_memory(tvkbox *b) {
    b->zblock = (uint8_t *)b->cfg.pack_memory + coder_need();
    b->zblock_len = b->zblock_at = 0;
    b->zflushing = b->zlast = 0;
    b->zready = 1;
    return b->cfg.pack_memory;
}

static int start_packer(tvkbox *b) {
    ZSTD_CCtx *c = ZSTD_initStaticCCtx(coder_memory(b), coder_need());
    const ZSTD_compressionParameters p = pack_params();
    b->zctx = c;
    /* Every file carries its own CRC; the stream's size is not known ahead. */
    return c && !ZSTD_isError(ZSTD_CCtx_setParameter(c, ZSTD_c_compressionLevel, PACK_LEVEL)) &&
           !ZSTD_isError(ZSTD_CCtx_setParameter(c, ZSTD_c_windowLog, (int)p.windowLog)) &&
           !ZSTD_isError(ZSTD_CCtx_setParameter(c, ZSTD_c_hashLog, (int)p.hashLog)) &&
           !ZSTD_isError(ZSTD_CCtx_setParameter(c, ZSTD_c_chainLog, (int)p.chainLog)) &&
           !ZSTD_isError(ZSTD_CCtx_setParameter(c, ZSTD_c_checksumFlag, 0)) &&
           !ZSTD_isError(ZSTD_CCtx_setParameter(c, ZSTD_c_contentSizeFlag, 0));
}

static int start_unpacker(tvkbox *b) {
    ZSTD_DCtx *d = ZSTD_initStaticDCtx(coder_memory(b), coder_need());
    b->zctx = d;
    return d && !ZSTD_isError(ZSTD_DCtx_setParameter(d, ZSTD_d_windowLogMax, PACK_WINDOW_LOG));
}
#else
size_t tvkbox_pack_need(void) { return 0; }

int box_can_pack(const tvkbox *b) {
    (void)b;
    return 0;
}
#endif

/* ---- sending ---- */

void box_reader_start(tvkbox *b, int packed) {
    b->file_index = b->files_done = 0;
    b->file_size = b->file_pos = b->bytes_done = 0;
    b->file_crc = 0;
    b->file_open = b->stream_ended = b->stream_failed = b->pack_started = 0;
    b->packed = 0;
#if TVKBOX_PACK
    b->packed = (uint8_t)(packed && box_can_pack(b) && start_packer(b));
#else
    (void)packed;
#endif
}

void box_reader_stop(tvkbox *b) {
    if (b->file_open) b->pf.send_close(b->pf.user);
    b->file_open = 0;
}

/* The FILE chunk of the next file, when it fits. 0 when it waits for the
 * next frame. */
static int open_next(tvkbox *b, uint8_t *payload, size_t *len, size_t limit) {
    uint8_t name[TVKBOX_MAX_NAME];
    uint64_t size = 0;
    int n;
    while ((n = b->pf.send_list(b->pf.user, b->file_index, name, sizeof name, &size)) != 0) {
        size_t need;
        if (n < 0 || n > TVKBOX_MAX_NAME) {
            ++b->file_index;
            b->stream_failed = 1;
            continue;
        }
        need = 1 + varint_length((uint64_t)n) + (size_t)n + varint_length(size) + 5;
        /* A name longer than a small frame still goes, alone in its frame. */
        if (*len + need > limit && *len > 0) return 0;
        if (b->pf.send_open(b->pf.user, b->file_index++) != 0) {
            b->stream_failed = 1;
            continue;
        }
        payload[(*len)++] = C_FILE;
        put_varint(payload, len, (uint64_t)n);
        memcpy(payload + *len, name, (size_t)n);
        *len += (size_t)n;
        put_varint(payload, len, size);
        b->file_open = 1;
        b->file_size = size;
        b->file_pos = 0;
        b->file_crc = 0;
        return 1;
    }
    if (*len + 1 > limit) return 0;
    payload[(*len)++] = C_END;
    b->stream_ended = 1;
    return 0;
}

static size_t read_fully(tvkbox *b, uint8_t *p, size_t want) {
    size_t got = 0;
    while (got < want) {
        long r = b->pf.send_read(b->pf.user, p + got, want - got);
        if (r <= 0) break;
        got += (size_t)r;
    }
    return got;
}

/* Data of the open file into the frame; 0 when the frame is full. */
static int put_data(tvkbox *b, uint8_t *payload, size_t *len, size_t limit) {
    const size_t room = limit > *len + 1 ? limit - *len - 1 : 0;
    const uint64_t left = b->file_size - b->file_pos;
    const size_t at = *len;
    size_t want, got;
    if (room == 0) return 0;
    /* Data that fills the frame goes without a length. */
    if (left < room && left + varint_length(left) <= room) {
        want = (size_t)left;
        payload[(*len)++] = C_DATA;
        put_varint(payload, len, left);
    } else {
        want = left < room ? (size_t)left : room;
        payload[(*len)++] = C_REST;
    }
    got = read_fully(b, payload + *len, want);
    if (got != want) {
        /* The file shrank or failed while being read. */
        *len = at;
        payload[(*len)++] = C_CANCEL;
        b->stream_failed = 1;
        box_reader_stop(b);
        return 1;
    }
    b->file_crc = tvk_crc32c(b->file_crc, payload + *len, got);
    *len += got;
    b->file_pos += got;
    b->bytes_done += got;
    return 1;
}

static void fill_chunks(tvkbox *b, uint8_t *payload, size_t *len, size_t limit) {
    while (!b->stream_ended) {
        if (!b->file_open) {
            if (!open_next(b, payload, len, limit)) return;
        } else if (b->file_pos < b->file_size) {
            if (!put_data(b, payload, len, limit)) return;
        } else {
            if (*len + 5 > limit) return;
            payload[(*len)++] = C_EOF;
            put_le32(payload + *len, b->file_crc);
            *len += 4;
            box_reader_stop(b);
            ++b->files_done;
        }
    }
}

#if TVKBOX_PACK
/* The next block of chunks behind its varint length, ready to compress. */
static void next_block(tvkbox *b) {
    size_t n = 0, at;
    fill_chunks(b, b->zblock + 3, &n, PACK_BLOCK);
    at = 3 - varint_length(n);
    b->zblock_at = at;
    put_varint(b->zblock, &at, n);
    b->zblock_len = 3 + n;
    b->zlast = b->stream_ended;
    b->zflushing = 1;
}

static void fill_packed(tvkbox *b, uint8_t *payload, size_t *len, size_t limit) {
    if (!b->pack_started) {
        if (*len + 2 > limit) return;
        payload[(*len)++] = C_PACKED;
        payload[(*len)++] = 1;
        b->pack_started = 1;
    }
    while (*len < limit) {
        ZSTD_outBuffer out;
        ZSTD_inBuffer in;
        size_t left;
        if (!b->zflushing) {
            if (b->zlast) return;
            next_block(b);
        }
        out.dst = payload;
        out.size = limit;
        out.pos = *len;
        in.src = b->zblock;
        in.size = b->zblock_len;
        in.pos = b->zblock_at;
        /* Flushed after every block, so the receiver decodes each block as
         * soon as its last byte is in. */
        left = ZSTD_compressStream2((ZSTD_CCtx *)b->zctx, &out, &in, b->zlast ? ZSTD_e_end : ZSTD_e_flush);
        *len = out.pos;
        b->zblock_at = in.pos;
        if (ZSTD_isError(left)) {
            /* The stream ends short: the receiver never sees its end. */
            b->stream_failed = b->stream_ended = b->zlast = 1;
            b->zflushing = 0;
            return;
        }
        if (left == 0 && in.pos == in.size) b->zflushing = 0;
    }
}
#endif

void box_reader_fill(tvkbox *b, uint8_t *payload, size_t *len, size_t limit) {
#if TVKBOX_PACK
    if (b->packed) {
        fill_packed(b, payload, len, limit);
        return;
    }
#endif
    fill_chunks(b, payload, len, limit);
}

int box_reader_exhausted(const tvkbox *b) {
#if TVKBOX_PACK
    if (b->packed) return b->zlast && !b->zflushing;
#endif
    return b->stream_ended;
}

/* ---- receiving ---- */

void box_writer_start(tvkbox *b) {
    b->file_open = b->stream_ended = b->stream_failed = 0;
    b->skipping = b->chunk_started = b->unpack_failed = 0;
    b->files_done = 0;
    b->bytes_done = 0;
    b->packed = 0;
}

static void fail_file(tvkbox *b) {
    if (b->file_open) b->pf.recv_discard(b->pf.user);
    b->file_open = 0;
    b->stream_failed = 1;
    b->skipping = 1;
}

void box_writer_stop(tvkbox *b) {
    if (b->file_open) b->pf.recv_discard(b->pf.user);
    b->file_open = 0;
}

/* A plain file name that may be created (line-protocol 5). */
static int acceptable_name(const uint8_t *name, size_t len) {
    size_t i;
    if (len == 0 || len > TVKBOX_MAX_NAME) return 0;
    if ((len == 1 && name[0] == '.') || (len == 2 && name[0] == '.' && name[1] == '.')) return 0;
    for (i = 0; i < len; ++i) {
        const uint8_t c = name[i];
        if (c < 0x20 || c == 0x7F || c == '/' || c == '\\' || c == ':') return 0;
    }
    return 1;
}

static void begin_file(tvkbox *b, const uint8_t *name, size_t len, uint64_t size) {
    if (b->file_open) fail_file(b);
    b->skipping = 0;
    if (!acceptable_name(name, len) || b->pf.recv_create(b->pf.user, name, len, size) != 0) {
        fail_file(b);
        return;
    }
    b->file_open = 1;
    b->file_size = size;
    b->file_pos = 0;
    b->file_crc = 0;
}

static void write_data(tvkbox *b, const uint8_t *p, size_t n) {
    if (b->skipping || !b->file_open) return;
    /* More data than announced: the file cannot be trusted. */
    if (n > b->file_size - b->file_pos || b->pf.recv_write(b->pf.user, p, n) != 0) {
        fail_file(b);
        return;
    }
    b->file_crc = tvk_crc32c(b->file_crc, p, n);
    b->file_pos += n;
}

static void end_file(tvkbox *b, uint32_t crc) {
    if (b->skipping || !b->file_open) {
        b->skipping = 0;
        return;
    }
    if (b->file_pos != b->file_size || crc != b->file_crc) {
        fail_file(b);
        b->skipping = 0;
        return;
    }
    b->file_open = 0;
    if (b->pf.recv_commit(b->pf.user) != 0) {
        b->stream_failed = 1;
        return;
    }
    ++b->files_done;
    b->bytes_done += b->file_size;
}

static void consume_chunks(tvkbox *b, const uint8_t *p, size_t n);

#if TVKBOX_PACK
/* Whole blocks of the decompressed stream go to the chunks; 0 when the
 * stream is damaged. */
static int emit_blocks(tvkbox *b) {
    size_t pos = 0;
    for (;;) {
        size_t at = pos;
        uint64_t len = 0;
        if (!get_varint(b->zblock, b->zblock_len, &at, &len)) {
            /* Only a varint cut short may wait for more. */
            if (b->zblock_len - pos > 3) return 0;
            break;
        }
        if (len > PACK_BLOCK) return 0;
        if (b->zblock_len - at < len) break;
        consume_chunks(b, b->zblock + at, (size_t)len);
        pos = at + (size_t)len;
    }
    memmove(b->zblock, b->zblock + pos, b->zblock_len - pos);
    b->zblock_len -= pos;
    return 1;
}

static int unpack(tvkbox *b, const uint8_t *p, size_t n) {
    ZSTD_inBuffer in;
    in.src = p;
    in.size = n;
    in.pos = 0;
    for (;;) {
        ZSTD_outBuffer out;
        size_t r;
        out.dst = b->zblock;
        out.size = ZBLOCK_CAP;
        out.pos = b->zblock_len;
        r = ZSTD_decompressStream((ZSTD_DCtx *)b->zctx, &out, &in);
        b->zblock_len = out.pos;
        if (ZSTD_isError(r) || !emit_blocks(b)) return 0;
        if (in.pos == in.size && out.pos < out.size) return 1;
    }
}

/* The stream turns compressed: the rest of the frame is its first bytes. */
static int start_unpacking(tvkbox *b, const uint8_t *p, size_t n, size_t pos) {
    if (pos == n || p[pos] != 1 || !box_can_pack(b) || !start_unpacker(b)) return 0;
    b->packed = 1;
    if (!unpack(b, p + pos + 1, n - pos - 1)) b->unpack_failed = 1;
    return 1;
}
#endif

static void consume_chunks(tvkbox *b, const uint8_t *p, size_t n) {
    size_t pos = 0;
    while (pos < n && !b->stream_ended) {
        const uint8_t type = p[pos++];
        const int first = !b->chunk_started;
        uint64_t a = 0, s = 0;
        b->chunk_started = 1;
        switch (type) {
        case C_FILE: {
            size_t name_at;
            if (!get_varint(p, n, &pos, &a) || a > n - pos) break;
            name_at = pos;
            pos += (size_t)a;
            if (!get_varint(p, n, &pos, &s)) break;
            begin_file(b, p + name_at, (size_t)a, s);
            continue;
        }
        case C_DATA:
            if (!get_varint(p, n, &pos, &a) || a == 0 || a > n - pos) break;
            write_data(b, p + pos, (size_t)a);
            pos += (size_t)a;
            continue;
        case C_REST:
            if (pos == n) break;
            write_data(b, p + pos, n - pos);
            pos = n;
            continue;
        case C_EOF:
            if (n - pos < 4) break;
            end_file(b, (uint32_t)p[pos] | (uint32_t)p[pos + 1] << 8 | (uint32_t)p[pos + 2] << 16 |
                            (uint32_t)p[pos + 3] << 24);
            pos += 4;
            continue;
        case C_END:
            if (b->file_open) fail_file(b);
            b->stream_ended = 1;
            continue;
        case C_CANCEL:
            if (b->file_open) fail_file(b);
            b->skipping = 0;
            continue;
#if TVKBOX_PACK
        case C_PACKED:
            if (first && start_unpacking(b, p, n, pos)) {
                if (b->unpack_failed) fail_file(b);
                return;
            }
            break;
#endif
        default:
            (void)first;
            break;
        }
        /* A malformed chunk: the rest of this frame means nothing. */
        fail_file(b);
        return;
    }
}

void box_writer_consume(tvkbox *b, const uint8_t *p, size_t n) {
#if TVKBOX_PACK
    if (b->packed) {
        if (b->unpack_failed || b->stream_ended) return;
        /* A damaged compressed stream: nothing more of it can be trusted. */
        if (!unpack(b, p, n)) {
            b->unpack_failed = 1;
            fail_file(b);
        }
        return;
    }
#endif
    consume_chunks(b, p, n);
}
