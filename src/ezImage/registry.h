// The registry of image formats: encoders chosen by file extension,
// decoders by the signature at the start of a file.
#pragma once

#include <memory>

#include "ezImage/grfmt_base.h"
#include "ezcam.h"

// Registers the encoders RAW, BMP, JPEG, TIFF and PNG, in that order. No
// decoder is registered. Calling it again first clears the registry.
void ezInitGrfmt();
// Destroys every registered encoder and decoder.
void exExitGrfmt();
// Adds a decoder for ezLoadImage and findDecoder to probe.
void ezAddDecoder(std::unique_ptr<BaseImageDecoder> decoder);

// The first registered encoder whose description lists the extension of
// filename (compared without regard to case); null when none does. The
// encoder belongs to the registry and lives until exExitGrfmt.
BaseImageEncoder* findEncoder(const char* filename);
// The first registered decoder that accepts the first bytes of the file; null
// when the file cannot be read or none does. Owned as findEncoder's result.
BaseImageDecoder* findDecoder(const char* filename);

// Writes image in the format named by the extension of filename. False for
// images of 2 or more than 4 channels, an unknown extension, an image the
// format cannot take, or a failed write. Safe to call from several threads.
bool ezSaveImage(const char* filename, const _ezImage* image);
// Reads a file through the matching decoder into a new image (release it
// with ezReleaseImage); null when no decoder takes the file or reading fails.
_ezImage* ezLoadImage(const char* filename);
