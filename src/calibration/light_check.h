// Whether frames meant to be taken with the lens covered (darks and
// biases) show light, judged from what the host can see: samples at the top
// of the range, Bayer channels that differ, a centre brighter than the
// corners, a level above what the library's capped masters of the same
// settings allow, and a signal above the bias without the shot noise every
// real signal carries. The rules and their margins are in light_check.cpp.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "calibration/library.h"

namespace calib {

// A mean with outliers (hot pixels, cosmic rays) left out, and its standard
// error.
struct Level {
    double mean = 0;
    double error = 0;
};

// The levels of a frame or a master.
struct FrameLevels {
    int sites = 1;      // Bayer sites: 4 on a colour sensor, else 1
    Level site[4];      // the whole frame, per site ((row & 1) * 2 + (column & 1))
    Level whole;        // the mean of the sites
    bool shaded = false;  // centre and corners measured (frames of 16 x 16 and more)
    Level centre;       // the middle half in both directions, mean of the sites
    Level corners;      // the four corners (an eighth of each side), mean of the sites
    double topShare = 0;  // share of samples at the top of the range
    double noise = 0;     // noise width from neighbouring samples of one site
};

// Raw samples, rows of `width` packed, 8-bit or 16-bit in host order.
FrameLevels measureLevels(const unsigned char* samples, int width, int height, int depth, int bayer);
// A master's samples at the camera's own scale.
FrameLevels measureLevels(const std::vector<float>& samples, int width, int height, int depth,
                          int bayer);

// What the library holds of the covered sensor at a set of conditions.
struct CappedReference {
    struct Master {
        Kind kind = Kind::Dark;
        double exposureMs = 0;
        std::string file;
        Level level;
    };
    // The bias of the same settings: the sensor's offset.
    std::optional<Master> bias;
    // Darks and biases of the same settings at this exposure or longer: a
    // covered sensor is no brighter than they are, bar a warmer sensor.
    std::vector<Master> ceilings;
};
// Reads the masters that serve as references for frames taken at `at`;
// masters that cannot be read are left out.
CappedReference cappedReference(const Library& library, const Conditions& at,
                                const MatchOptions& options);

// "" when nothing shows light in `frame`; otherwise what does, as a clause
// ("the colour channels differ by ..."). `noise` is the frames' noise width
// (from frame to frame when known, else from neighbouring samples);
// `temporal` says that it is the frame-to-frame one.
std::string lightShown(const FrameLevels& frame, double noise, bool temporal, int depth,
                       const CappedReference& reference);

}  // namespace calib
