#pragma once
// Codes a sequence of pictures with a group-of-pictures pattern and hands out records in
// stored order: a Bidirectional frame follows the later anchor (Intra or Predicted) it
// predicts from, a Repeat stays right after the frame it repeats.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "splitters/MbcFrameType.h"
#include "splitters/MbcPicture.h"
#include "tools/mbcenc/MbcVideoEncoder.h"

struct MbcEncodedRecord {
    uint32_t frame = 0;  // display number from the start of the sequence
    MbcFrameType type = MbcFrameType::Intra;
    uint32_t backward = 0;  // past reference is frame - backward (Predicted, Bidirectional)
    uint32_t forward = 0;   // future reference is frame + forward (Bidirectional)
    std::vector<uint8_t> payload;
    std::shared_ptr<const MbcPicture> reconstruction;  // kept only when asked for
};

class MbcSequenceEncoder {
public:
    // pattern: one letter per display frame, repeated: I (Intra), P (Predicted),
    // B (Bidirectional), R (Repeat). A P, B or R with nothing to refer to becomes I.
    bool configure(const MbcEncoderSettings& settings, const std::string& pattern, bool keepReconstructions = false);
    uint32_t codecFlags() const { return encoder_.codecFlags(); }
    const MbcVideoEncoder& encoder() const { return encoder_; }

    // The next picture in display order (top-down BGRA); finished records are appended.
    bool addFrame(const uint8_t* bgra, ptrdiff_t stride, std::vector<MbcEncodedRecord>& out);
    // Codes what is still waiting for a future reference (as Predicted frames).
    bool finish(std::vector<MbcEncodedRecord>& out);
    // Makes the next frame an Intra frame and the pattern restart there (a chunk start:
    // nothing after it refers to anything before it). Call between frames.
    bool restart(std::vector<MbcEncodedRecord>& out);

private:
    struct Pending {
        uint32_t frame;
        char kind;  // 'B' or 'R'
        MbcPicture source;
    };
    bool codeAnchor(MbcFrameType type, const MbcPicture& source, uint32_t frame, std::vector<MbcEncodedRecord>& out);
    bool flushPending(std::vector<MbcEncodedRecord>& out);
    void emit(uint32_t frame, MbcFrameType type, uint32_t backward, uint32_t forward, std::vector<uint8_t>& payload,
              const MbcPicture& recon, std::vector<MbcEncodedRecord>& out);

    MbcVideoEncoder encoder_;
    std::string pattern_;
    bool keep_ = false;
    size_t patternPos_ = 0;
    uint32_t next_ = 0;
    bool haveAnchor_ = false;
    uint32_t anchorFrame_ = 0;
    MbcPicture anchor_, previousAnchor_;
    uint32_t previousAnchorFrame_ = 0;
    bool lastWasAnchor_ = false;
    std::vector<Pending> pending_;
    MbcPicture source_;
};
