// The resolution and pixel-clock tables of every camera model: plain data
// shared by the model classes and the camera simulator.
#include "models/tables.h"

const ResolutionEntry VAh200C1Res[3] = {
    {0xc0, 1948, 1920000, 1200, 1600, "1592x1192"},
    {0xc1, 800, 479744, 600, 800, "792x592"},
    {0xc2, 748, 119808, 300, 400, "392x292"},
};
const ResolutionEntry VAo131C1Res[2] = {
    {0xc0, 1292, 1351680, 1024, 1280, "1272x1016"},
    {0xc1, 646, 317440, 480, 640, "632x472"},
};
const ResolutionEntry VAc500C1Res[2] = {
    {0xc6, 2180, 1249280, 960, 1280, "1272X952"},
    {0xc8, 1540, 312320, 480, 640, "632X472"},
};
const ResolutionEntry VAo300C1Res[5] = {
    {0xc0, 2559, 3211264, 1536, 2048, "2040X1528"},
    {0xc1, 1535, 802816, 768, 1024, "1016X760"},
    {0xc2, 1151, 314880, 480, 640, "632X472"},
    {0xc3, 1861, 802816, 768, 1024, "1016X760 Bin"},
    {0xc4, 1795, 314880, 480, 640, "632X472 Bin"},
};
const ResolutionEntry VAo131M1Res[1] = {
    {0xc0, 1514, 1351680, 1024, 1280, "1272x1016"},
};
const ResolutionEntry VAo500C1Res[5] = {
    {0xc0, 3492, 5121536, 1944, 2592, "2584X1936"},
    {0xc6, 2180, 1249280, 960, 1280, "1272X952"},
    {0xc8, 1540, 312320, 480, 640, "632X472"},
    {0xc9, 2832, 1249280, 960, 1280, "1272X952 Bin"},
    {0xcb, 3556, 312320, 480, 640, "632X472  Bin"},
};
const ResolutionEntry VAo1KC1Res[5] = {
    {0xc0, 3776, 10068480, 2740, 3664, "3664X2732"},
    {0xc1, 1711, 2516992, 1200, 1600, "1592X1192"},
    {0xc2, 1391, 628224, 960, 1280, "1272X952"},
    {0xc3, 911, 2516992, 600, 800, "792X592"},
    {0xc4, 751, 628224, 480, 640, "632X472"},
};
const ResolutionEntry VAh1KC1Res[3] = {
    {0xc0, 3711, 10068480, 2748, 3664, "3656X2740"},
    {0xc1, 3711, 2516992, 1370, 1832, "1824X1362"},
    {0xc4, 3138, 628224, 680, 916, "908X672"},
};
const ResolutionEntry VAo500M1Res[5] = {
    {0xc0, 3492, 5121536, 1944, 2592, "2584X1936"},
    {0xc6, 2180, 1249280, 960, 1280, "1272X952"},
    {0xc8, 1540, 312320, 480, 640, "632X472"},
    {0xc9, 2832, 1249280, 960, 1280, "1272X952 Bin"},
    {0xcb, 3556, 312320, 480, 640, "632X472  Bin"},
};
const ResolutionEntry V3h5MC1Res[5] = {
    {0xc0, 3492, 5040128, 1944, 2592, "2584X1936"},
    {0xc1, 2180, 1228800, 960, 1280, "1272X952"},
    {0xc2, 1540, 307200, 480, 640, "632X472"},
    {0xc3, 2832, 1228800, 960, 1280, "1272X952 Bin"},
    {0xc4, 3556, 307200, 480, 640, "632X472  Bin"},
};
const ResolutionEntry VSo035M1Res[4] = {
    {0xc0, 1656, 1332224, 1024, 1280, "1272X1016"},
    {0xc2, 1656, 364032, 512, 668, "660X504 Bin"},
    {0xc3, 1656, 1065984, 800, 1280, "1272X792 ROI"},
    {0xc4, 1656, 334848, 480, 656, "648X472 ROI"},
};
const ResolutionEntry VSo035C1Res[3] = {
    {0xc0, 1656, 1332224, 1024, 1280, "1272X1016"},
    {0xc2, 1656, 364032, 512, 668, "660X504 Bin"},
    {0xc1, 1656, 697344, 512, 640, "632X504 Bin*"},
};
const ResolutionEntry VS200C1Res[1] = {
    {0xc0, 2200, 2266112, 1180, 1920, "1912X1172"},
};
const ResolutionEntry VSo036C1Res[3] = {
    {0xc0, 2232, 3192832, 1536, 2048, "2040X1528"},
    {0xc1, 1116, 789504, 768, 1024, "1016X760 2x2 Bin"},
    {0xc2, 744, 353280, 512, 684, "676X504 3x3 Bin"},
};
const ResolutionEntry VDo205M1Res[3] = {
    {0x0a, 1790, 1422336, 1024, 1360, "1352X1016"},
    {0x0a, 1790, 1422336, 512, 680, "672X504 sBin"},
    {0x0a, 1790, 1422336, 256, 340, "332X248 sBin"},
};
const ResolutionEntry VDh205C1Res[1] = {
    {0x0a, 1790, 1422336, 1024, 1360, "1352X1016"},
};
const ResolutionEntry VDo285M1Res[3] = {
    {0x0a, 1790, 1422336, 1024, 1360, "1352X1016"},
    {0x0a, 1790, 1422336, 512, 680, "672X504 2x2Bin"},
    {0x0a, 1790, 1422336, 256, 340, "332X248 4x4Bin"},
};
const ResolutionEntry VDh285C1Res[2] = {
    {0x0a, 1790, 1422336, 1024, 1360, "1352X1016"},
    {0x0a, 1790, 1422336, 512, 680, "672X504 2x2Bin"},
};
const ResolutionEntry VDh674C1Res[3] = {
    {0x0a, 2336, 2903040, 1460, 1920, "1912X1452"},
    {0x0a, 2336, 2903040, 728, 960, "952X720 sBin"},
    {0x0a, 2336, 2903040, 364, 480, "472X356 sBin"},
};
const ResolutionEntry VDh674M1V1Res[3] = {
    {0x0a, 2336, 2903040, 1460, 1920, "1912X1452"},
    {0x0b, 2680, 714240, 728, 960, "952X720 Bin"},
    {0x0d, 2680, 176640, 364, 480, "472X356 Bin"},
};
const ResolutionEntry VDh674M1V0Res[3] = {
    {0x0a, 2336, 2903040, 1460, 1920, "1912X1452"},
    {0x0a, 2336, 2903040, 728, 960, "952X720 sBin"},
    {0x0a, 2336, 2903040, 364, 480, "472X356 sBin"},
};
const ResolutionEntry VDh694M1V1Res[3] = {
    {0x0a, 3184, 6041088, 2200, 2736, "2728*2192"},
    {0x0b, 3528, 1488384, 1080, 1368, "1360*1072 Bin"},
    {0x0d, 3528, 350208, 510, 684, "676*502   Bin"},
};
const ResolutionEntry VDh694C1V1Res[5] = {
    {0x0a, 3184, 6041088, 2200, 2736, "2728*2192"},
    {0x0b, 3184, 2976768, 1080, 1628, "1620*1072"},
    {0x0c, 3184, 2013696, 728, 1088, "1080*720"},
    {0x0a, 3184, 6041088, 1100, 1368, "1360*1092 Bin 2X2"},
    {0x0a, 3184, 6041088, 548, 684, "676*540   Bin 4X4"},
};
const ResolutionEntry VDh687M1V1Res[3] = {
    {0x0a, 2336, 2903040, 1460, 1920, "1912X1452"},
    {0x0b, 2680, 714240, 728, 960, "952X720 Bin"},
    {0x0d, 2680, 176640, 364, 480, "472X356 Bin"},
};
const ResolutionEntry VDh687M1Res[3] = {
    {0x0a, 2336, 2903040, 1460, 1920, "1912X1452"},
    {0x0a, 2336, 2903040, 728, 960, "952X720 sBin"},
    {0x0a, 2336, 2903040, 364, 480, "472X356 sBin"},
};
const ResolutionEntry VDo282C1Res[4] = {
    {0xc1, 2895, 5136384, 1920, 2576, "2568X1912"},
    {0xc0, 2895, 2568192, 960, 1288, "1280X952"},
    {0xc1, 2895, 5136384, 960, 1288, "1280X952 2X2Bin"},
    {0xc1, 2895, 5136384, 480, 644, "636X472  4X4Bin"},
};
const ResolutionEntry VSi400M1Res[4] = {
    {0x00, 513, 4194304, 2048, 2048, "2048x2048"},
    {0x01, 513, 1048576, 1024, 1024, "1024x1024 (2 Bin)"},
    {0x02, 513, 262144, 512, 512, "512x512 (4 Bin)"},
    {0x03, 513, 65536, 256, 256, "256x256 (8 Bin)"},
};
const PixelClockEntry VAh200C1Clk[2] = {
    {0xa0, 0, 48000, 0, "High"},
    {0xa1, 0, 24000, 0, "Normal"},
};
const PixelClockEntry VAo131C1Clk[2] = {
    {0xa0, 0, 24000, 0, "High"},
    {0xa1, 0, 12000, 0, "Normal"},
};
const PixelClockEntry VAc500C1Clk[2] = {
    {0xa0, 0, 36000, 0, "High"},
    {0xa1, 0, 18000, 0, "Normal"},
};
const PixelClockEntry VAo300C1Clk[3] = {
    {0xa0, 0, 48000, 0, "High"},
    {0xa1, 0, 24000, 0, "Normal"},
    {0xa2, 0, 12000, 0, "Low"},
};
const PixelClockEntry VAo131M1Clk[3] = {
    {0xa0, 0, 40000, 0, "High"},
    {0xa1, 0, 30000, 0, "Normal"},
    {0xa2, 0, 20000, 1, "Low"},
};
const PixelClockEntry VAo500C1V1Clk[3] = {
    {0xa0, 0, 48000, 0, "High"},
    {0xa1, 0, 24000, 0, "Normal"},
    {0xa2, 0, 12000, 0, "Low"},
};
const PixelClockEntry VAo500C1V0Clk[3] = {
    {0xa0, 0, 36000, 0, "High"},
    {0xa1, 0, 18000, 0, "Normal"},
    {0xa2, 0, 9000, 0, "Low"},
};
const PixelClockEntry VAo1KC1Clk[5] = {
    {0xa0, 0, 36000, 0, "High"},
    {0xa1, 0, 30000, 0, "Normal"},
    {0xa2, 0, 24000, 0, "Low"},
    {0xa3, 0, 18000, 0, "Lower"},
    {0xa4, 0, 12000, 0, "Lowest"},
};
const PixelClockEntry VAo500M1Clk[3] = {
    {0xa0, 0, 36000, 0, "High"},
    {0xa1, 0, 18000, 1, "Normal"},
    {0xa2, 0, 9000, 1, "Low"},
};
const PixelClockEntry V3h5MC1Clk[3] = {
    {0xa0, 0, 90000, 1, "Super"},
    {0xa1, 0, 48000, 1, "High"},
    {0xa2, 0, 24000, 1, "Normal"},
};
const PixelClockEntry VSo035M1Clk[3] = {
    {0xa0, 0, 43200, 0, "High"},
    {0xa1, 0, 21600, 1, "Normal"},
    {0xa2, 0, 10800, 1, "Low"},
};
const PixelClockEntry VSo035C1Clk[3] = {
    {0xa0, 0, 43200, 0, "High"},
    {0xa1, 0, 21600, 1, "Normal"},
    {0xa2, 0, 10800, 1, "Low"},
};
const PixelClockEntry VS200C1Clk[4] = {
    {0xa0, 0, 60000, 0, "Super"},
    {0xa1, 0, 48000, 0, "Higher"},
    {0xa2, 0, 40000, 0, "High"},
    {0xa3, 0, 30000, 0, "Normal"},
};
const PixelClockEntry VSo036C1Clk[4] = {
    {0xa0, 0, 40000, 0, "High"},
    {0xa1, 0, 32000, 0, "Normal"},
    {0xa2, 0, 24000, 0, "Low"},
    {0xa3, 0, 16000, 1, "Lower"},
};
const PixelClockEntry VDo205M1Clk[5] = {
    {0xa0, 0, 24000, 1, "High"},
    {0xa1, 0, 12000, 1, "Normal"},
    {0xa2, 0, 6000, 1, "Low"},
    {0xa3, 0, 3000, 1, "Lower"},
    {0xa4, 0, 1500, 1, "Lowest"},
};
const PixelClockEntry VDh205C1Clk[2] = {
    {0xa0, 0, 24000, 1, "High"},
    {0xa1, 0, 12000, 1, "Normal"},
};
const PixelClockEntry VDo285M1Clk[5] = {
    {0xa0, 0, 24000, 1, "High"},
    {0xa1, 0, 12000, 1, "Normal"},
    {0xa2, 0, 6000, 1, "Low"},
    {0xa3, 0, 3000, 1, "Lower"},
    {0xa4, 0, 1500, 1, "Lowest"},
};
const PixelClockEntry VDh285C1Clk[2] = {
    {0xa0, 0, 24000, 1, "High"},
    {0xa1, 0, 12000, 1, "Normal"},
};
const PixelClockEntry VDh674C1Clk[2] = {
    {0xa0, 0, 24000, 0, "High"},
    {0xa1, 0, 12000, 1, "Normal"},
};
const PixelClockEntry VDh674M1Clk2[5] = {
    {0xa0, 1, 36000, 1, "Higher"},
    {0xa1, 0, 24000, 1, "High"},
    {0xa2, 0, 12000, 1, "Normal"},
    {0xa3, 0, 6000, 1, "Low"},
    {0xa4, 0, 3000, 1, "Lower"},
};
const PixelClockEntry VDh674M1Clk[5] = {
    {0xa0, 0, 24000, 1, "High"},
    {0xa1, 0, 12000, 1, "Normal"},
    {0xa2, 0, 6000, 1, "Low"},
    {0xa3, 0, 3000, 1, "Lower"},
    {0xa4, 0, 1500, 1, "Lowest"},
};
const PixelClockEntry VDh694M1Clk[5] = {
    {0xa0, 2, 36000, 1, "Higher"},
    {0xa1, 2, 24000, 1, "High"},
    {0xa2, 0, 12000, 1, "Normal"},
    {0xa3, 0, 6000, 1, "Low"},
    {0xa4, 0, 3000, 1, "Lower"},
};
const PixelClockEntry VDh94C1Clk[2] = {
    {0xa1, 0, 24000, 1, "High"},
    {0xa2, 0, 12000, 1, "Normal"},
};
const PixelClockEntry VDh687M1Clk2[5] = {
    {0xa0, 1, 36000, 0, "Higher"},
    {0xa1, 0, 24000, 0, "High"},
    {0xa2, 0, 12000, 1, "Normal"},
    {0xa3, 0, 6000, 1, "Low"},
    {0xa4, 0, 3000, 1, "Lower"},
};
const PixelClockEntry VDh687M1Clk[5] = {
    {0xa0, 0, 24000, 0, "High"},
    {0xa1, 0, 12000, 1, "Normal"},
    {0xa2, 0, 6000, 1, "Low"},
    {0xa3, 0, 3000, 1, "Lower"},
    {0xa4, 0, 1500, 1, "Lowest"},
};
const PixelClockEntry VDo282C1Clk[3] = {
    {0xa0, 1, 30000, 0, "High"},
    {0xa1, 0, 20000, 0, "Normal"},
    {0xa2, 0, 10000, 1, "Low"},
};
const PixelClockEntry VSi400M1Clk[3] = {
    {0x00, 0, 25000, 1, "High"},
    {0x01, 0, 25000, 1, "Normal"},
    {0x02, 0, 25000, 1, "Low"},
};

namespace {
// The modes whose request names the full-sensor mode code: the device
// cannot tell them apart and sends the whole sensor, which is binned to
// the stored size (the binned size is rounded down to a multiple of 4, as
// the stored sizes are). VSo035C1's 640-wide mode arrives twice as wide;
// VDh694C1's narrower modes arrive as whole sensor rows.
//
// The readout goes with the table, not with the model or the board: every
// camera that runs one of these tables gets the whole sensor for these
// modes, whatever its release (VDh674M1's older tables on 0xb001 as on
// 0xa000, VDh694M1 and VDh694C1 on VDo285M1's), and a colour sensor is
// binned colour by colour (VDh285C1, VDh674C1, VDh694C1). VDo205M1's binned
// modes are binned 2 x 2 and 4 x 4 from its full 1360 x 1024 like its
// kin's. Described at the stored size without binning, such a frame would
// be the top of the full sensor folded into narrower rows; binned by the
// stored height instead of the full one, half the mode's height.
constexpr ModeReadout kReadouts[] = {
    {VDo205M1Res, 1, 1360, 1024, 2, 2, 0},   {VDo205M1Res, 2, 1360, 1024, 4, 4, 0},
    {VDo285M1Res, 1, 1360, 1024, 2, 2, 0},   {VDo285M1Res, 2, 1360, 1024, 4, 4, 0},
    {VDh285C1Res, 1, 1360, 1024, 2, 2, 0},
    {VDh674C1Res, 1, 1920, 1460, 2, 2, 0},   {VDh674C1Res, 2, 1920, 1460, 4, 4, 0},
    {VDh674M1V0Res, 1, 1920, 1460, 2, 2, 0}, {VDh674M1V0Res, 2, 1920, 1460, 4, 4, 0},
    {VDh687M1Res, 1, 1920, 1460, 2, 2, 0},   {VDh687M1Res, 2, 1920, 1460, 4, 4, 0},
    {VDh694C1V1Res, 1, 2736, 1080, 1, 1, 552}, {VDh694C1V1Res, 2, 2736, 728, 1, 1, 824},
    {VDh694C1V1Res, 3, 2736, 2200, 2, 2, 0}, {VDh694C1V1Res, 4, 2736, 2200, 4, 4, 0},
    {VDo282C1Res, 2, 2576, 1920, 2, 2, 0}, {VDo282C1Res, 3, 2576, 1920, 4, 4, 0},
    {VSo035C1Res, 2, 1280, 512, 2, 1, 0},
};
}  // namespace

std::span<const ModeReadout> modeReadouts() {
    return kReadouts;
}
