/* How a sender shapes its frames and windows (docs/line-protocol.md 6.5),
 * shared by the box and the PC's library. From every acknowledgement it
 * estimates the share of line characters the line damages, and picks the
 * frame size and error-correction strength that carry the most payload per
 * line character at that rate. Integer arithmetic only: a box's processor
 * may have no floating point. */
#ifndef TVKSHAPE_H
#define TVKSHAPE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Smallest and largest frame payload a sender builds, and its largest
 * window in payload bytes. */
#define TVK_FRAME_MIN 64
#define TVK_FRAME_MAX 4096
#define TVK_WINDOW_MAX 65536

/* The line's caps: the largest frame payload whose frame, with its
 * delimiter and a leading one, crosses the line in 2 s
 * (TVK_FRAME_MIN..TVK_FRAME_MAX); and as many frames of that size as cross
 * it whole in 6 s, at least one, within TVK_WINDOW_MAX bytes. So a window
 * is acknowledged every few seconds at any speed. */
uint32_t tvk_line_frame_cap(uint32_t bits_per_second, unsigned bits_per_char, int seven_bits);
uint32_t tvk_line_window_cap(uint32_t bits_per_second, unsigned bits_per_char, int seven_bits);

typedef struct tvk_shape {
    /* Bounds, fixed for a job: the largest frame payload the line and the
     * receiver allow, the largest window in payload bytes, the receiver's
     * largest frame (which a protected frame's block must not outgrow) and
     * the strongest error correction the receiver repairs (0: none). */
    uint32_t frame_cap, window_cap, frame_max;
    uint8_t max_strength;
    /* What the sender builds now. */
    uint32_t frame_size, window_bytes;
    uint8_t strength;
    /* The model: damaged characters per line character in units of 2^-30
     * (0 until a window loses or repairs something), and the receiver's
     * count of repaired bytes last heard. */
    uint32_t err, corrected_seen;
} tvk_shape;

/* A job's start: 1024-byte frames and 16 KiB windows at most, no error
 * correction. */
void tvk_shape_init(tvk_shape *s, uint32_t frame_cap, uint32_t window_cap, uint32_t frame_max, int max_strength);

/* An acknowledgement of a window of `sent` frames taking `chars` line
 * characters (fewer than 2^31) at the current strength, `lost` of them missing; `corrected`
 * is the receiver's count of bytes repaired in the job so far. Frames and
 * windows double while nothing has been damaged; then the shape follows
 * the estimate, and windows halve while most of one is lost. */
void tvk_shape_adapt(tvk_shape *s, size_t lost, size_t sent, size_t chars, uint32_t corrected);

#ifdef __cplusplus
}
#endif

#endif
