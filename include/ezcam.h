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

/* ---- Callbacks ----------------------------------------------------------- */

/* Hot-plug handler: called with the camera name and EZ_DEVICE_ARRIVED or
 * EZ_DEVICE_REMOVED, on the thread that calls PollDevice (or InitDevice). */
typedef void (*EzHotPlugHandler)(void* receiver, const char* name, int event);
enum { EZ_DEVICE_ARRIVED = 0, EZ_DEVICE_REMOVED = 3 };
/* Asynchronous frame request: receives the frame buffer. */
typedef void* (*EzFrameCallback)(unsigned char* frame);
/* Still delivered to a callback. */
typedef void (*EzSnapCallback)(unsigned char* image);

/* ---- Registry ------------------------------------------------------------ */

/* Starts watching the bus for supported cameras; cameras already plugged in
 * arrive before it returns. `directory` holds the parameter sets and should
 * end with '/'; an empty one keeps no parameter sets. Always 0. */
int InitDevice(EzHotPlugHandler handler, void* receiver, const char* directory);
/* Saves every camera's parameters, releases every camera and stops watching. */
void ExitDevice(void);
/* Handles pending arrivals and removals, waiting at most timeout_ms for the
 * first; the hot-plug handler runs on this thread. Returns how many. */
int PollDevice(int timeout_ms);
int DeviceCount(void);
/* The index-th camera name in ascending byte order; "" when out of range.
 * Valid while that camera stays registered. */
const char* DeviceName(int index);
/* A suspended camera gives no frames (GetRawData: -3) until it is resumed. */
int ResumeDevice(const char* name);
int SuspendDevice(const char* name);
/* 1 date, 2 version, 3 tag; other kinds return the previous text. */
const char* VersionInf(int kind);

/* ---- Named-camera call surface --------------------------------------------
 * The camera name comes last. An unregistered name gives -1 unless noted and
 * leaves out-parameters untouched. Status: 0 success, -2 out of range or
 * buffer too small, -3 transfer failure or no frame, -4 not supported,
 * 4 conflicts with the 16-bit depth. */

/* Identity and buffer sizes; unregistered name: 0. */
int DataHeadLen(const char* name);
int RecvMemSize(const char* name);
int DeviceState(const char* name);
int DeviceProduct(const char* name);
int DeviceVendor(const char* name);
int DeviceBcd(const char* name);
int USBBcd(const char* name);
int DeviceVersion(const char* name);

/* Resolution and pixel clock. GetResItemName/GetPixclkItemName: null when
 * unregistered or out of range; GetResWidth/GetResHeight: -2. */
int SetResolution(int index, const char* name);
int GetResolution(const char* name);
int GetResolutionCount(const char* name);
const char* GetResItemName(int index, const char* name);
int GetResWidth(int index, const char* name);
int GetResHeight(int index, const char* name);
int SetPixelclock(int index, const char* name);
int GetPixelclock(const char* name);
int GetPixelclockCount(const char* name);
const char* GetPixclkItemName(int index, const char* name);

/* Raw format and frames. GetRawData: 0 frame, 1 frame with the camera's
 * capture request, 5 (-5 when it failed) the frame a requested defect search
 * ran on (CalcDefectCorrection; not for display), -2 buffer below
 * RecvMemSize's need, -3 no frame (also while suspended). Calls that take a
 * frame or image buffer refuse one that does not start with an image record
 * (the signature "KVEZ" and a header_size of at least the record's size). */
int GetRawSize(int* width, int* height, const char* name);
int GetRawDepth(const char* name);
int SetRawDepth(int bits, const char* name);
int GetRawDepthState(int pixel_clock, const char* name);
int GetRawData(unsigned char* buffer, int size, const char* name);
int GetRawDataEx(EzFrameCallback callback, unsigned char* buffer, int size, const char* name);
int GetRawBayernPattern(const char* name);
int GetImageChannles(const char* name);
int DecodeRaw2Image(unsigned char* raw, unsigned char* image, const char* name);

/* Exposure (milliseconds), gain and black level. GetExposure: -1.0 when
 * unregistered; SetExposure: -2 for NaN, an infinity or a negative time. */
int GetAnaloggainRange(int* min, int* max, int* step, const char* name);
int GetAnaloggain(const char* name);
int SetAnaloggain(int gain, const char* name);
int GetExposureRange(float* min, float* max, float* step, const char* name);
float GetExposure(const char* name);
int SetExposure(float milliseconds, const char* name);
int ResetSupport(const char* name);
int ResetDevice(const char* name);
int SetBlacklevel(int level, const char* name);
int GetBlacklevel(const char* name);
int GetBlacklevelRange(int* min, int* max, int* step, const char* name);

/* Region of interest. */
int SetRoi(int x, int y, int width, int height, const char* name);
int GetRoi(int* x, int* y, int* width, int* height, const char* name);
int SetRoiState(bool on, const char* name);
int GetRoiState(bool* on, const char* name);

/* Information memory: up to 512 bytes from address 65 on. ReadInf treats
 * `length` as the size of `buffer`: at most length - 1 bytes are read and a
 * terminator follows them (a length of 0 writes only the terminator). -2 for
 * a null buffer or a negative length. */
int WriteInf(char* buffer, int length, const char* name);
int ReadInf(char* buffer, int length, const char* name);

/* Model features; -4 where the model does not offer them. */
int SetEdgeInhibition(bool on, const char* name);
int GetEdgeInhibition(bool* on, const char* name);
int SetGpio(int line, bool on, const char* name);
int Gpio(int line, bool* on, const char* name);
int SetCooled(bool on, const char* name);
int GetCooled(bool* on, const char* name);
int GetTemperature(float* celsius, const char* name);
int SetSharpness(int value, const char* name);
int GetSharpness(const char* name);
int GetSharpnessRange(int* min, int* max, int* step, const char* name);
int SetDenoise(int value, const char* name);
int GetDenoise(const char* name);
int GetDenoiseRange(int* min, int* max, int* step, const char* name);
int SetHDR(bool on, const char* name);
int GetHDR(bool* on, const char* name);
int SetShiftOperator(int value, const char* name);
int GetShiftOperator(const char* name);
int GetShiftOperatorRange(int* min, int* max, int* step, const char* name);
int SetFilter(bool on, const char* name);
int GetFilter(bool* on, const char* name);

/* Tone and colour. The Ex forms check the channel (0..2) first: -2, and
 * SetGammaEx does nothing, for another channel. */
void SetGamma(int value, const char* name);
int GetGamma(const char* name);
int GetGammaRange(int* min, int* max, int* step, const char* name);
void SetGammaEx(int value, int channel, const char* name);
int GetGammaEx(int channel, const char* name);
int GetGammaRangeEx(int* min, int* max, int* step, int channel, const char* name);
void SetContrast(int value, const char* name);
int GetContrast(const char* name);
int GetContrastRange(int* min, int* max, int* step, const char* name);
int SetStretch(int low, int high, bool automatic, const char* name);
int GetStretch(int* low, int* high, bool* automatic, const char* name);
int GetStretchRange(int* min, int* max, int* step, const char* name);
int SetStretchEx(int low, int high, bool automatic, int channel, const char* name);
int GetStretchEx(int* low, int* high, bool* automatic, int channel, const char* name);
int GetStretchRangeEx(int* min, int* max, int* step, int channel, const char* name);
void SetSaturation(int value, const char* name);
int GetSaturation(const char* name);
int GetSaturationRange(int* min, int* max, int* step, const char* name);
void SetChannelGain(int gain0, int gain1, int gain2, const char* name);
int GetChannelGain(int* gain0, int* gain1, int* gain2, const char* name);
int GetChannelGainRange(int* min, int* max, int* step, const char* name);
void SetMonochrome(bool on, const char* name);
int GetMonochrome(bool* on, const char* name);
void SetColorEnhancement(bool on, const char* name);
int GetColorEnhancement(bool* on, const char* name);
void SetHistogramState(bool on, const char* name);
int GetHistogramState(bool* on, const char* name);

/* Geometry. */
void SetFlip(int code, const char* name);
int GetFlip(const char* name);
void SetRotate(int code, const char* name);
int GetRotate(const char* name);

/* Calibration. */
int GetFlatfieldState(bool* on, const char* name);
void SetFlatfieldState(bool on, const char* name);
int CalcFlatfield(unsigned char* raw, bool flag, const char* name);
void CalcDefectCorrection(const char* name);
int SetDefectCorrectionState(bool on, const char* name);
int GetDefectCorrectionState(bool* on, const char* name);
void CalcBlackField(const char* name);
int SetBlackFieldState(bool on, const char* name);
int GetBlackFieldState(bool* on, const char* name);

/* Automatic exposure and white balance. */
int CalcWhiteBalance(unsigned char* frame, __IMG_RECT* rect, const char* name);
int GetWhiteBalanceState(bool* on, const char* name);
void SetAutoExposure(bool on, const char* name);
int GetAutoExposure(bool* on, const char* name);
void SetAETarget(int target, const char* name);
int GetAETarget(const char* name);
int GetAETargetRange(int* min, int* max, int* step, const char* name);

/* Fluorescence guide; -2 for a type outside 0..2. */
int FluorescenceGuide(int type, int value, const char* name);

/* Still capture, files and firmware. A null or empty path is refused (-2). */
void SetImageFormat(int format, const char* name);
int GetImageFormat(int* format, const char* name);
int SaveImage(const char* path, int resolution, const char* name);
int SaveFile(unsigned char* buffer, const char* path, int format, const char* name);
int SaveImageEx(const char* path, int resolution, EzSnapCallback callback, const char* name);
int UpdateFirmware(const char* file, const char* name);

/* Parameter sets in the directory given to InitDevice. Save and Load: -2 for
 * an index outside 0..25, -3 without a usable directory or when the set could
 * not be written or read whole (a set file of another size than a set). */
int GetCurrentConfiguration(const char* name);
int SaveConfiguration(int index, const char* name);
int LoadConfiguration(int index, const char* name);
int SetDefaultConfiguration(const char* name);

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
