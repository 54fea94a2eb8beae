// One camera as one INDI CCD device. All of it runs on the driver's main
// thread (indiserver's messages, the hot-plug timer, the grabber's wake-up);
// only the frame grabber reads frames on a thread of its own.
#pragma once

#include <libindi/indiccd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "camera_modes.h"
#include "frame_grabber.h"
#include "recording/recorder.h"

namespace ezindi {

class EzcamCcd : public INDI::CCD {
  public:
    // `camera` is the SDK's name of the camera, `device` the INDI device's.
    EzcamCcd(const std::string& camera, const std::string& device, std::function<void()> wake);
    ~EzcamCcd() override;

    const std::string& camera() const { return camera_; }
    // The camera was pulled out: ends what runs and removes the device from the clients.
    void removed();
    // Finished exposures, exposure progress, the temperature.
    void tick();

    // The INDI device name for the SDK's camera name "MODEL.INDEX": "ezcam MODEL INDEX"
    // (indi_getprop and indi_setprop take the dot as a separator).
    static std::string deviceName(const std::string& camera);

    bool ISNewNumber(const char* dev, const char* name, double values[], char* names[], int n) override;
    bool ISNewSwitch(const char* dev, const char* name, ISState* states, char* names[], int n) override;
    bool ISNewText(const char* dev, const char* name, char* texts[], char* names[], int n) override;

  protected:
    const char* getDefaultName() override { return "ezcam"; }
    bool initProperties() override;
    bool updateProperties() override;
    bool Connect() override;
    bool Disconnect() override;

    bool StartExposure(float duration) override;
    bool AbortExposure() override;
    bool UpdateCCDFrame(int x, int y, int w, int h) override;
    bool UpdateCCDBin(int hor, int ver) override;
    bool UpdateCCDFrameType(INDI::CCDChip::CCD_FRAME type) override;
    bool SetCaptureFormat(uint8_t index) override;
    int SetTemperature(double temperature) override;
    bool StartStreaming() override;
    bool StopStreaming() override;
    void addFITSKeywords(INDI::CCDChip* chip) override;
    bool saveConfigItems(FILE* fp) override;

  private:
    // Shows a failed SDK call as an alert with the SDK's reason; false.
    bool failed(const std::string& what, int status);
    bool checked(const std::string& what, int status);
    void finishExposure(Exposure exposure);
    void describeFrame(const Frame& frame);
    void readTemperature();
    void regulateCooler(double celsius);
    int binningFactor() const;
    uint32_t capability(bool bins) const;
    bool applyBinning(int factor);
    bool applyDepth(int bits);
    INDI_PIXEL_FORMAT pixelFormat(int bayer) const;
    // Frames flow while the video stream or the raw recording wants them.
    void startFrames();
    void onFrame(const Frame& frame);
    bool startRecording();
    void finishRecording();
    void showRecording(bool on, IPState state);

    const std::string camera_;
    const std::function<void()> wake_;
    std::unique_ptr<FrameGrabber> grabber_;

    std::vector<BinningMode> binning_;
    std::array<int, 4> taken_{};  // the region the camera took: x, y, width, height, sensor pixels
    int fullWidth_ = 0;
    int fullHeight_ = 0;
    bool colour_ = false;
    bool offersDepth16_ = false;
    bool hasGain_ = false;
    bool hasOffset_ = false;
    bool hasTemperature_ = false;
    bool hasCooler_ = false;

    // CCD_CONTROLS: the analog gain and the black level.
    INumber controlsN_[2];
    INumberVectorProperty controlsNP_;
    // CCD_COOLER, on models with a cooler.
    ISwitch coolerS_[2];
    ISwitchVectorProperty coolerSP_;
    // Temperature on models that read it without a cooler to set it.
    INumber sensorTemperatureN_[1];
    INumberVectorProperty sensorTemperatureNP_;
    double celsius_ = 0;  // the latest reading
    bool regulating_ = false;
    double target_ = 0;

    // The raw recording: every frame read, losslessly, with its facts, into
    // a file of the SDK's recording formats (EZ_RAW_RECORD, EZ_RAW_RECORD_FILE).
    ISwitch recordS_[2];
    ISwitchVectorProperty recordSP_;
    IText recordT_[2]{};
    ITextVectorProperty recordTP_;
    std::mutex recorderLock_;  // the recorder, between the grabber's thread and this one
    std::unique_ptr<recording::Recorder> recorder_;
    // The video stream, as the grabber's thread sees it.
    std::atomic<bool> videoOn_{false};
    std::atomic<int> streamWidth_{0};
    std::atomic<int> streamHeight_{0};
    std::vector<unsigned char> streamPixels_;  // the grabber's thread only

    std::chrono::steady_clock::time_point exposureStart_;
    std::chrono::steady_clock::time_point lastProgress_;
    std::chrono::steady_clock::time_point lastTemperature_;
    Frame lastFrame_;  // the frame whose FITS file is being written
    bool haveLastFrame_ = false;
};

}  // namespace ezindi
