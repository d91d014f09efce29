/*
 * tervolk: the terminal-link library.
 *
 * One PC (the master) drives up to 16 I/O boxes on one serial line; each box
 * may hold one handheld terminal (HT). This header is the library's whole
 * contract: a program that uses only what is declared here can run against
 * any implementation of it.
 *
 * Conventions
 *  - Every function returns a 16-bit signed result: 0 or more is success
 *    (tvk_polling returns the number of connected terminals), a negative
 *    value is one of the TVK_E* codes below. TVK_ESTOPPED (-11) always means
 *    that tvk_stopreq was called.
 *  - Texts are NUL-terminated single-byte strings; file names are bytes and
 *    are never transcoded. Inputs the library only reads are const.
 *  - The library is called from one thread. tvk_stopreq and tvk_getcomfname
 *    may also be called from inside the event-pump or notification callback
 *    while another call is running.
 *  - tvk_geterrinf gives the error-status word (TVK_ES_* bits) of the last
 *    job: it is cleared at the start of tvk_polling, tvk_filerecv and
 *    tvk_filesend, and collects the conditions met until the next of them.
 *  - The environment variable TVK_DEBUG=1 (or tvk_setdebug(1)) prints every
 *    frame sent and received on standard error.
 *
 * Line ports: port n opens the device named by the environment variable
 * QUENDRIL_COMn, or /dev/ttyS<n> when it is unset.
 *
 * The line protocol is described in docs/line-protocol.md. The library
 * speaks its version 2 (compression and error correction where the box can
 * take them) and falls back to version 1, box by box, for a box that
 * refuses version 2.
 */
#ifndef TERVOLK_H
#define TERVOLK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#  if defined(TVK_BUILDING)
#    define TVK_API __declspec(dllexport)
#  else
#    define TVK_API __declspec(dllimport)
#  endif
#else
#  define TVK_API __attribute__((visibility("default")))
#endif

/* Result codes. */
#define TVK_OK             0
#define TVK_EFAIL         (-1)  /* the job failed; tvk_geterrinf says why */
#define TVK_EARG          (-2)  /* a bad argument (null pointer, bad pattern, bad port) */
#define TVK_ENOMORE       (-3)  /* no further terminal record; the reading is over */
#define TVK_ENOTOPEN      (-4)  /* the line is not open */
#define TVK_ENODEV        (-5)  /* the port's device does not exist */
#define TVK_EBUSY         (-6)  /* the port's device is in use or cannot be set up */
#define TVK_ETIMEOUT      (-7)  /* the terminal did not answer within the timers */
#define TVK_EPROTO        (-8)  /* the terminal broke the protocol */
#define TVK_EFILE         (-9)  /* a local file could not be opened, read or written */
#define TVK_ENOTERM       (-10) /* no such terminal is connected */
#define TVK_ESTOPPED      (-11) /* stopped by tvk_stopreq */

/* Error-status word bits (tvk_geterrinf). */
#define TVK_ES_PARITY      0x0001  /* UART parity error on a received character */
#define TVK_ES_OVERRUN     0x0002  /* UART or input buffer overrun */
#define TVK_ES_FRAMING     0x0004  /* UART framing error or break */
#define TVK_ES_BUFFULL     0x0008  /* a frame longer than the receive buffer */
#define TVK_ES_FATAL       0x0010  /* the line itself failed (device gone, I/O error) */
#define TVK_ES_TIMEOUT     0x0100  /* a timer ran out, retries exhausted */
#define TVK_ES_PROTOCOL    0x0400  /* an unexpected or malformed frame */
#define TVK_ES_TRANSFER    0x0800  /* a file could not be transferred intact */
#define TVK_ES_FILEOPEN    0x1000  /* a local file could not be opened or created, or a name was refused */
#define TVK_ES_NOSPACE     0x2000  /* the receiving file system has no room for what the terminal announced */
#define TVK_ES_OVERSIZE    0x4000  /* the terminal sent more than it announced */

/* transDir of tvk_comminfo. */
#define TVK_DIR_TO_PC      0     /* the terminal sends files to the PC */
#define TVK_DIR_TO_HT      1     /* the PC sends files to the terminal */
#define TVK_DIR_END        255   /* the terminal has finished its work */
/* transType of tvk_comminfo. */
#define TVK_TYPE_APPL      15    /* an application install */

/* The notification message: wparam is the progress of the current file, 0..100. */
#define TVK_NOTIFY_MSG     1050

/* Length of the buffer tvk_getcomfname writes into, NUL included. */
#define TVK_FNAME_LEN      64
/* Length of a terminal ID. */
#define TVK_ID_LEN         6
/* I/O boxes on one line: boxes are numbered 1..TVK_MAX_BOXES. */
#define TVK_MAX_BOXES      16

#pragma pack(push, 1)
/* The record of one connected terminal, 28 bytes. */
typedef struct tvk_comminfo {
    char    htId[TVK_ID_LEN]; /* terminal ID, not NUL-terminated */
    char    aux1[2];          /* terminal's software revision, two characters */
    int32_t aux2;             /* the I/O box (1..16) the terminal answered on */
    int32_t fileCount;        /* files about to be sent */
    int32_t totalSize;        /* their total bytes (saturates at INT32_MAX) */
    int32_t transDir;         /* TVK_DIR_* */
    int32_t transType;        /* TVK_TYPE_APPL, or the terminal's own job type */
} tvk_comminfo;

/* Line parameters of tvk_open, 36 bytes. */
typedef struct tvk_openparam {
    int32_t baudCode;   /* 0..7: 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200 bit/s */
    int32_t sevenBits;  /* 0: 8 data bits, otherwise 7 */
    int32_t parityCode; /* 0 none, 1 odd, 2 even */
    int32_t stopBits;   /* 1 or 2 */
    int32_t lineParamA; /* ms: how long a terminal may take to start its answer (30..300) */
    int32_t lineParamB; /* ms: how long a transfer may go without progress (500..10000) */
    int32_t lineParamC; /* retries of a frame or window before the job fails (0..99) */
    int32_t spare1;     /* 0 */
    int32_t spare2;     /* 0 */
} tvk_openparam;
#pragma pack(pop)

#ifdef __cplusplus
static_assert(sizeof(tvk_comminfo) == 28, "tvk_comminfo is 28 bytes");
static_assert(sizeof(tvk_openparam) == 36, "tvk_openparam is 36 bytes");
#else
_Static_assert(sizeof(tvk_comminfo) == 28, "tvk_comminfo is 28 bytes");
_Static_assert(sizeof(tvk_openparam) == 36, "tvk_openparam is 36 bytes");
#endif

/* Line calls (tvk_open, tvk_close, tvk_disconnect, tvk_polling,
 * tvk_filerecv, tvk_filesend) block on the serial line, calling the event
 * pump (tvk_setpump) about every 10 ms meanwhile. Made from inside the pump
 * or a notification callback of another line call, each returns TVK_EBUSY
 * and acts as a stop request for the running call. Every other call
 * returns at once. */

/* Opens COM port `port` (0..99: the device of $QUENDRIL_COM<port>, else
 * /dev/ttyS<port>) with the settings of *param, which it only reads;
 * closes a line already open first. Blocks only while an open line drains.
 * Bounds: baudCode 0..7, sevenBits any, parityCode 0..2, stopBits 1..2,
 * lineParamA 1..60000 ms, lineParamB 1..600000 ms, lineParamC 0..99.
 * Results: TVK_OK; TVK_EARG (null param, port or a field out of bounds);
 * TVK_ENODEV (no such device); TVK_EBUSY (not a terminal device, locked by
 * another program or user, settings refused, or called from a callback).
 * Clears a pending stop and the knowledge of every box. */
TVK_API int16_t tvk_open(int32_t port, const tvk_openparam *param);
/* Waits until everything written has left the line, releases the port and
 * its lock. Results: TVK_OK; TVK_ENOTOPEN; TVK_EBUSY from a callback. */
TVK_API int16_t tvk_close(void);
/* Releases terminals: mode 1 every box connected since the last mode-1
 * release (info is not read and may be NULL), mode 0 the box info->aux2
 * (1..TVK_MAX_BOXES). Blocks until each box confirms or its retries
 * (lineParamC) run out; after a call that returned TVK_ESTOPPED, waits at
 * most one second per box. Ignores a stop request. Results: TVK_OK;
 * TVK_ETIMEOUT (a box did not confirm); TVK_EARG (mode not 0 or 1, a null
 * or bad record for mode 0); TVK_ENOTOPEN; TVK_EBUSY from a callback. */
TVK_API int16_t tvk_disconnect(int32_t mode, const tvk_comminfo *info);

/* ID table: the terminals that polling accepts ("&&&&&&" accepts any; an
 * empty table accepts none). Kept across tvk_open and tvk_close. */
/* Empties the table. Result: TVK_OK. */
TVK_API int16_t tvk_idtblclr(void);
/* Adds an ID, read up to its first TVK_ID_LEN bytes or its NUL and padded
 * with spaces. Results: TVK_OK; TVK_EARG (null id); TVK_EFAIL (the table
 * already holds 128 IDs). */
TVK_API int16_t tvk_idtbladd(const char *id);
/* Number of IDs in the table (0..128). */
TVK_API int16_t tvk_idtblgetidno(void);
/* Copies ID number index (0-based) into id, which holds TVK_ID_LEN + 1
 * bytes (NUL-terminated). Results: TVK_OK; TVK_EARG (null id, index out
 * of range). */
TVK_API int16_t tvk_idtblgetid(int32_t index, char *id);

/* Polls boxes 1..boxCount (1..TVK_MAX_BOXES) once each, in order; mode
 * must not be NULL, its value (pass 1) is neither used nor changed. Blocks
 * for the poll cycle: each box's answer deadline, and when no terminal
 * answered at least 50 ms and 10 ms per box. Records of terminals whose
 * IDs the table accepts are kept for tvk_getcinffirst/next, and their boxes
 * count as connected.
 * Results: the number of terminals accepted (0..boxCount); TVK_EARG (null
 * mode, boxCount out of bounds); TVK_ENOTOPEN; TVK_EFAIL (the line device
 * failed: TVK_ES_FATAL); TVK_ESTOPPED; TVK_EBUSY from a callback. Status
 * bits: TVK_ES_PARITY, _OVERRUN, _FRAMING, _BUFFULL, _FATAL. */
TVK_API int16_t tvk_polling(int32_t *mode, int32_t boxCount);
/* Copy the records of the last poll, in box order, into *info: first
 * starts again from the first. Results: TVK_OK; TVK_ENOMORE after the
 * last; TVK_EARG (null info). */
TVK_API int16_t tvk_getcinffirst(tvk_comminfo *info);
TVK_API int16_t tvk_getcinfnext(tvk_comminfo *info);

/* Receives the files of the terminal in box info->aux2 into directory dir
 * (read only; "" is the current directory) and blocks until the job ends.
 * The terminal is told the job completed only once every file is on disk
 * under its name. A job whose announced total does not fit dir's file
 * system is refused before it starts; one that sends more than announced
 * is aborted. info is read (aux2, totalSize), not written.
 * Results: TVK_OK; TVK_EFAIL (a file or the job failed; see the status
 * word); TVK_ETIMEOUT (the terminal went silent); TVK_EPROTO (a REJECT, or
 * the stream ended short); TVK_EFILE (dir cannot be used); TVK_EARG (null
 * argument, aux2 outside 1..TVK_MAX_BOXES); TVK_ENOTOPEN; TVK_ESTOPPED;
 * TVK_EBUSY from a callback. Status bits: TVK_ES_TIMEOUT, _PROTOCOL,
 * _TRANSFER, _FILEOPEN, _NOSPACE, _OVERSIZE, _FATAL, and the line's
 * _PARITY, _OVERRUN, _FRAMING, _BUFFULL. */
TVK_API int16_t tvk_filerecv(const char *dir, tvk_comminfo *info);
/* Sends every regular, non-hidden file of the directory of pattern (read
 * only): a directory, a slash or backslash, then "*.*" or "*" (a bare
 * "*.*" is the current directory); sorted by name, to the terminal in box
 * info->aux2; blocks until the terminal has acknowledged every file.
 * info->transType goes to the terminal (15: an application install); info
 * is not written.
 * Results: TVK_OK; TVK_EFAIL (a file could not be read, or the terminal
 * could not store one); TVK_ETIMEOUT; TVK_EPROTO (a REJECT); TVK_EFILE
 * (the directory cannot be listed); TVK_EARG (null argument, a pattern not
 * ending in "*.*" or "*", aux2 out of bounds); TVK_ENOTOPEN; TVK_ESTOPPED;
 * TVK_EBUSY from a callback. Status bits as tvk_filerecv, without
 * _NOSPACE and _OVERSIZE. */
TVK_API int16_t tvk_filesend(const char *pattern, tvk_comminfo *info);

/* The error-status word: TVK_ES_* bits met since the start of the last
 * tvk_polling, tvk_filerecv or tvk_filesend (0..0x7FFF). */
TVK_API int16_t tvk_geterrinf(void);
/* A short English text for a result code (TVK_OK or a TVK_E* code), for
 * logs and programs without texts of their own: "unknown result code" for
 * any other value. The text is static; never free it. */
TVK_API const char *tvk_strerror(int32_t code);
/* A short English text for one TVK_ES_* bit of the error-status word:
 * "unknown status bit" for 0, a combination or any other value. The text is
 * static; never free it. */
TVK_API const char *tvk_statustext(int32_t bit);
/* Makes the running line call, or the next one, return TVK_ESTOPPED once
 * (a transfer tells the box at once). Safe from the pump, a notification
 * callback or another thread. Result: TVK_OK. */
TVK_API int16_t tvk_stopreq(void);

/* Notifications: message msg with the progress is delivered to the callback
 * registered with tvk_setnotify, together with hwnd. Result: TVK_OK. */
TVK_API int16_t tvk_sethwnd(int32_t hwnd, int32_t msg);
/* Writes the name of the file in transfer (at most TVK_FNAME_LEN - 1 bytes
 * and a NUL) into buf, which holds TVK_FNAME_LEN bytes. Results: TVK_OK;
 * TVK_EARG (null buf). */
TVK_API int16_t tvk_getcomfname(char *buf);

/* Called on the caller's thread, inside tvk_filerecv and tvk_filesend,
 * whenever the current file's progress (wparam, 0..100) changes. */
typedef void (*tvk_notify_fn)(void *user, int32_t hwnd, int32_t msg, int32_t wparam);
/* Installs the notification callback (NULL: none). Result: TVK_OK. */
TVK_API int16_t tvk_setnotify(tvk_notify_fn fn, void *user);
/* Called at least every 50 ms while a line call blocks, so the caller's
 * window stays responsive. Without one, a waiting call wakes only for the
 * line, a stop request or once a second. */
typedef void (*tvk_pump_fn)(void *user);
/* Installs the event pump (NULL: none). Result: TVK_OK. */
TVK_API int16_t tvk_setpump(tvk_pump_fn fn, void *user);
/* Prints every frame on standard error when on is not 0. Result: TVK_OK. */
TVK_API int16_t tvk_setdebug(int32_t on);

/* What a job asks the caller through the check callback. name is the file's
 * name (NUL-terminated bytes); for TVK_CHECK_COMMIT it is "". A result of 0
 * means no:
 *  - TVK_CHECK_SEND: the file of the sending directory is left out (it is
 *    neither counted nor sent);
 *  - TVK_CHECK_STORE: a received file of that name is refused before
 *    anything of it is written (TVK_ES_FILEOPEN); the other files go on;
 *  - TVK_CHECK_COMMIT: every file of a receive is stored and on disk, and the
 *    terminal is about to be told so; no fails the job (TVK_ES_FILEOPEN) and
 *    the terminal keeps its files. Asked once per receive, only when every
 *    file was stored. */
#define TVK_CHECK_SEND     1
#define TVK_CHECK_STORE    2
#define TVK_CHECK_COMMIT   3
typedef int (*tvk_check_fn)(void *user, int32_t what, const char *name);
/* Installs the check callback (NULL: every file is sent and stored).
 * Result: TVK_OK. */
TVK_API int16_t tvk_setcheck(tvk_check_fn fn, void *user);

#ifdef __cplusplus
}
#endif

#endif /* TERVOLK_H */
