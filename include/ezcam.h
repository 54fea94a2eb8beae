/* ezcam.h - public C interface of the ezcam camera SDK. */
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
    EZ_ELIT = -6              /* a dark or bias master whose frames show light: cover the lens */
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

/* ---- Callbacks ----------------------------------------------------------- */

/* Hot-plug handler: called with the camera name and EZ_DEVICE_ARRIVED or
 * EZ_DEVICE_REMOVED, on the thread that calls PollDevice (or InitDevice). */
typedef void (*EzHotPlugHandler)(void* receiver, const char* name, int event);
enum { EZ_DEVICE_ARRIVED = 0, EZ_DEVICE_REMOVED = 3 };
/* Asynchronous frame request: receives the frame buffer. */
typedef void* (*EzFrameCallback)(unsigned char* frame);
/* Still delivered to a callback. */
typedef void (*EzSnapCallback)(unsigned char* image);

/* Log levels; the library logs at or above the level EZCAM_LOG names
 * (error, warn, info or debug; warn when unset). */
enum { EZ_LOG_ERROR = 0, EZ_LOG_WARN = 1, EZ_LOG_INFO = 2, EZ_LOG_DEBUG = 3 };
/* Receives one log message (no trailing newline), on the thread that logs. */
typedef void (*EzLogHandler)(void* receiver, int level, const char* message);

/* ---- Registry ------------------------------------------------------------ */

/* Starts watching the bus for supported cameras; cameras already plugged in
 * arrive before it returns. `directory` holds the parameter sets and should
 * end with '/'; an empty one keeps no parameter sets. 0, or EZ_EIO when it
 * fails inside. */
EZCAM_API int InitDevice(EzHotPlugHandler handler, void* receiver, const char* directory);
/* Saves every camera's parameters, releases every camera and stops watching. */
EZCAM_API void ExitDevice(void);
/* Handles pending arrivals and removals, waiting at most timeout_ms for the
 * first; the hot-plug handler runs on this thread. Returns how many. */
EZCAM_API int PollDevice(int timeout_ms);
EZCAM_API int DeviceCount(void);
/* The index-th camera name in ascending byte order; "" when out of range.
 * Valid while that camera stays registered. */
EZCAM_API const char* DeviceName(int index);
/* A suspended camera gives no frames (GetRawData: -3) until it is resumed. */
EZCAM_API int ResumeDevice(const char* name);
EZCAM_API int SuspendDevice(const char* name);
/* 1 date, 2 version, 3 tag; other kinds return the previous text. */
EZCAM_API const char* VersionInf(int kind);

/* The status's name, such as "EZ_ERANGE"; null for a value not named above. */
EZCAM_API const char* StatusName(int status);
/* Hands every log message to `handler` instead of standard error; a null
 * handler restores standard error. Once it returns, the previous handler is
 * no longer called. */
EZCAM_API void SetLogHandler(EzLogHandler handler, void* receiver);

/* ---- Named-camera call surface --------------------------------------------
 * The camera name comes last. An unregistered name gives EZ_ENOCAM (-1)
 * unless noted and leaves out-parameters untouched. The other results are the
 * status values above. */

/* Identity and buffer sizes; unregistered name: 0. */
EZCAM_API int DataHeadLen(const char* name);
EZCAM_API int RecvMemSize(const char* name);
EZCAM_API int DeviceState(const char* name);
EZCAM_API int DeviceProduct(const char* name);
EZCAM_API int DeviceVendor(const char* name);
EZCAM_API int DeviceBcd(const char* name);
EZCAM_API int USBBcd(const char* name);
EZCAM_API int DeviceVersion(const char* name);

/* Resolution and pixel clock. GetResItemName/GetPixclkItemName: null when
 * unregistered or out of range; GetResWidth/GetResHeight: -2. */
EZCAM_API int SetResolution(int index, const char* name);
EZCAM_API int GetResolution(const char* name);
EZCAM_API int GetResolutionCount(const char* name);
EZCAM_API const char* GetResItemName(int index, const char* name);
EZCAM_API int GetResWidth(int index, const char* name);
EZCAM_API int GetResHeight(int index, const char* name);
EZCAM_API int SetPixelclock(int index, const char* name);
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
EZCAM_API int GetRawSize(int* width, int* height, const char* name);
EZCAM_API int GetRawDepth(const char* name);
EZCAM_API int SetRawDepth(int bits, const char* name);
EZCAM_API int GetRawDepthState(int pixel_clock, const char* name);
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
    int32_t analog_gain;
    int32_t black_level;
    int32_t pixel_clock;     /* pixel-clock index (GetPixclkItemName names it) */
    int32_t resolution;      /* resolution index the frame was asked in */
    int32_t width;           /* the frame as delivered */
    int32_t height;
    int32_t roi_x;           /* its origin in the resolution's whole frame */
    int32_t roi_y;
    int32_t x_binning;       /* sensor pixels per frame pixel along a row and a */
    int32_t y_binning;       /* column: 1 unbinned; 0 a binned mode of unstated factor */
    int32_t depth;           /* bits per sample: 8 or 16 */
    int32_t bayer;           /* Bayer code of the frame's first sample; 0 monochrome */
} EzFrameInfo;
/* GetRawData that also fills `info` (when not null): completely for a frame
 * (0 or 1); on -3 only frames_lost and mode_drops are brought up to date;
 * on any other result it is left alone. */
EZCAM_API int GetRawDataInfo(unsigned char* buffer, int size, EzFrameInfo* info, const char* name);
EZCAM_API int GetRawDataEx(EzFrameCallback callback, unsigned char* buffer, int size, const char* name);
EZCAM_API int GetRawBayernPattern(const char* name);
EZCAM_API int GetImageChannles(const char* name);
EZCAM_API int DecodeRaw2Image(unsigned char* raw, unsigned char* image, const char* name);

/* Exposure (milliseconds), gain and black level. GetExposure: -1.0 when
 * unregistered; SetExposure: -2 for NaN, an infinity or a negative time. */
EZCAM_API int GetAnaloggainRange(int* min, int* max, int* step, const char* name);
EZCAM_API int GetAnaloggain(const char* name);
EZCAM_API int SetAnaloggain(int gain, const char* name);
EZCAM_API int GetExposureRange(float* min, float* max, float* step, const char* name);
EZCAM_API float GetExposure(const char* name);
EZCAM_API int SetExposure(float milliseconds, const char* name);
EZCAM_API int ResetSupport(const char* name);
EZCAM_API int ResetDevice(const char* name);
EZCAM_API int SetBlacklevel(int level, const char* name);
EZCAM_API int GetBlacklevel(const char* name);
EZCAM_API int GetBlacklevelRange(int* min, int* max, int* step, const char* name);

/* Region of interest. */
EZCAM_API int SetRoi(int x, int y, int width, int height, const char* name);
EZCAM_API int GetRoi(int* x, int* y, int* width, int* height, const char* name);
EZCAM_API int SetRoiState(bool on, const char* name);
EZCAM_API int GetRoiState(bool* on, const char* name);

/* Information memory: up to 512 bytes from address 65 on. ReadInf treats
 * `length` as the size of `buffer`: at most length - 1 bytes are read and a
 * terminator follows them (a length of 0 writes only the terminator). -2 for
 * a null buffer or a negative length; -3 when part of the memory could not
 * be written or read (the other parts still are; what a read did not
 * deliver reads as zeros). */
EZCAM_API int WriteInf(char* buffer, int length, const char* name);
EZCAM_API int ReadInf(char* buffer, int length, const char* name);

/* Model features; -4 where the model does not offer them. */
EZCAM_API int SetEdgeInhibition(bool on, const char* name);
EZCAM_API int GetEdgeInhibition(bool* on, const char* name);
EZCAM_API int SetGpio(int line, bool on, const char* name);
EZCAM_API int Gpio(int line, bool* on, const char* name);
EZCAM_API int SetCooled(bool on, const char* name);
EZCAM_API int GetCooled(bool* on, const char* name);
EZCAM_API int GetTemperature(float* celsius, const char* name);
EZCAM_API int SetSharpness(int value, const char* name);
EZCAM_API int GetSharpness(const char* name);
EZCAM_API int GetSharpnessRange(int* min, int* max, int* step, const char* name);
EZCAM_API int SetDenoise(int value, const char* name);
EZCAM_API int GetDenoise(const char* name);
EZCAM_API int GetDenoiseRange(int* min, int* max, int* step, const char* name);
EZCAM_API int SetHDR(bool on, const char* name);
EZCAM_API int GetHDR(bool* on, const char* name);
EZCAM_API int SetShiftOperator(int value, const char* name);
EZCAM_API int GetShiftOperator(const char* name);
EZCAM_API int GetShiftOperatorRange(int* min, int* max, int* step, const char* name);
EZCAM_API int SetFilter(bool on, const char* name);
EZCAM_API int GetFilter(bool* on, const char* name);

/* Tone and colour. The Ex forms check the channel (0..2) first: -2, and
 * SetGammaEx does nothing, for another channel. */
EZCAM_API void SetGamma(int value, const char* name);
EZCAM_API int GetGamma(const char* name);
EZCAM_API int GetGammaRange(int* min, int* max, int* step, const char* name);
EZCAM_API void SetGammaEx(int value, int channel, const char* name);
EZCAM_API int GetGammaEx(int channel, const char* name);
EZCAM_API int GetGammaRangeEx(int* min, int* max, int* step, int channel, const char* name);
EZCAM_API void SetContrast(int value, const char* name);
EZCAM_API int GetContrast(const char* name);
EZCAM_API int GetContrastRange(int* min, int* max, int* step, const char* name);
EZCAM_API int SetStretch(int low, int high, bool automatic, const char* name);
EZCAM_API int GetStretch(int* low, int* high, bool* automatic, const char* name);
EZCAM_API int GetStretchRange(int* min, int* max, int* step, const char* name);
EZCAM_API int SetStretchEx(int low, int high, bool automatic, int channel, const char* name);
EZCAM_API int GetStretchEx(int* low, int* high, bool* automatic, int channel, const char* name);
EZCAM_API int GetStretchRangeEx(int* min, int* max, int* step, int channel, const char* name);
EZCAM_API void SetSaturation(int value, const char* name);
EZCAM_API int GetSaturation(const char* name);
EZCAM_API int GetSaturationRange(int* min, int* max, int* step, const char* name);
EZCAM_API void SetChannelGain(int gain0, int gain1, int gain2, const char* name);
EZCAM_API int GetChannelGain(int* gain0, int* gain1, int* gain2, const char* name);
EZCAM_API int GetChannelGainRange(int* min, int* max, int* step, const char* name);
EZCAM_API void SetMonochrome(bool on, const char* name);
EZCAM_API int GetMonochrome(bool* on, const char* name);
EZCAM_API void SetColorEnhancement(bool on, const char* name);
EZCAM_API int GetColorEnhancement(bool* on, const char* name);
EZCAM_API void SetHistogramState(bool on, const char* name);
EZCAM_API int GetHistogramState(bool* on, const char* name);

/* Geometry. */
EZCAM_API void SetFlip(int code, const char* name);
EZCAM_API int GetFlip(const char* name);
EZCAM_API void SetRotate(int code, const char* name);
EZCAM_API int GetRotate(const char* name);

/* Calibration. */
EZCAM_API int GetFlatfieldState(bool* on, const char* name);
EZCAM_API void SetFlatfieldState(bool on, const char* name);
EZCAM_API int CalcFlatfield(unsigned char* raw, bool flag, const char* name);
EZCAM_API void CalcDefectCorrection(const char* name);
EZCAM_API int SetDefectCorrectionState(bool on, const char* name);
EZCAM_API int GetDefectCorrectionState(bool* on, const char* name);
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
 * (GetRawData) are never changed. Off by default. */
enum { EZ_MASTER_DARK = 0, EZ_MASTER_FLAT = 1, EZ_MASTER_BIAS = 2 };
EZCAM_API int SetCalibrationState(bool on, const char* name);
EZCAM_API int GetCalibrationState(bool* on, const char* name);
/* The library's directory; null or "" the default, $XDG_DATA_HOME/ezcam/
 * calibration (~/.local/share/ezcam/calibration), or EZCAM_CALIBRATION_DIR
 * when set. */
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

/* Automatic exposure and white balance. */
EZCAM_API int CalcWhiteBalance(unsigned char* frame, __IMG_RECT* rect, const char* name);
EZCAM_API int GetWhiteBalanceState(bool* on, const char* name);
EZCAM_API void SetAutoExposure(bool on, const char* name);
EZCAM_API int GetAutoExposure(bool* on, const char* name);
EZCAM_API void SetAETarget(int target, const char* name);
EZCAM_API int GetAETarget(const char* name);
EZCAM_API int GetAETargetRange(int* min, int* max, int* step, const char* name);

/* Fluorescence guide; -2 for a type outside 0..2. */
EZCAM_API int FluorescenceGuide(int type, int value, const char* name);

/* Still capture, files and firmware. A null or empty path is refused (-2). */
EZCAM_API void SetImageFormat(int format, const char* name);
EZCAM_API int GetImageFormat(int* format, const char* name);
EZCAM_API int SaveImage(const char* path, int resolution, const char* name);
EZCAM_API int SaveFile(unsigned char* buffer, const char* path, int format, const char* name);
EZCAM_API int SaveImageEx(const char* path, int resolution, EzSnapCallback callback, const char* name);
EZCAM_API int UpdateFirmware(const char* file, const char* name);

/* Parameter sets in the directory given to InitDevice. Save and Load: -2 for
 * an index outside 0..25, -3 without a usable directory or when the set could
 * not be written or read whole (a set file of another size than a set). */
EZCAM_API int GetCurrentConfiguration(const char* name);
EZCAM_API int SaveConfiguration(int index, const char* name);
EZCAM_API int LoadConfiguration(int index, const char* name);
EZCAM_API int SetDefaultConfiguration(const char* name);

/* ---- Image operations that need no camera ------------------------------ */

/* The colour filter array of a Bayer code (GetRawBayernPattern, a record's
 * bayer, EzFrameInfo's bayer) as the colours of the filters of its 2 x 2
 * tile, top left, top right, bottom left, bottom right: "BGGR" for code 1,
 * "GBRG" for 2, "RGGB" for 3, "GRBG" for 4 (a site the codes call red sits
 * under a blue filter, and lands in the channel images show as blue); ""
 * for 0 (monochrome) and any other code. Recordings and masters name their
 * pattern with it. */
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

/* ---- Simulated cameras ---------------------------------------------------- */

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
