#include "tools/mbcenc/MbcSequenceEncoder.h"

bool MbcSequenceEncoder::configure(const MbcEncoderSettings& settings, const std::string& pattern,
                                   bool keepReconstructions) {
    if (pattern.empty() || pattern.find_first_not_of("IPBR") != std::string::npos) return false;
    if (!encoder_.configure(settings)) return false;
    pattern_ = pattern;
    keep_ = keepReconstructions;
    patternPos_ = 0;
    next_ = 0;
    haveAnchor_ = false;
    pending_.clear();
    return true;
}

void MbcSequenceEncoder::emit(uint32_t frame, MbcFrameType type, uint32_t backward, uint32_t forward,
                              std::vector<uint8_t>& payload, const MbcPicture& recon,
                              std::vector<MbcEncodedRecord>& out) {
    MbcEncodedRecord r;
    r.frame = frame;
    r.type = type;
    r.backward = backward;
    r.forward = forward;
    r.payload = std::move(payload);
    if (keep_) {
        auto copy = std::make_shared<MbcPicture>();
        copy->copyFrom(recon);
        r.reconstruction = std::move(copy);
    }
    out.push_back(std::move(r));
}

bool MbcSequenceEncoder::codeAnchor(MbcFrameType type, const MbcPicture& source, uint32_t frame,
                                    std::vector<MbcEncodedRecord>& out) {
    std::vector<uint8_t> payload;
    MbcPicture recon;
    uint32_t backward = 0;
    if (type == MbcFrameType::Predicted) {
        backward = frame - anchorFrame_;
        if (backward > 63) type = MbcFrameType::Intra, backward = 0;  // too far back to name
    }
    if (!encoder_.encodeSource(type, source, type == MbcFrameType::Predicted ? &anchor_ : nullptr, nullptr, payload,
                               recon))
        return false;
    emit(frame, type, backward, 0, payload, recon, out);
    previousAnchor_ = std::move(anchor_);
    previousAnchorFrame_ = anchorFrame_;
    bool hadAnchor = haveAnchor_;
    anchor_ = std::move(recon);
    anchorFrame_ = frame;
    haveAnchor_ = true;
    // Frames waiting between the two anchors can now be coded.
    if (!pending_.empty()) {
        if (!hadAnchor) return false;
        for (Pending& p : pending_) {
            if (p.kind == 'R') {
                payload.clear();
                emit(p.frame, MbcFrameType::Repeat, 0, 0, payload, anchor_, out);
                out.back().reconstruction.reset();
                continue;
            }
            MbcPicture bRecon;
            if (!encoder_.encodeSource(MbcFrameType::Bidirectional, p.source, &previousAnchor_, &anchor_, payload,
                                       bRecon))
                return false;
            emit(p.frame, MbcFrameType::Bidirectional, p.frame - previousAnchorFrame_, frame - p.frame, payload, bRecon,
                 out);
        }
        pending_.clear();
    }
    return true;
}

bool MbcSequenceEncoder::addFrame(const uint8_t* bgra, ptrdiff_t stride, std::vector<MbcEncodedRecord>& out) {
    if (!bgra || pattern_.empty()) return false;
    char kind = pattern_[patternPos_];
    patternPos_ = (patternPos_ + 1) % pattern_.size();
    uint32_t frame = next_++;
    if (!haveAnchor_) kind = 'I';
    if (kind == 'R') {
        if (pending_.empty()) {
            std::vector<uint8_t> none;
            emit(frame, MbcFrameType::Repeat, 0, 0, none, anchor_, out);
            out.back().reconstruction.reset();
        } else {
            pending_.push_back({frame, 'R', MbcPicture()});
        }
        return true;
    }
    // Keep the distances within their fields: a B frame's future must be within 15 frames
    // and its past within 63.
    if (kind == 'B' && (pending_.size() >= 14 || frame - anchorFrame_ >= 48)) kind = 'P';
    MbcPicture source;
    encoder_.makeSource(bgra, stride, source);
    if (kind == 'B') {
        pending_.push_back({frame, 'B', std::move(source)});
        return true;
    }
    return codeAnchor(kind == 'I' ? MbcFrameType::Intra : MbcFrameType::Predicted, source, frame, out);
}

bool MbcSequenceEncoder::flushPending(std::vector<MbcEncodedRecord>& out) {
    std::vector<Pending> waiting = std::move(pending_);
    pending_.clear();
    for (Pending& p : waiting) {
        if (p.kind == 'R') {
            std::vector<uint8_t> none;
            emit(p.frame, MbcFrameType::Repeat, 0, 0, none, anchor_, out);
            out.back().reconstruction.reset();
        } else if (!codeAnchor(MbcFrameType::Predicted, p.source, p.frame, out)) {
            return false;
        }
    }
    return true;
}

bool MbcSequenceEncoder::finish(std::vector<MbcEncodedRecord>& out) {
    return flushPending(out);
}

bool MbcSequenceEncoder::restart(std::vector<MbcEncodedRecord>& out) {
    if (!flushPending(out)) return false;
    haveAnchor_ = false;
    patternPos_ = 0;
    return true;
}
