/* The box's station: answers polls, carries out the jobs the master starts,
 * and moves the windows of a job in either direction (line-protocol 3, 4
 * and 6). */
#include <string.h>

#include "boxint.h"

#define START_LEN 14
#define PROTOCOL_VERSION 2

/* ---- slots ---- */

uint8_t *box_slot(tvkbox *b, size_t index) { return b->area + (index % b->slots) * b->slot_size; }

size_t box_slot_len(const uint8_t *slot) { return (size_t)slot[0] | (size_t)slot[1] << 8; }

void box_slot_set_len(uint8_t *slot, size_t len) {
    slot[0] = (uint8_t)len;
    slot[1] = (uint8_t)(len >> 8);
}

static void clear_slots(tvkbox *b) {
    size_t i;
    for (i = 0; i < b->slots; ++i) memset(box_slot(b, i), 0, SLOT_HEAD);
}

static uint32_t le(const uint8_t *p, int n) {
    uint32_t v = 0;
    while (n--) v = v << 8 | p[n];
    return v;
}

/* ---- sizes ---- */

static size_t line_cap_for(size_t frame, int seven) { return tvk_encoded_length(frame, seven, 0) - 1; }

size_t tvkbox_buffer_need(uint16_t max_frame, size_t window, int seven_bits) {
    return line_cap_for(max_frame, seven_bits) + window * (SLOT_HEAD + (size_t)max_frame);
}

/* The frame size when the caller left it to us: about three frames of
 * window, within the bounds. */
static size_t pick_frame(const tvkbox_config *c) {
    size_t f = c->buffer_size / 4;
    if (f > TVK_FRAME_MAX) f = TVK_FRAME_MAX;
    while (f > TVKBOX_MIN_FRAME && tvkbox_buffer_need((uint16_t)f, 1, c->seven_bits) > c->buffer_size) f -= 16;
    return f < TVKBOX_MIN_FRAME ? TVKBOX_MIN_FRAME : f;
}

/* Both directions' callbacks are all there or all missing. */
static int whole_directions(const tvkbox_platform *pf) {
    const int send = !!pf->send_begin + !!pf->send_list + !!pf->send_open + !!pf->send_read + !!pf->send_close;
    const int recv = !!pf->recv_begin + !!pf->recv_create + !!pf->recv_write + !!pf->recv_commit + !!pf->recv_discard;
    return (send == 0 || send == 5) && (recv == 0 || recv == 5);
}

int tvkbox_init(tvkbox *b, const tvkbox_config *c, const tvkbox_platform *pf, uint32_t now_ms) {
    size_t frame, slots;
    if (!c || !pf || !pf->output || !pf->poll || !whole_directions(pf) || c->address < 1 || c->address > 16 ||
        !c->buffer || c->bits_per_second < 300 || c->bits_per_char == 0 || c->bits_per_char > 12)
        return -1;
    frame = c->max_frame ? c->max_frame : pick_frame(c);
    if (frame < TVKBOX_MIN_FRAME || frame > TVKBOX_MAX_FRAME ||
        tvkbox_buffer_need((uint16_t)frame, 1, c->seven_bits) > c->buffer_size)
        return -1;
    memset(b, 0, sizeof *b);
    b->cfg = *c;
    b->pf = *pf;
    b->now_ms = now_ms;
    b->frame_max = (uint16_t)frame;
    b->char_ns = 1000000000u / c->bits_per_second * c->bits_per_char;
    b->line = c->buffer;
    b->line_cap = line_cap_for(frame, c->seven_bits);
    b->area = c->buffer + b->line_cap;
    b->slot_size = SLOT_HEAD + frame;
    slots = (c->buffer_size - b->line_cap) / b->slot_size;
    b->slots = slots > TVKBOX_MAX_WINDOW ? TVKBOX_MAX_WINDOW : slots;
    b->busy_until_us = b->last_input_us = b->last_heard_us = box_now_us(b);
    return 0;
}

uint16_t tvkbox_frame_max(const tvkbox *b) { return b->frame_max; }
size_t tvkbox_window(const tvkbox *b) { return b->slots; }
uint32_t tvkbox_bad_frames(const tvkbox *b) { return b->bad_frames; }
uint32_t tvkbox_repaired_frames(const tvkbox *b) { return b->repaired_frames; }
int tvkbox_in_job(const tvkbox *b) { return b->job != JOB_NONE; }

/* ---- answers ---- */

static void answer(tvkbox *b, uint8_t type, uint16_t seq, const uint8_t *p, size_t n) {
    box_send_frame(b, type, 1, seq, p, n, NULL, 0, 0);
}

/* A version-2 REJECT names its version, so the master does not fall back. */
static void reject(tvkbox *b) {
    static const uint8_t version = PROTOCOL_VERSION;
    answer(b, T_REJECT, 0, &version, b->cfg.version_one ? 0 : 1);
}

static uint8_t features(const tvkbox *b) {
    uint8_t f = box_can_pack(b) ? FEATURE_PACKED : 0;
#if TVKBOX_FEC
    f |= FEATURE_PROTECTED;
#endif
    return f;
}

/* Our characters, written or still to be written, are crossing the line.
 * The caller's clock counts milliseconds: what ends within the current one
 * counts as gone. */
static int window_on_the_line(const tvkbox *b) {
    return b->emitting || box_after(b->busy_until_us, box_now_us(b) + 999u);
}

/* ---- the end of a job ---- */

static void report(tvkbox *b, int ok) {
    tvkbox_result r;
    r.ok = ok;
    r.files = b->files_done;
    r.bytes = b->bytes_done;
    r.resent = b->resent;
    b->reported = 1;
    if (b->pf.job_ended) b->pf.job_ended(b->pf.user, &r);
}

static void end_job(tvkbox *b) {
    if (b->job != JOB_NONE && !b->reported) report(b, 0);
    if (b->job == JOB_SEND) box_reader_stop(b);
    if (b->job == JOB_RECV) box_writer_stop(b);
    b->job = JOB_NONE;
    b->emitting = 0;
    b->count = 0;
}

void tvkbox_reset(tvkbox *b) { end_job(b); }

/* ---- sending: line-protocol 6.3 and 6.4 from the box's side ---- */

/* The line's caps, the frame within our slots. */
static void start_sender(tvkbox *b, int may_protect) {
    const tvkbox_config *c = &b->cfg;
    const uint32_t line_frame = tvk_line_frame_cap(c->bits_per_second, c->bits_per_char, c->seven_bits);
    tvk_shape_init(&b->shape, line_frame < b->frame_max ? line_frame : b->frame_max,
                   tvk_line_window_cap(c->bits_per_second, c->bits_per_char, c->seven_bits), b->frame_max,
                   may_protect ? TVK_STRENGTH_MAX : 0);
    b->base_seq = 0;
    b->head = b->count = 0;
    b->resent = 0;
    clear_slots(b);
}

static uint8_t *ring(tvkbox *b, size_t i) { return box_slot(b, b->head + i); }

static size_t limit_now(const tvkbox *b) {
    const size_t fec = tvk_max_payload_at(b->frame_max, b->shape.strength);
    return b->shape.frame_size < fec ? b->shape.frame_size : fec;
}

/* The window: frames still missing first, then new ones within the budget. */
static int build_window(tvkbox *b) {
    size_t i, bytes = 0, marked = 0;
    for (i = 0; i < b->count; ++i) {
        uint8_t *s = ring(b, i);
        s[2] = (uint8_t)(s[2] & ~(SLOT_IN_WINDOW | SLOT_SEND));
        if (!(s[2] & SLOT_ACKED)) {
            s[2] |= SLOT_IN_WINDOW | SLOT_SEND | SLOT_RESEND;
            bytes += box_slot_len(s);
            ++b->resent;
            b->emit_last = i;
            ++marked;
        }
    }
    while (b->count < b->slots && bytes < b->shape.window_bytes && !box_reader_exhausted(b)) {
        uint8_t *s = ring(b, b->count);
        size_t len = 0;
        box_reader_fill(b, s + SLOT_HEAD, &len, limit_now(b));
        if (len == 0) break;
        box_slot_set_len(s, len);
        s[2] = SLOT_IN_WINDOW | SLOT_SEND;
        bytes += len;
        b->emit_last = b->count++;
        ++marked;
    }
    b->emit_at = 0;
    b->emit_piece = 0;
    return marked > 0;
}

/* Sends the next frame (or piece) of the window; 0 when none is left. A
 * frame built larger than the line now carries goes again in pieces. */
static int emit_next(tvkbox *b) {
    for (; b->emit_at < b->count; ++b->emit_at) {
        uint8_t *s = ring(b, b->emit_at);
        const uint16_t seq = (uint16_t)(b->base_seq + b->emit_at);
        const size_t len = box_slot_len(s), fec = tvk_max_payload_at(b->frame_max, b->shape.strength);
        const size_t frame_size = b->shape.frame_size;
        const int last = b->emit_at == b->emit_last;
        size_t unit, count, piece, from, to;
        uint8_t head[2];
        if (!(s[2] & SLOT_SEND)) continue;
        if (len <= fec && (!(s[2] & SLOT_RESEND) || len <= 2u * frame_size)) {
            box_send_frame(b, T_DATA, last, seq, s + SLOT_HEAD, len, NULL, 0, b->shape.strength);
            s[2] = (uint8_t)(s[2] & ~SLOT_SEND);
            ++b->emit_at;
            return 1;
        }
        unit = (frame_size < fec - 2 ? frame_size : fec - 2);
        count = (len + unit - 1) / unit;
        if (count > 255) count = 255;
        piece = (len + count - 1) / count;
        from = b->emit_piece * piece;
        to = from + piece < len ? from + piece : len;
        head[0] = b->emit_piece;
        head[1] = (uint8_t)count;
        box_send_frame(b, T_FRAG, last && b->emit_piece + 1u == count, seq, head, 2, s + SLOT_HEAD + from, to - from,
                       b->shape.strength);
        if (++b->emit_piece == count) {
            s[2] = (uint8_t)(s[2] & ~SLOT_SEND);
            b->emit_piece = 0;
            ++b->emit_at;
        }
        return 1;
    }
    return 0;
}

/* Applies an acknowledgement (line-protocol 6.2). */
static void apply_ack(tvkbox *b, const uint8_t *p, size_t n) {
    const uint16_t cum = (uint16_t)le(p, 2);
    const uint16_t ahead = (uint16_t)(cum - b->base_seq);
    size_t i, sent = 0, lost = 0, chars = 0;
    if (ahead > b->count) return; /* from before the window, or beyond it */
    for (i = 0; i < b->count; ++i) {
        uint8_t *s = ring(b, i);
        const uint16_t d = (uint16_t)(b->base_seq + i - cum);
        const int got = i < ahead || (d >= 1 && d <= 127 && ((p[2 + (d - 1) / 8] >> ((d - 1) % 8)) & 1));
        if (got) s[2] |= SLOT_ACKED;
        if (s[2] & SLOT_IN_WINDOW) {
            ++sent;
            chars += tvk_encoded_length(box_slot_len(s), 0, b->shape.strength);
            if (!(s[2] & SLOT_ACKED)) ++lost;
            s[2] = (uint8_t)(s[2] & ~SLOT_IN_WINDOW);
        }
    }
    while (b->count > 0 && (ring(b, 0)[2] & SLOT_ACKED) && (uint16_t)(b->base_seq - cum) >= 0x8000) {
        b->head = (b->head + 1) % b->slots;
        ++b->base_seq;
        --b->count;
    }
    if (sent) tvk_shape_adapt(&b->shape, lost, sent, chars, n >= ACK_LEN_V2 ? le(p + ACK_LEN, 4) : 0);
}

static void send_next(tvkbox *b) {
    if (box_reader_exhausted(b) && b->count == 0) {
        if (!b->reported) report(b, !b->stream_failed && !b->peer_failed);
        answer(b, T_DONE, 0, NULL, 0);
        return;
    }
    if (build_window(b)) b->emitting = 1;
}

/* ---- receiving ---- */

static void consume_slot(tvkbox *b, uint8_t *s) {
    box_writer_consume(b, s + SLOT_HEAD, box_slot_len(s));
    memset(s, 0, SLOT_HEAD);
}

/* A whole frame of the window: frame cum goes to the stream at once with
 * those behind it; a later one waits in its slot. */
static void store(tvkbox *b, uint16_t seq, const uint8_t *p, size_t n) {
    const uint16_t d = (uint16_t)(seq - b->cum);
    uint8_t *s;
    if (d >= b->slots) return; /* a duplicate, or beyond our window */
    s = box_slot(b, seq);
    if (d > 0) {
        if (s[2] & SLOT_FULL) return;
        memcpy(s + SLOT_HEAD, p, n);
        box_slot_set_len(s, n);
        s[2] = SLOT_FULL;
        return;
    }
    memset(s, 0, SLOT_HEAD);
    box_writer_consume(b, p, n);
    for (++b->cum; box_slot(b, b->cum)[2] & SLOT_FULL; ++b->cum) consume_slot(b, box_slot(b, b->cum));
}

static void note_arrival(tvkbox *b, uint16_t seq) {
    if ((uint16_t)(seq - b->next_new) < 0x8000) b->next_new = (uint16_t)(seq + 1);
    else ++b->resent;
}

/* A piece of a frame resent in pieces. A box keeps only the pieces of its
 * first missing frame, in order, in that frame's slot; the sender resends
 * a frame whose pieces did not all arrive. */
static void on_piece(tvkbox *b, const boxframe *f) {
    const uint8_t index = f->len >= 2 ? f->payload[0] : 0, count = f->len >= 2 ? f->payload[1] : 0;
    const size_t n = f->len - 2;
    uint8_t *s = box_slot(b, b->cum);
    size_t have;
    if (f->len < 2 || count == 0 || index >= count || f->seq != b->cum) return;
    if (index == 0) {
        memset(s, 0, SLOT_HEAD);
        s[3] = count;
    }
    have = box_slot_len(s);
    if (s[3] != count || s[4] != index || have + n > b->frame_max) return;
    memcpy(s + SLOT_HEAD + have, f->payload + 2, n);
    box_slot_set_len(s, have + n);
    s[4] = (uint8_t)(index + 1);
    if (s[4] < count) return;
    ++b->resent;
    box_writer_consume(b, s + SLOT_HEAD, box_slot_len(s));
    memset(s, 0, SLOT_HEAD);
    for (++b->cum; box_slot(b, b->cum)[2] & SLOT_FULL; ++b->cum) consume_slot(b, box_slot(b, b->cum));
}

static void send_ack(tvkbox *b, uint16_t seq) {
    uint8_t a[ACK_LEN_V2];
    size_t d;
    memset(a, 0, sizeof a);
    a[0] = (uint8_t)b->cum;
    a[1] = (uint8_t)(b->cum >> 8);
    for (d = 1; d < b->slots; ++d)
        if (box_slot(b, (uint16_t)(b->cum + d))[2] & SLOT_FULL) a[2 + (d - 1) / 8] |= (uint8_t)(1u << ((d - 1) % 8));
    a[18] = (uint8_t)((b->stream_ended ? ACK_COMPLETE : 0) | (b->stream_failed ? ACK_FAILED : 0));
    a[19] = (uint8_t)b->corrected;
    a[20] = (uint8_t)(b->corrected >> 8);
    a[21] = (uint8_t)(b->corrected >> 16);
    a[22] = (uint8_t)(b->corrected >> 24);
    answer(b, T_ACK, seq, a, b->master_v2 ? ACK_LEN_V2 : ACK_LEN);
}

static void on_window_frame(tvkbox *b, const boxframe *f) {
    b->corrected += f->corrected;
    if (f->type == T_DATA) {
        note_arrival(b, f->seq);
        if (f->len <= b->frame_max) store(b, f->seq, f->payload, f->len);
    } else {
        on_piece(b, f);
    }
    if (b->stream_ended && !b->reported) report(b, !b->stream_failed);
}

/* ---- START ---- */

static void on_start(tvkbox *b, const boxframe *f) {
    const uint8_t *p = f->payload;
    const int later = f->len >= START_LEN + 2 && p[START_LEN] >= 2;
    uint8_t offered;
    if (f->len < START_LEN || p[0] > 1 || (f->len != START_LEN && !later) || (b->cfg.version_one && later)) {
        reject(b);
        return;
    }
    offered = later ? p[START_LEN + 1] : 0;
    if (p[0] == 0) {
        /* A repeated START of the same job resends what is missing; a
         * duplicate, or one sent before our window reached the master, is
         * ignored. */
        if (b->job == JOB_SEND) {
            if (f->seq != b->last_token && !window_on_the_line(b)) {
                b->last_token = f->seq;
                send_next(b);
            }
            return;
        }
        end_job(b);
        b->last_token = f->seq;
        b->master_v2 = (uint8_t)later;
        if (!b->pf.send_begin || b->pf.send_begin(b->pf.user) != 0) {
            reject(b);
            return;
        }
        b->job = JOB_SEND;
        b->reported = b->peer_failed = 0;
        start_sender(b, TVKBOX_FEC && (offered & FEATURE_PROTECTED));
        box_reader_start(b, (offered & FEATURE_PACKED) != 0);
        send_next(b);
        return;
    }
    end_job(b);
    b->master_v2 = (uint8_t)later;
    {
        tvkbox_job job;
        job.trans_type = p[1];
        job.file_count = le(p + 2, 4);
        job.total_size = (uint64_t)le(p + 6, 4) | (uint64_t)le(p + 10, 4) << 32;
        if (!b->pf.recv_begin || (b->pf.free_space && job.total_size > b->pf.free_space(b->pf.user)) ||
            b->pf.recv_begin(b->pf.user, &job) != 0) {
            reject(b);
            return;
        }
    }
    b->job = JOB_RECV;
    b->reported = 0;
    b->cum = b->next_new = 0;
    b->corrected = b->resent = 0;
    clear_slots(b);
    box_writer_start(b);
    if (!later) {
        answer(b, T_READY, 0, NULL, 0);
    } else {
        /* Version 2 with what we can take: features, largest frame, window. */
        uint8_t ready[5];
        ready[0] = PROTOCOL_VERSION;
        ready[1] = features(b);
        ready[2] = (uint8_t)b->frame_max;
        ready[3] = (uint8_t)(b->frame_max >> 8);
        ready[4] = (uint8_t)b->slots;
        answer(b, T_READY, 0, ready, sizeof ready);
    }
}

/* ---- dispatch ---- */

void box_handle(tvkbox *b, const boxframe *f) {
    if (f->addr != b->cfg.address) return;
    b->last_heard_us = box_now_us(b);
    switch (f->type) {
    case T_POLL: {
        /* The master polls only between its jobs: a job still held here
         * was given up by it (its release was lost). */
        uint8_t rec[TVKBOX_RECORD_LEN];
        int a;
        end_job(b);
        a = b->pf.poll(b->pf.user, rec);
        if (a == TVKBOX_RECORD) answer(b, T_RECORD, f->seq, rec, sizeof rec);
        else answer(b, a == TVKBOX_IDLE ? T_IDLE : T_NOTERM, f->seq, NULL, 0);
        return;
    }
    case T_START:
        on_start(b, f);
        return;
    case T_RR:
        if (b->job != JOB_SEND || (f->len != ACK_LEN && (f->len < ACK_LEN_V2 || b->cfg.version_one))) {
            reject(b);
            return;
        }
        /* A request that arrives while our window is still crossing the
         * line was sent before the master saw it; the window's final frame
         * brings the next request. */
        if (f->seq == b->last_token || window_on_the_line(b)) return;
        b->last_token = f->seq;
        /* The master could not store a file: the rest still goes, but the
         * terminal keeps its data. */
        if (f->payload[18] & ACK_FAILED) b->peer_failed = 1;
        apply_ack(b, f->payload, f->len);
        send_next(b);
        return;
    case T_DATA:
    case T_FRAG:
        if (b->job != JOB_RECV) {
            if (f->pf) reject(b);
            return;
        }
        on_window_frame(b, f);
        if (f->pf) send_ack(b, f->seq);
        return;
    case T_ACKREQ:
        if (b->job != JOB_RECV) reject(b);
        else send_ack(b, f->seq);
        return;
    case T_DISC:
        end_job(b);
        if (b->pf.released) b->pf.released(b->pf.user);
        answer(b, T_UA, 0, NULL, 0);
        return;
    case T_ABORT:
        end_job(b);
        return;
    default:
        return;
    }
}

/* ---- the caller's calls ---- */

void tvkbox_input(tvkbox *b, const uint8_t *chars, size_t n, uint32_t now_ms) {
    b->now_ms = now_ms;
    if (n > 0) b->last_input_us = box_now_us(b);
    box_line_input(b, chars, n);
}

/* The master has been silent for progress_ms: since our own characters left
 * the line, its last frame, or its characters still arriving, which count
 * for one largest frame's line time after its last frame (line-protocol 8). */
static int master_gone(const tvkbox *b) {
    const uint32_t frame = box_line_us(b, tvk_encoded_length(TVKBOX_MAX_FRAME, b->cfg.seven_bits, 0) + 1);
    uint32_t quiet = b->last_heard_us, arriving = b->last_heard_us + frame;
    if (box_after(arriving, b->last_input_us)) arriving = b->last_input_us;
    if (box_after(arriving, quiet)) quiet = arriving;
    if (box_after(b->busy_until_us, quiet)) quiet = b->busy_until_us;
    return box_after(box_now_us(b), quiet + b->cfg.progress_ms * 1000u);
}

int tvkbox_poll(tvkbox *b, uint32_t now_ms) {
    b->now_ms = now_ms;
    if (b->job != JOB_NONE && !b->emitting && master_gone(b)) end_job(b);
    if (!b->emitting) return 0;
    if (!emit_next(b) || b->emit_at > b->emit_last) b->emitting = 0;
    return b->emitting;
}
