/* ezcam.h - public C interface of the ezcam camera SDK. */
#ifndef EZCAM_H
#define EZCAM_H

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Image record heading every frame buffer and every image. Its byte layout is
 * also the header of a RAW file, so fields, widths and offsets are fixed
 * (56 bytes, little-endian). */
typedef struct _ezImage {
    char signature[4];        /* "KVEZ" */
    uint16_t width;           /* pixels per row */
    uint16_t height;          /* rows */
    uint8_t depth;            /* bits per sample: 8 or 16 */
    uint8_t channels;         /* samples per pixel: 1 or 3 */
    uint8_t bayer;            /* Bayer code 0..4 of the sensor */
    uint8_t resolution;       /* camera resolution index at capture */
    uint16_t header_size;     /* bytes from the record to the first pixel */
    uint16_t stride;          /* bytes per row */
    unsigned char* data;      /* first pixel byte */
    unsigned char* extra;     /* data + stride * height: statistics area */
    uint8_t decoded;          /* 0 raw mosaic, 1 decoded */
    uint8_t pixel_clock;      /* pixel-clock mode code at capture */
    uint16_t analog_gain;     /* analog gain at capture */
    uint16_t black_level;     /* black level at capture */
    uint16_t idproduct;       /* USB product id */
    uint16_t idvendor;        /* USB vendor id */
    uint16_t bcddevice;       /* USB device release */
    uint8_t reserved[6];
    uint16_t channel_mean[3]; /* mean of channel 0, 1, 2 */
} _ezImage;

/* Rectangle; right and bottom are exclusive. */
typedef struct __IMG_RECT {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
} __IMG_RECT;

/* ---- Image operations that need no camera ------------------------------ */

/* Resamples the frame in `source` into a width x height frame written to
 * `destination` (record followed by pixels at header_size). Returns 0. */
int ResizeImage(unsigned char* source, unsigned char* destination, int width, int height);
/* Stores the three channel means in the record's channel_mean. 0, or -4 when
 * the buffer does not start with an image record. */
int CalcAverage(unsigned char* image);
/* Grey value of the pixel at column x, row y; -1 for a bad buffer or position. */
int GetPointIntensity(int x, int y, unsigned char* image);
/* Means of the four Bayer positions (red, green on red row, green on blue row,
 * blue) of a raw region, and their mean. 0, -2 bad region or depth, -4 not a
 * raw record or out of memory. */
int GetImageIntensity(unsigned char* image, int x, int y, int width, int height,
                      float* mean, float* m0, float* m1, float* m2, float* m3);
/* Shifts every sample left (shift > 0, saturating) or right (shift < 0).
 * 0, -2 for a shift outside -8..8, -4 when not an image record. */
int ShiftOperation(unsigned char* image, int shift);

/* ---- Simulated cameras ---------------------------------------------------- */

/* Plugs a simulated camera into the simulated bus and raises its arrival.
 * Pairs that a camera model drives behave as that model; any other pair is a
 * device that stalls every request. Returns the camera's id (1, 2, ... in plug
 * order), or -2 when an id is outside 0..0xffff. */
int SimPlugCamera(int vendor, int product, int bcdDevice);
/* Unplugs a simulated camera and raises its removal. 0, or -1 for an id that
 * is not plugged in. */
int SimUnplugCamera(int id);
/* Presses the camera's capture button: its next frame carries the capture
 * flag. 0, or -1 for an id that is not plugged in. */
int SimPressCapture(int id);

#ifdef __cplusplus
}
#endif

#endif /* EZCAM_H */
