/* ezcam.h - public C interface of the ezcam camera SDK.
 *
 * Cameras are found on the bus and registered by name ("QC500.0"); every
 * call on a camera takes that name as its last argument. A typical program:
 * InitDevice, PollDevice until the camera arrives (or DeviceName), then
 * ResumeDevice, RecvMemSize, GetRawDataInfo in a loop (DecodeRaw2Image for a
 * finished image), SuspendDevice, ExitDevice.
 *
 * Threads. Every call may be made from any thread. The registry of cameras
 * has a lock of its own, and each camera has one settings lock that a call
 * on that camera holds while it runs, so the calls on one camera take turns
 * and a setting is never seen half made. Three kinds of calls hold the lock
 * only briefly or not at all, so that they need not wait for each other:
 *  - Frame reads (GetRawData, GetRawDataInfo) release it while they wait
 *    for the frame's transfer: a setter called meanwhile does not wait for
 *    the exposure. What it changes reaches the frames asked for after it.
 *  - DecodeRaw2Image does not take it: the processing setters stage their
 *    tables and the decoding of the next frame takes them over at its
 *    start, so a setter never makes a frame wait (it may wait a moment for
 *    a frame that is taking its tables over). It takes the lock only
 *    briefly: to serve a still requested with SaveImage and, with
 *    calibration on, to match the frame's settings to the masters.
 *  - The calibration-library calls (SetCalibration*, GetCalibration*,
 *    BeginMaster, AddMasterFrame, FinishMaster) keep their own state.
 * Read the frames of one camera from one thread at a time, and decode them
 * (DecodeRaw2Image) from one thread at a time; the two may be different
 * threads, as a grab thread and a display thread are. Different cameras are
 * independent. A camera unplugged or released while a call runs on it stays
 * alive until that call returns; later calls answer EZ_ENOCAM.
 *
 * Blocking. Calls that talk to the camera wait for its answer: each vendor
 * request of a setter waits at most 1 s (a camera answers in a few
 * milliseconds), and a frame read waits at most 2 s plus twice the exposure.
 * A call on a camera may also wait for its settings lock, which a frame read
 * holds only while it prepares and finishes a frame (not during the
 * transfer; a requested defect search makes the finishing longer). Calls that only read or store a value (the getters but
 * DeviceVersion and GetTemperature, the processing setters) do no I/O. The
 * notes below say where a call does more.
 *
 * Codes are named below (EZ_BAYER_*, EZ_FORMAT_*, EZ_FLIP_*, EZ_ROTATE_*,
 * EZ_DEVICE_*, EZ_FLUO_*, EZ_MASTER_*, EZ_VERSION_*); the calls take and
 * give them as plain int. */
#ifndef EZCAM_H
#define EZCAM_H

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Marks the calls libezcam exports; everything else in it stays internal. */
#if defined(__GNUC__)
#define EZCAM_API __attribute__((visibility("default")))
#else
#define EZCAM_API
#endif

/* Status results of the calls. A call that fails inside the library (memory
 * running out, an internal fault) logs why and answers EZ_EIO, or where it
 * answers a value, the value it gives for no camera; no C++ exception leaves
 * the library. */
enum {
    EZ_OK = 0,
    EZ_ENOCAM = -1,           /* no registered camera of that name */
    EZ_ERANGE = -2,           /* argument out of range, or buffer too small */
    EZ_EIO = -3,              /* transfer failure, or no frame */
    EZ_ENOTSUP = -4,          /* not supported by this camera */
    EZ_EDEPTH16 = 4,          /* conflicts with the 16-bit depth */
    EZ_CAPTURE = 1,           /* frame read: the frame carries the camera's capture request */
    EZ_FLUO_GAIN = 2,         /* frame read: the fluorescence guide's gain search ended on this frame */
    EZ_FLUO_EXPOSURE = 3,     /* frame read: the fluorescence guide measured this frame and set the
                               * exposure */
    EZ_DEFECT_SEARCH = 5,     /* frame read: a requested defect search ran on this frame */
    EZ_EDEFECT_SEARCH = -5,   /* frame read: the defect search on this frame failed */
    EZ_ELIT = -6,             /* a dark or bias master whose frames show light: cover the lens */
    EZ_ECHART = -7,           /* colour calibration: no colour chart in the rectangle */
    EZ_EDARK = -8,            /* colour calibration: the chart too dark, or the exposure too short */
    EZ_ECLIPPED = -9,         /* colour calibration: the chart's white at the top of the range */
    EZ_EBUSY = -10            /* the camera is busy with a colour calibration */
};

/* Image record heading every frame buffer and every image. Its byte layout is
 * also the header of a RAW file, so fields, widths and offsets are fixed
 * (56 bytes, little-endian). */
typedef struct _ezImage {
    char signature[4];        /* "KVEZ" */
    uint16_t width;           /* pixels per row */
    uint16_t height;          /* rows */
    uint8_t depth;            /* bits per sample: 8 or 16 */
    uint8_t channels;         /* samples per pixel: 1 or 3 */
    uint8_t bayer;            /* Bayer code of the sensor (EZ_BAYER_*) */
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

/* Bayer codes (GetRawBayernPattern, _ezImage.bayer, EzFrameInfo.bayer),
 * named by the colours of the filters of the 2 x 2 tile whose top-left
 * sample is the frame's first sample (row 0, column 0), read top left, top
 * right, bottom left, bottom right; BayerPatternName gives the same as text.
 * (The decoders' own names of the codes swap red and blue: code 1 is their
 * "RGGB". The site they call red sits under a blue filter and lands in the
 * channel every image presents as blue.) */
enum {
    EZ_BAYER_MONO = 0,        /* monochrome sensor: no mosaic */
    EZ_BAYER_BGGR = 1,
    EZ_BAYER_GBRG = 2,
    EZ_BAYER_RGGB = 3,
    EZ_BAYER_GRBG = 4
};

/* Still formats (SetImageFormat, GetImageFormat, SaveFile): bits, any
 * combination; one file per bit, named path + extension. */
enum {
    EZ_FORMAT_RAW = 1,        /* ".raw": the raw frame behind its image record */
    EZ_FORMAT_TIFF = 2,       /* ".tif" */
    EZ_FORMAT_PNG = 4,        /* ".png" */
    EZ_FORMAT_JPEG = 8,       /* ".jpg" (the default of SetImageFormat) */
    EZ_FORMAT_BMP = 16        /* ".bmp" */
};

/* Flip codes (SetFlip): bits; upside down first, then mirrored. */
enum {
    EZ_FLIP_NONE = 0,
    EZ_FLIP_MIRROR = 1,       /* left and right exchanged */
    EZ_FLIP_UPSIDE_DOWN = 2,  /* top and bottom exchanged */
    EZ_FLIP_BOTH = 3          /* the same as a half turn */
};

/* Rotation codes (SetRotate): quarter turns, before the flip; they exchange
 * the finished image's width and height. 0 and 3 leave it unturned. */
enum {
    EZ_ROTATE_NONE = 0,
    EZ_ROTATE_LEFT = 1,       /* a quarter turn counter-clockwise */
    EZ_ROTATE_RIGHT = 2       /* a quarter turn clockwise */
};

/* Rectangle; right and bottom are exclusive. */
typedef struct __IMG_RECT {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
} __IMG_RECT;

/* ---- Callbacks ----------------------------------------------------------- */

/* Hot-plug handler: called with the camera name and EZ_DEVICE_ARRIVED or
 * EZ_DEVICE_REMOVED, on the thread that calls PollDevice (or InitDevice),
 * with no lock of the library held: it may call any function but PollDevice,
 * InitDevice and ExitDevice. On arrival the camera is registered and its
 * parameter set loaded; on removal it is no longer registered (its set is
 * saved) and `name` is valid until the handler returns. */
typedef void (*EzHotPlugHandler)(void* receiver, const char* name, int event);
enum { EZ_DEVICE_ARRIVED = 0, EZ_DEVICE_REMOVED = 3 };
/* Asynchronous frame request of GetRawDataEx: kept, never called. */
typedef void* (*EzFrameCallback)(unsigned char* frame);
/* Still callback of SaveImageEx: kept, never called. */
typedef void (*EzSnapCallback)(unsigned char* image);

/* Log levels; the library logs at or above the level EZCAM_LOG names
 * (error, warn, info or debug; warn when unset). */
enum { EZ_LOG_ERROR = 0, EZ_LOG_WARN = 1, EZ_LOG_INFO = 2, EZ_LOG_DEBUG = 3 };
/* Receives one log message (no trailing newline), on the thread that logs,
 * which may be any thread that calls in. Messages are handed over one at a
 * time, and a call on a camera may hold that camera while it waits for the
 * handler: a handler must not call the named-camera calls (it may store,
 * queue or print the message). */
typedef void (*EzLogHandler)(void* receiver, int level, const char* message);

/* ---- Registry ------------------------------------------------------------ */

/* Starts watching the bus for supported cameras; cameras already plugged in
 * arrive before it returns (opening each takes a few requests and reads its
 * parameter set), their hot-plug handler calls on this thread. A second
 * call releases the cameras of the first and finds them again.
 * `directory` holds the parameter sets and should end with '/'; an empty
 * one keeps no parameter sets. 0, or EZ_EIO when it fails inside. */
EZCAM_API int InitDevice(EzHotPlugHandler handler, void* receiver, const char* directory);
/* Saves every camera's parameter set (file writes), releases every camera
 * (each once no call runs on it) and stops watching. No hot-plug calls. */
EZCAM_API void ExitDevice(void);
/* Handles pending arrivals and removals, waiting at most timeout_ms for the
 * first (0: only what is pending); the hot-plug handler runs on this
 * thread. Returns how many it handled, or EZ_EIO. Call it from one thread. */
EZCAM_API int PollDevice(int timeout_ms);
/* The number of registered cameras. */
EZCAM_API int DeviceCount(void);
/* The index-th camera name in ascending byte order; "" when out of range.
 * Valid while that camera stays registered: a thread that polls may remove
 * it, so copy it before another thread can. */
EZCAM_API const char* DeviceName(int index);
/* Starts the camera's sensor streaming: a few requests and a pause for the
 * sensor to start (300 ms on most models); nothing when it streams already.
 * Its frame counter (EzFrameInfo.frame) starts again at 0. 0, or the
 * failure of a request. A suspended camera gives no frames (GetRawData: -3)
 * until it is resumed. */
EZCAM_API int ResumeDevice(const char* name);
/* Stops the sensor streaming (a request); frame reads begun after it
 * answer -3 until ResumeDevice. 0, or the failure of the request. */
EZCAM_API int SuspendDevice(const char* name);
/* The library's version texts by kind (EZ_VERSION_*); other kinds give the
 * text asked for before. The text is shared: copy it before another thread
 * asks for another kind. */
enum { EZ_VERSION_DATE = 1, EZ_VERSION_NUMBER = 2, EZ_VERSION_TAG = 3 };
EZCAM_API const char* VersionInf(int kind);

/* The status's name, such as "EZ_ERANGE"; null for a value not named above.
 * A constant text; no camera needed. */
EZCAM_API const char* StatusName(int status);
/* Hands every log message to `handler` instead of standard error; a null
 * handler restores standard error. Once it returns, the previous handler is
 * no longer called (it waits for a message being delivered). */
EZCAM_API void SetLogHandler(EzLogHandler handler, void* receiver);

/* ---- Named-camera call surface --------------------------------------------
 * The camera name comes last. An unregistered name gives EZ_ENOCAM (-1)
 * unless noted and leaves out-parameters untouched. The other results are the
 * status values above. Range getters write minimum, maximum and step through
 * their three pointers (a null pointer is skipped). Setters without a result
 * (void) ignore an unregistered name. */

/* Identity and buffer sizes; unregistered name: 0. No I/O but DeviceVersion's. */
/* Bytes of the header area in front of a frame's samples (the image record
 * and the frame's facts); 512. */
EZCAM_API int DataHeadLen(const char* name);
/* Bytes a frame buffer needs for any mode and depth of this camera. */
EZCAM_API int RecvMemSize(const char* name);
/* 1 while the sensor streams (ResumeDevice), 0 when idle. */
EZCAM_API int DeviceState(const char* name);
/* USB product id, vendor id, device release (bcdDevice) and USB release
 * (bcdUSB) of the camera. */
EZCAM_API int DeviceProduct(const char* name);
EZCAM_API int DeviceVendor(const char* name);
EZCAM_API int DeviceBcd(const char* name);
EZCAM_API int USBBcd(const char* name);
/* The camera's firmware version, asked of the camera (a request); 0 when
 * it does not answer. */
EZCAM_API int DeviceVersion(const char* name);

/* Resolution and pixel clock: indexes into the model's tables, 0 to
 * count - 1. GetResItemName/GetPixclkItemName: null when unregistered or
 * out of range; GetResWidth/GetResHeight: -2 when unregistered. */
/* Chooses the resolution; GetResolution reports it at once, the camera
 * receives it before the next frame read (whose frame it may cost). 0, -2
 * index out of range, 4 the 16-bit depth is not offered at it. */
EZCAM_API int SetResolution(int index, const char* name);
/* The resolution index in force, and how many the model has. */
EZCAM_API int GetResolution(const char* name);
EZCAM_API int GetResolutionCount(const char* name);
/* The entry's label, such as "1272X952 Bin"; valid while the camera is registered. */
EZCAM_API const char* GetResItemName(int index, const char* name);
/* The finished image's width and height at that resolution (raw frames
 * carry a border of 4 pixels on each side more on most models). */
EZCAM_API int GetResWidth(int index, const char* name);
EZCAM_API int GetResHeight(int index, const char* name);
/* Chooses the pixel clock (frame rate) and re-times the exposure; sent
 * before the next frame read. 0, -2 index out of range, 4 the 16-bit depth
 * is not offered at this clock and resolution. */
EZCAM_API int SetPixelclock(int index, const char* name);
/* The pixel-clock index in force, how many the model has, and an entry's label. */
EZCAM_API int GetPixelclock(const char* name);
EZCAM_API int GetPixelclockCount(const char* name);
EZCAM_API const char* GetPixclkItemName(int index, const char* name);

/* Raw format and frames. GetRawData, with a frame in the buffer: 0; 1 the
 * frame carries the camera's capture request; 2 or 3 a step of the
 * fluorescence guide ended on it (FluorescenceGuide); 5 (-5 when it failed)
 * a requested defect search ran on it (CalcDefectCorrection; not for
 * display). Without a frame: -2 the buffer is smaller than the frame of the
 * mode, depth and region in force needs (RecvMemSize bytes always suffice),
 * nothing read; -3 no frame this time (also while suspended, and for the one
 * frame a mode or region change may cost); -1 no such camera. Calls that
 * take a frame or image buffer refuse one that does not start with an image
 * record (the signature "KVEZ" and a header_size of at least the record's
 * size). */
/* The finished image's size in the mode, region and rotation in force. 0. */
EZCAM_API int GetRawSize(int* width, int* height, const char* name);
/* Bits per raw sample: 8, or 16 (the converter's bits aligned to the top). */
EZCAM_API int GetRawDepth(const char* name);
/* 8 or 16 bits per sample (a request), in force from a frame read begun
 * after it. 0, -2 neither 8 nor 16, -4 the model has no 16-bit mode, 4 not
 * at this resolution and pixel clock. */
EZCAM_API int SetRawDepth(int bits, const char* name);
/* Whether 16 bits are offered at that pixel clock: 0 yes, 4 not at the
 * current resolution, -4 not at this clock or not at all, -2 bad index. */
EZCAM_API int GetRawDepthState(int pixel_clock, const char* name);
/* Reads the next frame into `buffer` (`size` bytes): the image record, then
 * the samples at header_size. Waits for it: at most 2 s plus twice the
 * exposure. Results as above; one thread at a time per camera. */
EZCAM_API int GetRawData(unsigned char* buffer, int size, const char* name);
/* What the frame reader knew of one frame, kept beside it: the image record's
 * layout stays as it is. Counters run from the start of the stream
 * (ResumeDevice). */
typedef struct EzFrameInfo {
    uint64_t frame;          /* frames delivered since the stream started; 0 for the first */
    uint64_t frames_lost;    /* reads since the stream started that lost their frame (-3) */
    uint64_t mode_drops;     /* of those, reads begun with a resolution, clock or region
                              * change pending: frames a mode change drops */
    int64_t monotonic_ns;    /* CLOCK_MONOTONIC when the frame's transfer ended */
    int64_t utc_ns;          /* the same moment in UTC, nanoseconds since 1970-01-01 */
    float exposure_ms;       /* exposure in force */
    float temperature;       /* sensor temperature in degrees Celsius, if has_temperature */
    int32_t has_temperature; /* 1: the model reports one; read at most once a second */
    int32_t analog_gain;     /* analog gain in force (GetAnaloggain's steps) */
    int32_t black_level;     /* black level in force */
    int32_t pixel_clock;     /* pixel-clock index (GetPixclkItemName names it) */
    int32_t resolution;      /* resolution index the frame was asked in */
    int32_t width;           /* the frame as delivered */
    int32_t height;
    int32_t roi_x;           /* its origin in the resolution's whole frame */
    int32_t roi_y;
    int32_t x_binning;       /* sensor pixels per frame pixel along a row and a */
    int32_t y_binning;       /* column: 1 unbinned; 0 a binned mode of unstated factor */
    int32_t depth;           /* bits per sample: 8 or 16 */
    int32_t bayer;           /* Bayer code of the frame's first sample (EZ_BAYER_*) */
} EzFrameInfo;
/* GetRawData that also fills `info` (when not null): completely for a frame
 * (0 or 1); on -3 only frames_lost and mode_drops are brought up to date;
 * on any other result it is left alone. Blocks as GetRawData does. */
EZCAM_API int GetRawDataInfo(unsigned char* buffer, int size, EzFrameInfo* info, const char* name);
/* Registers an asynchronous request; it is kept but never served: frames
 * come only from GetRawData and GetRawDataInfo. 0; -2 for a size below the
 * frame's (the request is kept all the same) or a null buffer (not kept). */
EZCAM_API int GetRawDataEx(EzFrameCallback callback, unsigned char* buffer, int size, const char* name);
/* The sensor's Bayer code (EZ_BAYER_*); EZ_BAYER_MONO for monochrome models. */
EZCAM_API int GetRawBayernPattern(const char* name);
/* Samples per finished pixel: 3 colour, 1 monochrome. */
EZCAM_API int GetImageChannles(const char* name);
/* Turns the raw frame in `raw` into the finished image in `image` with the
 * processing settings in force: decoding, border cut, corrections, rotation
 * and flip, tone and colour, histogram; serves a still requested by
 * SaveImage. `image` needs header_size + width x height x 3 x depth / 8
 * bytes and a statistics area behind them (RecvMemSize x 3 + 4128 always
 * suffices). Computes on the calling thread (several threads for large
 * frames); does not take the camera's settings lock. 0, -2 for a buffer that
 * is no raw record or the same as `image`, -1 also for a camera gone. */
EZCAM_API int DecodeRaw2Image(unsigned char* raw, unsigned char* image, const char* name);

/* Exposure (milliseconds), gain and black level. GetExposure: -1.0 when
 * unregistered; SetExposure: -2 for NaN, an infinity or a negative time. */
/* The analog gain's range in the model's own steps, and the gain in force. */
EZCAM_API int GetAnaloggainRange(int* min, int* max, int* step, const char* name);
EZCAM_API int GetAnaloggain(const char* name);
/* Sets the analog gain (a request). A gain outside the range is clamped
 * to it and still answers 0: read GetAnaloggain for the gain in force. */
EZCAM_API int SetAnaloggain(int gain, const char* name);
/* The exposure's range and step (one sensor line) at the mode in force. */
EZCAM_API int GetExposureRange(float* min, float* max, float* step, const char* name);
/* The exposure in force, in milliseconds, rounded to whole sensor lines. */
EZCAM_API float GetExposure(const char* name);
/* Sets the exposure (one or two requests), rounded to whole lines and
 * clamped to the range: 0 also when clamped; read GetExposure back. The
 * frame being read keeps the exposure it was asked with. */
EZCAM_API int SetExposure(float milliseconds, const char* name);
/* ResetSupport: 0 when the model can restart a long exposure, else -4.
 * ResetDevice: restarts it (a request); 0, or -4. */
EZCAM_API int ResetSupport(const char* name);
EZCAM_API int ResetDevice(const char* name);
/* Sets the sensor's black level (a request). 0, -2 outside the range
 * (nothing sent), -4 the model has none. */
EZCAM_API int SetBlacklevel(int level, const char* name);
/* The black level in force, and its range (-4 where the model has none). */
EZCAM_API int GetBlacklevel(const char* name);
EZCAM_API int GetBlacklevelRange(int* min, int* max, int* step, const char* name);

/* Region of interest, in pixels of the resolution's finished frame. */
/* Stores the region, brought inside the frame (read GetRoi back; the
 * camera may round it further); it applies while the state is on, sent
 * before the next frame read (whose frame it may cost). 0. */
EZCAM_API int SetRoi(int x, int y, int width, int height, const char* name);
/* The region as stored. 0. */
EZCAM_API int GetRoi(int* x, int* y, int* width, int* height, const char* name);
/* Switches the region on or off (the whole frame) for the frames that follow. 0. */
EZCAM_API int SetRoiState(bool on, const char* name);
EZCAM_API int GetRoiState(bool* on, const char* name);

/* Information memory: up to 512 bytes from address 65 on. ReadInf treats
 * `length` as the size of `buffer`: at most length - 1 bytes are read and a
 * terminator follows them (a length of 0 writes only the terminator). -2 for
 * a null buffer or a negative length; -3 when part of the memory could not
 * be written or read (the other parts still are; what a read did not
 * deliver reads as zeros). One request per 64 bytes, each waiting at most
 * 1 s for the camera. WriteInf stores `length` bytes of `buffer` (0);
 * ReadInf reads them back (0). */
EZCAM_API int WriteInf(char* buffer, int length, const char* name);
EZCAM_API int ReadInf(char* buffer, int length, const char* name);

/* Model features; -4 where the model does not offer them. The setters send
 * a request to the camera; the getters report what was set, except
 * GetTemperature, which asks the camera (a request). */
/* The sensor's edge inhibition (blooming suppression). */
EZCAM_API int SetEdgeInhibition(bool on, const char* name);
EZCAM_API int GetEdgeInhibition(bool* on, const char* name);
/* A general-purpose output line of the camera, 1 and up; -2 for another. */
EZCAM_API int SetGpio(int line, bool on, const char* name);
EZCAM_API int Gpio(int line, bool* on, const char* name);
/* The sensor's cooler, and the sensor's temperature in degrees Celsius
 * (-3 when the camera gave no reading; the value is then left alone). */
EZCAM_API int SetCooled(bool on, const char* name);
EZCAM_API int GetCooled(bool* on, const char* name);
EZCAM_API int GetTemperature(float* celsius, const char* name);
/* Sharpening and noise removal done in the camera, and their ranges. */
EZCAM_API int SetSharpness(int value, const char* name);
EZCAM_API int GetSharpness(const char* name);
EZCAM_API int GetSharpnessRange(int* min, int* max, int* step, const char* name);
EZCAM_API int SetDenoise(int value, const char* name);
EZCAM_API int GetDenoise(const char* name);
EZCAM_API int GetDenoiseRange(int* min, int* max, int* step, const char* name);
/* The camera's high-dynamic-range mode. */
EZCAM_API int SetHDR(bool on, const char* name);
EZCAM_API int GetHDR(bool* on, const char* name);
/* The bit window the camera takes its 8-bit samples from. */
EZCAM_API int SetShiftOperator(int value, const char* name);
EZCAM_API int GetShiftOperator(const char* name);
EZCAM_API int GetShiftOperatorRange(int* min, int* max, int* step, const char* name);
/* An optical filter switched by the camera (no model has one: -4). */
EZCAM_API int SetFilter(bool on, const char* name);
EZCAM_API int GetFilter(bool* on, const char* name);

/* Tone and colour of the finished image (DecodeRaw2Image); raw frames are
 * never changed. The setters build a table that the next decoded frame
 * takes over; no I/O. Neutral values: gamma 100, contrast 128, channel gain
 * 64, saturation 100, stretch 0..255. The Ex forms check the channel (0..2)
 * first: -2, and SetGammaEx does nothing, for another channel. Channel 0 is
 * red, 1 green, 2 blue. */
/* Gamma of every channel; values are brought into 1..255. */
EZCAM_API void SetGamma(int value, const char* name);
/* Channel 0's gamma and range. */
EZCAM_API int GetGamma(const char* name);
EZCAM_API int GetGammaRange(int* min, int* max, int* step, const char* name);
/* Gamma of one channel; a value outside its range is ignored. */
EZCAM_API void SetGammaEx(int value, int channel, const char* name);
EZCAM_API int GetGammaEx(int channel, const char* name);
EZCAM_API int GetGammaRangeEx(int* min, int* max, int* step, int channel, const char* name);
/* Contrast; values are brought into 0..255. */
EZCAM_API void SetContrast(int value, const char* name);
EZCAM_API int GetContrast(const char* name);
EZCAM_API int GetContrastRange(int* min, int* max, int* step, const char* name);
/* Stretches low..high to the full range, on every channel (Ex: one).
 * `automatic` stretches each frame by its histogram instead and keeps the
 * bounds. 0, or -2 when not 0 <= low < high <= 255 (the bounds stay). */
EZCAM_API int SetStretch(int low, int high, bool automatic, const char* name);
/* Channel 0's bounds and switch (Ex: the channel's); the range is 0..255. */
EZCAM_API int GetStretch(int* low, int* high, bool* automatic, const char* name);
EZCAM_API int GetStretchRange(int* min, int* max, int* step, const char* name);
EZCAM_API int SetStretchEx(int low, int high, bool automatic, int channel, const char* name);
EZCAM_API int GetStretchEx(int* low, int* high, bool* automatic, int channel, const char* name);
EZCAM_API int GetStretchRangeEx(int* min, int* max, int* step, int channel, const char* name);
/* Colour saturation (colour models; the getters give -4 on monochrome
 * ones); a value outside the range is ignored. */
EZCAM_API void SetSaturation(int value, const char* name);
EZCAM_API int GetSaturation(const char* name);
EZCAM_API int GetSaturationRange(int* min, int* max, int* step, const char* name);
/* Digital gains of channels 0, 1, 2 (colour models, -4 on others); each
 * gain outside the range is ignored, the others still apply. */
EZCAM_API void SetChannelGain(int gain0, int gain1, int gain2, const char* name);
EZCAM_API int GetChannelGain(int* gain0, int* gain1, int* gain2, const char* name);
EZCAM_API int GetChannelGainRange(int* min, int* max, int* step, const char* name);
/* A grey image from a colour camera (colour models: on others the setter
 * does nothing and the getter gives -4). */
EZCAM_API void SetMonochrome(bool on, const char* name);
EZCAM_API int GetMonochrome(bool* on, const char* name);
/* Decoding with the colour-correction matrix (colour models, as above). */
EZCAM_API void SetColorEnhancement(bool on, const char* name);
EZCAM_API int GetColorEnhancement(bool* on, const char* name);
/* Computes every finished image's histogram into its statistics area. */
EZCAM_API void SetHistogramState(bool on, const char* name);
EZCAM_API int GetHistogramState(bool* on, const char* name);

/* Geometry of the finished image: rotation (EZ_ROTATE_*), then flip
 * (EZ_FLIP_*), from the next decoded frame on. The codes are stored as
 * given; bits beyond the named ones are ignored. No I/O. */
EZCAM_API void SetFlip(int code, const char* name);
EZCAM_API int GetFlip(const char* name);
EZCAM_API void SetRotate(int code, const char* name);
EZCAM_API int GetRotate(const char* name);

/* Calibration of the finished image. */
/* Flat-field correction of decoded frames, with the reference CalcFlatfield took. */
EZCAM_API int GetFlatfieldState(bool* on, const char* name);
EZCAM_API void SetFlatfieldState(bool on, const char* name);
/* Takes the flat-field reference from a raw frame of an evenly lit scene
 * (computed in the call). 0, -2 not a raw record, -3 out of memory, -4 when
 * `flag` is true (nothing done). */
EZCAM_API int CalcFlatfield(unsigned char* raw, bool flag, const char* name);
/* Asks for a search of defect (hot) pixels: it runs in a later frame read,
 * which answers 5 (or -5 when it failed); no I/O here. */
EZCAM_API void CalcDefectCorrection(const char* name);
/* Correction of the defect pixels found, in the frame reads. 0. */
EZCAM_API int SetDefectCorrectionState(bool on, const char* name);
EZCAM_API int GetDefectCorrectionState(bool* on, const char* name);
/* Takes a black-field reference where the model has one (it does nothing
 * on the others), and its switch. */
EZCAM_API void CalcBlackField(const char* name);
EZCAM_API int SetBlackFieldState(bool on, const char* name);
EZCAM_API int GetBlackFieldState(bool* on, const char* name);

/* Calibration masters: averaged raw frames stored as FITS files in a library
 * (a directory with an index). With calibration on, every frame the camera
 * processes is corrected on its raw samples, before demosaicing, as
 * (raw - dark) / flat x mean(flat), hot pixels of the dark replaced from
 * their same-colour neighbours, with the masters that match the settings of
 * the latest frame read (the same geometry, depth, gain and black level; the
 * nearest exposure, a dark scaled by exposure time over a bias where the
 * library has one; the temperature within a tolerance). Raw frames
 * (GetRawData) are never changed. Off by default. These calls do not take
 * the camera's settings lock; they read and write the library's files. */
enum { EZ_MASTER_DARK = 0, EZ_MASTER_FLAT = 1, EZ_MASTER_BIAS = 2 };
/* Switches the correction on or off for the frames decoded from now on. 0. */
EZCAM_API int SetCalibrationState(bool on, const char* name);
EZCAM_API int GetCalibrationState(bool* on, const char* name);
/* The library's directory; null or "" the default, $XDG_DATA_HOME/ezcam/
 * calibration (~/.local/share/ezcam/calibration), or EZCAM_CALIBRATION_DIR
 * when set. 0. */
EZCAM_API int SetCalibrationLibrary(const char* directory, const char* name);
/* flat_label: the objective and filter in use; flats must carry the same
 * label (null or "": flats without one). temperature_tolerance: degrees a
 * dark or bias may lie from the sensor's temperature (2 by default). -2 for
 * a negative tolerance. */
EZCAM_API int SetCalibrationMatch(const char* flat_label, float temperature_tolerance,
                                  const char* name);
/* The text calls write at most length - 1 bytes and a terminator, and return
 * -2 (after writing what fits) when the text is longer; -2 for a null buffer
 * or a length below 1.
 * GetCalibrationLibrary: the library's directory.
 * GetCalibrationMaster: the file of the master of `kind` (EZ_MASTER_*) in use
 * for the latest frame's settings; "" when none applies or calibration is
 * off (a scaled dark uses both a dark and a bias).
 * GetCalibrationReport: the library's masters for this camera, one line
 * each, and which of them apply to the latest frame's settings and why. */
EZCAM_API int GetCalibrationLibrary(char* directory, int length, const char* name);
EZCAM_API int GetCalibrationMaster(int kind, char* path, int length, const char* name);
EZCAM_API int GetCalibrationReport(char* text, int length, const char* name);
/* Taking a master: BeginMaster, then AddMasterFrame for each raw frame
 * (GetRawDataInfo's buffer and information, all at the same settings),
 * then FinishMaster, which combines them (per-pixel mean with sigma
 * clipping, 32-bit floating point), stores the master in the library and
 * writes its path. A flat has the library's dark or bias for its settings
 * taken off and is normalised per Bayer channel; `label` names its
 * objective and filter (ignored for darks and biases).
 * Darks and biases must be taken with the lens covered. Their frames are
 * refused (EZ_ELIT) when they show light: samples at the top of the range,
 * colour channels that differ, a centre brighter than the corners, a level
 * above the library's bias or darks of the same settings at that exposure
 * or longer, or a signal above the bias without its shot noise (saturated
 * pixels); each test allows for chance and for what a covered sensor
 * shows itself.
 * BeginMaster: -2 for an unknown kind; it drops a master begun before.
 * AddMasterFrame: -2 for a buffer that is not a raw frame or a frame of
 * other settings than the first; -3 when it cannot be kept; -6 for a frame
 * of a dark or bias that shows light, and from then on for every frame of
 * that master (FinishMaster then says why).
 * FinishMaster: 0 and the master's path (-2 when the path does not fit the
 * buffer; the master is stored all the same); -2 with fewer than 2 frames or
 * nothing begun; -3 when the master cannot be made or stored (a flat: no
 * dark or bias for it); -6 for a dark or bias whose frames show light (the
 * master is dropped: begin again with the lens covered). On any failure it
 * writes one sentence saying why into `path` (cut to `length` - 1 bytes)
 * and logs it. */
EZCAM_API int BeginMaster(int kind, const char* label, const char* name);
EZCAM_API int AddMasterFrame(const unsigned char* raw, const EzFrameInfo* info, const char* name);
EZCAM_API int FinishMaster(char* path, int length, const char* name);

/* Colour profiles: a 3 x 3 matrix measured on a colour chart (ezcap
 * colour-calibrate) that turns this camera model's decoded colours (channel
 * 0 red) into linear sRGB, white balance included; kept per model and
 * profile name (the light and objective) in $EZCAM_COLOUR_DIR, else
 * $XDG_DATA_HOME/ezcam/colour (~/.local/share/ezcam/colour), as
 * MODEL/NAME.profile.
 * SaveColorProfile: stores `matrix` (row-major, 9 values within -16..16) as
 * the profile `profile` (null or "": "default") of the camera's model and
 * writes its path; -2 for a bad matrix or name (letters, digits, '.', '-',
 * '_', '+', spaces; not "off"), -3 when it cannot be written.
 * SetColorProfile: with colour enhancement on, decoding uses the profile's
 * matrix in place of the fixed colour correction; null, "" or "off" returns
 * to the fixed one. -2 when the model has no such profile.
 * GetColorProfile: the profile in use, "" for none.
 * GetColorProfiles: the names of the model's profiles, sorted, each ended
 * by a newline (text calls as above). */
EZCAM_API int SaveColorProfile(const char* profile, const double* matrix, char* path, int length,
                               const char* name);
EZCAM_API int SetColorProfile(const char* profile, const char* name);
EZCAM_API int GetColorProfile(char* profile, int length, const char* name);
EZCAM_API int GetColorProfiles(char* names, int length, const char* name);

/* Colour calibration: CalcColorProfile measures the 24-patch colour chart
 * (X-Rite's ColorChecker layout, 6 x 4 patches) inside `chart` on raw
 * frames it reads from the camera, removes the black level by a second
 * measurement at the shortest exposure, balances the white on the neutral
 * patches, fits the 3 x 3 matrix that brings the camera's colours to the
 * chart's reference (least squares, then a search lowering the mean
 * CIEDE2000), and stores it with SaveColorProfile as the profile `profile`
 * (null or "": "default"). The exposure, automatic exposure (off while it
 * measures), colour enhancement and profile in use are as before when it
 * returns: SetColorProfile switches the new profile on.
 * `chart`: the chart's rectangle in raw frame pixels (as GetRawDataInfo
 * delivers them, border included), at least 24 x 16; null: the whole frame.
 * `frames`: frames averaged at each exposure, 1 to 1000; 0: 4. The chart
 * should fill the rectangle with its white patch well lit but not clipped.
 * `progress` (may be null) is called on the calling thread after each frame
 * with the frames read and the frames it will read.
 * It reads 2 x frames + 5 frames (a lost frame is read again, up to 40
 * times): it waits for each as GetRawData does, at most 2 s plus twice the
 * exposure, and computes for up to a second. The camera must be streaming
 * (ResumeDevice) and no other thread may read its frames meanwhile.
 * 0 and `fit` filled; -1 no such camera; -2 a null `fit`, a bad profile
 * name, `frames` out of range or a rectangle outside the frame or too
 * small; -3 no frames, or the profile could not be written; -4 a monochrome
 * camera; EZ_ECHART no chart in the rectangle (its neutral row does not
 * run from white to black, or the colours do not fit); EZ_EDARK the chart
 * too dark, or the shortest exposure not below half the exposure;
 * EZ_ECLIPPED the white patch at the top of the range; EZ_EBUSY another
 * CalcColorProfile runs on the camera. On any failure `fit->why` says why
 * in one sentence (and the profile is not changed). */
typedef struct EzColorPatch {
    double reference_rgb[3];  /* the chart's reference, linear sRGB (D65) */
    double camera_rgb[3];     /* the raw mosaic's mean colour, black removed (channel 0 red) */
    double before_rgb[3];     /* the fixed colour correction's, white-balanced, linear sRGB */
    double after_rgb[3];      /* the fitted profile's, linear sRGB */
    double delta_e_before;    /* CIEDE2000 to the reference */
    double delta_e_after;
} EzColorPatch;
typedef struct EzColorFit {
    char profile[128];             /* the profile's name */
    char path[4096];               /* its file */
    __IMG_RECT chart;              /* the rectangle measured */
    double matrix[9];              /* the stored matrix, row-major (SaveColorProfile) */
    double white_gains[3];         /* gains of channels 0, 1, 2 that made the neutrals grey */
    double delta_e_mean_before;    /* CIEDE2000 over the patches, fixed correction */
    double delta_e_max_before;
    double delta_e_mean_after;     /* the same with the fitted profile */
    double delta_e_max_after;
    EzColorPatch patches[24];      /* in reading order: dark skin first, black last */
    char why[256];                 /* on failure, the reason */
} EzColorFit;
typedef void (*EzColorProgress)(int done, int total, void* user);
EZCAM_API int CalcColorProfile(const __IMG_RECT* chart, const char* profile, int frames, EzColorProgress progress,
                               void* user, EzColorFit* fit, const char* name);

/* Automatic exposure and white balance. */
/* One-shot white balance from a raw frame: sets the channel gains so that
 * `rect` (in the finished image as displayed; null: the whole frame, chosen
 * automatically) comes out grey. Computed in the call. 0, -2 a rectangle
 * with no area inside the frame or not a raw record, -3 the measurement
 * failed or memory ran out, -4 a monochrome camera. */
EZCAM_API int CalcWhiteBalance(unsigned char* frame, __IMG_RECT* rect, const char* name);
/* Automatic white balance (no model offers it: -4). */
EZCAM_API int GetWhiteBalanceState(bool* on, const char* name);
/* Automatic exposure: each frame read steps the exposure (and, at its end,
 * the gain) towards the target mean brightness. */
EZCAM_API void SetAutoExposure(bool on, const char* name);
EZCAM_API int GetAutoExposure(bool* on, const char* name);
/* The target mean (8-bit scale); a target outside the range is ignored. */
EZCAM_API void SetAETarget(int target, const char* name);
EZCAM_API int GetAETarget(const char* name);
EZCAM_API int GetAETargetRange(int* min, int* max, int* step, const char* name);

/* Fluorescence guide, for dim samples on models with long exposures (-4 on
 * the others): EZ_FLUO_BEGIN sets a long exposure and high gain and
 * searches the gain over the next frames (a frame read answers
 * EZ_FLUO_GAIN when it is done); EZ_FLUO_END derives the exposure from the
 * next frame (EZ_FLUO_EXPOSURE); EZ_FLUO_PARAMETER stores `value` (kept, no
 * effect in this release). 0; -2 for a type outside 0..2. BEGIN sends
 * several requests. */
enum { EZ_FLUO_PARAMETER = 0, EZ_FLUO_BEGIN = 1, EZ_FLUO_END = 2 };
EZCAM_API int FluorescenceGuide(int type, int value, const char* name);

/* Still capture, files and firmware. A null or empty path is refused (-2).
 * Paths are given without extension: each format adds its own. */
/* The formats (EZ_FORMAT_* bits) SaveImage writes; stored as given. */
EZCAM_API void SetImageFormat(int format, const char* name);
EZCAM_API int GetImageFormat(int* format, const char* name);
/* Asks for a still at the resolution index `resolution` (switching to it
 * for the still) and returns at once: 0, -2 for a bad index or path, 4 the
 * 16-bit depth is not offered at it. The still is written, in the formats
 * of SetImageFormat, by the DecodeRaw2Image call that finishes the first
 * frame of that resolution (on that call's thread), after which the
 * resolution in force before returns. */
EZCAM_API int SaveImage(const char* path, int resolution, const char* name);
/* Writes the frame or finished image in `buffer` now, in every format of
 * `format` (a raw frame is decoded first; EZ_FORMAT_RAW keeps it raw).
 * Encodes and writes in the call: tens of milliseconds for large frames.
 * 0, -2 bad record or path, -3 a file could not be written (the others
 * still are), -4 not an image record. */
EZCAM_API int SaveFile(unsigned char* buffer, const char* path, int format, const char* name);
/* SaveImage; the callback is kept but never called. */
EZCAM_API int SaveImageEx(const char* path, int resolution, EzSnapCallback callback, const char* name);
/* Firmware updates are not offered: -4. */
EZCAM_API int UpdateFirmware(const char* file, const char* name);

/* Parameter sets in the directory given to InitDevice. Save and Load: -2 for
 * an index outside 0..25, -3 without a usable directory or when the set could
 * not be written or read whole (a set file of another size than a set).
 * They read or write one small file; Load also sends the set's sensor
 * settings to the camera. */
/* The index of the set in use (read from the directory's current-set file). */
EZCAM_API int GetCurrentConfiguration(const char* name);
/* Stores the settings in force as set `index`; 0. */
EZCAM_API int SaveConfiguration(int index, const char* name);
/* Applies set `index`; 0. */
EZCAM_API int LoadConfiguration(int index, const char* name);
/* Resets processing (no automatic exposure, 8 bits, contrast 128, no flip,
 * colour, saturation 100, gamma 100) and the sensor's default gain, pixel
 * clock and black level (requests). 0. */
EZCAM_API int SetDefaultConfiguration(const char* name);

/* ---- Image operations that need no camera ------------------------------ *
 * They work on the buffer given, on the calling thread; any thread may call
 * them at any time (not on the same buffer at once). */

/* The colour filter array of a Bayer code (EZ_BAYER_*: GetRawBayernPattern,
 * a record's bayer, EzFrameInfo's bayer) as the colours of the filters of
 * its 2 x 2 tile, top left, top right, bottom left, bottom right: "BGGR" for
 * code 1, "GBRG" for 2, "RGGB" for 3, "GRBG" for 4 (a site the decoders call
 * red sits under a blue filter, and lands in the channel images show as
 * blue); "" for EZ_BAYER_MONO and any other code. A constant text.
 * Recordings and masters name their pattern with it. */
EZCAM_API const char* BayerPatternName(int bayer);

/* Resamples the frame in `source` into a width x height frame written to
 * `destination` (record followed by pixels at header_size). Returns 0. */
EZCAM_API int ResizeImage(unsigned char* source, unsigned char* destination, int width, int height);
/* Stores the three channel means in the record's channel_mean. 0, or -4 when
 * the buffer does not start with an image record. */
EZCAM_API int CalcAverage(unsigned char* image);
/* Grey value of the pixel at column x, row y; -1 for a bad buffer or position. */
EZCAM_API int GetPointIntensity(int x, int y, unsigned char* image);
/* Means of the four Bayer positions (red, green on red row, green on blue row,
 * blue) of a raw region, and their mean. 0, -2 bad region or depth, -4 not a
 * raw record or out of memory. */
EZCAM_API int GetImageIntensity(unsigned char* image, int x, int y, int width, int height,
                      float* mean, float* m0, float* m1, float* m2, float* m3);
/* Shifts every sample left (shift > 0, saturating) or right (shift < 0).
 * 0, -2 for a shift outside -8..8, -4 when not an image record. */
EZCAM_API int ShiftOperation(unsigned char* image, int shift);

/* ---- Simulated cameras ---------------------------------------------------- *
 * A simulated bus for tests and demonstrations (EZCAM_SIM=vendor:product,...
 * plugs cameras in at start). Plugging and unplugging raise their events
 * for the next PollDevice; any thread may call these. */

/* Plugs a simulated camera into the simulated bus and raises its arrival.
 * Pairs that a camera model drives behave as that model; any other pair is a
 * device that stalls every request. Returns the camera's id (1, 2, ... in plug
 * order), or -2 when an id is outside 0..0xffff. */
EZCAM_API int SimPlugCamera(int vendor, int product, int bcdDevice);
/* Unplugs a simulated camera and raises its removal. 0, or -1 for an id that
 * is not plugged in. The bus forgets an unplugged camera. */
EZCAM_API int SimUnplugCamera(int id);
/* The id of the simulated camera behind a registered camera name; -1 for a
 * name that is not registered or not a simulated camera. */
EZCAM_API int SimCameraId(const char* name);
/* Presses the camera's capture button: its next frame carries the capture
 * flag. 0, or -1 for an id that is not plugged in. */
EZCAM_API int SimPressCapture(int id);
/* Makes the camera's sensor physical (slower than the default noise), with
 * known properties: "on", or "key=value,..." merged into the settings in
 * force (k: DN per electron of the 12-bit converter at unity gain; read:
 * read noise, electrons; dark: dark current, electrons/s at tref degrees,
 * doubling every `doubling` degrees; dsnu: pixel offsets, electrons rms;
 * prnu: pixel responses, relative rms; well: full well, electrons; hot,
 * hotfactor: share of hot pixels and their dark-current factor; light:
 * illumination, 0 for a capped lens). "off" or null: the default noise.
 * Also set by EZCAM_SIM_SENSOR. 0, -1 for an id that is not plugged in,
 * -2 for a setting it cannot read. */
EZCAM_API int SimSetSensor(int id, const char* properties);
/* Focuses the camera's scene: `defocus` is the blur radius in pixels, 0 sharp
 * (the default). 0, -1 for an id that is not plugged in, -2 for a radius
 * outside 0..1000. */
EZCAM_API int SimSetFocus(int id, float defocus);

#ifdef __cplusplus
}
#endif

#endif /* EZCAM_H */
