// A frame's information as bytes of its own: kept in every OME-TIFF page
// and, for the containers whose times follow the frames (SER, the FITS
// cube), in a journal beside the file while it is written, so that what a
// killed or cut recording holds can be completed again (`ezcap repair`).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ezcam.h"
#include "recording/out_file.h"

namespace recording {

// Little-endian fields of EzFrameInfo and a check sum: a record cut short
// or overwritten does not read back.
constexpr size_t kFrameRecordBytes = 128;
void encodeFrame(const EzFrameInfo& info, unsigned char* record);
bool decodeFrame(const unsigned char* record, EzFrameInfo& info);

// The journal of a recording: PATH.journal, a header and one record per
// frame, written once the frame's samples are in the file (a frame with a
// record is whole). Its header is padded, so that
// removing the journal from a full disk frees at least what completing
// the container (a time trailer, a frame table) takes.
class Journal {
  public:
    static std::string pathFor(const std::string& recording) { return recording + ".journal"; }
    bool create(const std::string& recording, std::string& error);
    bool add(const EzFrameInfo& info, std::string& error);
    // Closes and deletes it (the container holds what it held).
    void remove();
    bool isOpen() const { return file_.isOpen(); }

  private:
    OutFile file_;
    std::string path_;
    unsigned char record_[kFrameRecordBytes] = {};
};

// The records of a journal in order, up to the first that does not read
// back; false when there is no journal of that recording.
bool readJournal(const std::string& recording, std::vector<EzFrameInfo>& frames);

}  // namespace recording
