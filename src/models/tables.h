// The models' resolution and pixel-clock tables, plain data, one per model
// class (<class>Res, <class>Clk); their row types are in camera/product_row.h.
#pragma once

#include <span>

#include "camera/product_row.h"

// The models' tables, named after the model class that owns them. The array
// bounds are the entry counts (std::size gives them).
extern const ResolutionEntry VAh200C1Res[3];
extern const ResolutionEntry VAo131C1Res[2];
extern const ResolutionEntry VAc500C1Res[2];
extern const ResolutionEntry VAo300C1Res[5];
extern const ResolutionEntry VAo131M1Res[1];
extern const ResolutionEntry VAo500C1Res[5];
extern const ResolutionEntry VAo1KC1Res[5];
extern const ResolutionEntry VAh1KC1Res[3];
extern const ResolutionEntry VAo500M1Res[5];
extern const ResolutionEntry V3h5MC1Res[5];
extern const ResolutionEntry VSo035M1Res[4];
extern const ResolutionEntry VSo035C1Res[3];
extern const ResolutionEntry VS200C1Res[1];
extern const ResolutionEntry VSo036C1Res[3];
extern const ResolutionEntry VDo205M1Res[3];
extern const ResolutionEntry VDh205C1Res[1];
extern const ResolutionEntry VDo285M1Res[3];
extern const ResolutionEntry VDh285C1Res[2];
extern const ResolutionEntry VDh674C1Res[3];
extern const ResolutionEntry VDh674M1V1Res[3];
extern const ResolutionEntry VDh674M1V0Res[3];
extern const ResolutionEntry VDh694M1V1Res[3];
extern const ResolutionEntry VDh694C1V1Res[5];
extern const ResolutionEntry VDh687M1V1Res[3];
extern const ResolutionEntry VDh687M1Res[3];
extern const ResolutionEntry VDo282C1Res[4];
extern const ResolutionEntry VSi400M1Res[4];
extern const PixelClockEntry VAh200C1Clk[2];
extern const PixelClockEntry VAo131C1Clk[2];
extern const PixelClockEntry VAc500C1Clk[2];
extern const PixelClockEntry VAo300C1Clk[3];
extern const PixelClockEntry VAo131M1Clk[3];
extern const PixelClockEntry VAo500C1V1Clk[3];
extern const PixelClockEntry VAo500C1V0Clk[3];
extern const PixelClockEntry VAo1KC1Clk[5];
extern const PixelClockEntry VAo500M1Clk[3];
extern const PixelClockEntry V3h5MC1Clk[3];
extern const PixelClockEntry VSo035M1Clk[3];
extern const PixelClockEntry VSo035C1Clk[3];
extern const PixelClockEntry VS200C1Clk[4];
extern const PixelClockEntry VSo036C1Clk[4];
extern const PixelClockEntry VDo205M1Clk[5];
extern const PixelClockEntry VDh205C1Clk[2];
extern const PixelClockEntry VDo285M1Clk[5];
extern const PixelClockEntry VDh285C1Clk[2];
extern const PixelClockEntry VDh674C1Clk[2];
extern const PixelClockEntry VDh674M1Clk2[5];
extern const PixelClockEntry VDh674M1Clk[5];
extern const PixelClockEntry VDh694M1Clk[5];
extern const PixelClockEntry VDh94C1Clk[2];
extern const PixelClockEntry VDh687M1Clk2[5];
extern const PixelClockEntry VDh687M1Clk[5];
extern const PixelClockEntry VDo282C1Clk[3];
extern const PixelClockEntry VSi400M1Clk[3];

// Every mode read out at another size than its table stores.
std::span<const ModeReadout> modeReadouts();
