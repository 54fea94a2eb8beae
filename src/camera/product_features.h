// The operations a product offers that are one request or register write:
// cooler, edge inhibition, general-purpose outputs, temperature, shift
// operator and the in-camera settings (sharpness, denoise, HDR). Which a
// product has is its row's Features; one it lacks answers -4.
//
// Threads: under the camera's settings lock.
#pragma once

#include <cstdint>

#include "camera/cam_base.h"
#include "camera/product_row.h"
#include "camera/sensor_control.h"

class ProductFeatures {
  public:
    ProductFeatures(SensorControl& sensor, CamBase& ops) : sensor_(sensor), ops_(ops) {}
    ProductFeatures(const ProductFeatures&) = delete;
    ProductFeatures& operator=(const ProductFeatures&) = delete;

    // Takes the row's features and the in-camera settings' initial values.
    void adopt(const Features& features);
    const Features& offered() const { return features_; }

    int setEdgeInhibition(bool on);
    int edgeInhibition(bool* on) const;
    int setCooled(bool on);
    int cooled(bool* on) const;
    int setGpio(int pin, bool on);
    int gpio(int pin, bool* on) const;
    int temperature(float* celsius);
    int setShiftOperator(int value);
    int shiftOperator() const;
    int shiftOperatorRange(int* min, int* max, int* step) const;
    int setSharpness(int value);
    int sharpness() const;
    int sharpnessRange(int* min, int* max, int* step) const;
    int setDenoise(int value);
    int denoise() const;
    int denoiseRange(int* min, int* max, int* step) const;
    int setHdr(bool on);
    int hdr(bool* on) const;
    // The trigger query of the hardware that has one: 1 when the camera's
    // capture input fired.
    int externalSnap();

    // Request 0xb8: the switches of the cooled cameras, chosen by index.
    void sendSwitch(uint16_t value, uint16_t index);
    // Reads the 64 status bytes (request 0xb6, index 1: capture flag,
    // temperature) into reply; returns the bus status and sets *received to
    // the bytes delivered.
    int readStatus(unsigned char (&reply)[64], uint32_t* received);

    static constexpr int32_t kEdgeInhibitionOn = 17;
    int32_t edgeInhibitionState = 0;  // 17 on, 0 off; a catalogue row may set it

  private:
    SensorControl& sensor_;
    CamBase& ops_;
    Features features_{};
    uint8_t coolerOn_ = 0;
    uint8_t gpioState_[3] = {};  // the state last set on outputs 1 to 3
    int32_t shiftOperator_ = 0;
    int32_t sharpness_ = 0;  // the values last written
    int32_t denoise_ = 0;
    uint8_t hdrOn_ = 0;
};
