#include "media/H264Encoder.h"

#include <wels/codec_api.h>

#include <algorithm>
#include <cmath>

namespace media {

int QuantiserForQuality(int quality) {
    const int q = std::clamp(quality, 0, kH264MaxQuality);
    return 51 - (q * 44 + kH264MaxQuality / 2) / kH264MaxQuality;
}

TH264Encoder::~TH264Encoder() {
    Close();
}

void TH264Encoder::OnTrace(void* context, int level, const char* message) {
    // The first error is the specific one; OpenH264 then reports each caller failing in turn.
    // Its lines start "[OpenH264] this = 0x..., Error:".
    std::string& first = static_cast<TH264Encoder*>(context)->lastError_;
    if (level > WELS_LOG_ERROR || !message || !first.empty()) return;
    std::string text = message;
    const std::size_t tag = text.find("Error:");
    if (tag != std::string::npos) text.erase(0, tag + 6);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    first = text;
}

bool TH264Encoder::Open(const H264Settings& s, std::string& why) {
    Close();
    auto sideOk = [](int side) {
        return side >= kH264MinSide && side <= kH264MaxSide && side % 2 == 0;
    };
    if (!sideOk(s.width) || !sideOk(s.height)) {
        why = "picture size " + std::to_string(s.width) + " x " + std::to_string(s.height) +
              " is not two even sides of " + std::to_string(kH264MinSide) + " to " +
              std::to_string(kH264MaxSide) + " pixels";
        return false;
    }
    if (s.width * s.height > kH264MaxPixels) {
        why = "picture size " + std::to_string(s.width) + " x " + std::to_string(s.height) +
              " is more than " + std::to_string(kH264MaxPixels) + " pixels";
        return false;
    }
    if (!std::isfinite(s.frameRate) || s.frameRate <= 0) {
        why = "frame rate must be above 0";
        return false;
    }
    if (s.threads < 1 || s.threads > 2) {
        why = "threads must be 1 or 2";
        return false;
    }

    ISVCEncoder* enc = nullptr;
    if (WelsCreateSVCEncoder(&enc) != 0 || !enc) {
        why = "OpenH264 could not create an encoder";
        return false;
    }
    // Errors only, and to us rather than to stderr: they become Open's reason.
    lastError_.clear();
    int traceLevel = WELS_LOG_ERROR;
    WelsTraceCallback callback = &TH264Encoder::OnTrace;
    void* context = this;
    enc->SetOption(ENCODER_OPTION_TRACE_CALLBACK, &callback);
    enc->SetOption(ENCODER_OPTION_TRACE_CALLBACK_CONTEXT, &context);
    enc->SetOption(ENCODER_OPTION_TRACE_LEVEL, &traceLevel);

    SEncParamExt p;
    enc->GetDefaultParams(&p);
    p.iUsageType = SCREEN_CONTENT_REAL_TIME;
    p.iPicWidth = s.width;
    p.iPicHeight = s.height;
    p.fMaxFrameRate = s.frameRate;
    p.iRCMode = RC_OFF_MODE; // constant QP: the quality a user picks holds in every picture
    p.bEnableFrameSkip = false;
    p.uiIntraPeriod = 0; // IDRs only when the caller forces one
    p.iTemporalLayerNum = 1;
    p.iSpatialLayerNum = 1;
    p.iEntropyCodingModeFlag = 1; // CABAC
    p.eSpsPpsIdStrategy = CONSTANT_ID;
    p.bPrefixNalAddingCtrl = false;
    p.bEnableDenoise = false;
    p.bEnableBackgroundDetection = false;
    p.bEnableAdaptiveQuant = false;
    // Screen mode insists on it (and switches it back on with a warning otherwise).
    p.bEnableSceneChangeDetect = true;
    p.bEnableLongTermReference = false;
    p.bEnableFrameCroppingFlag = true;
    p.iMultipleThreadIdc = static_cast<unsigned short>(s.threads);
    // Fixed slices: OpenH264's load balancing moves slice borders by how fast each thread ran, so
    // the same pictures would give different streams from run to run.
    p.bUseLoadBalancing = false;

    SSpatialLayerConfig& layer = p.sSpatialLayers[0];
    layer.iVideoWidth = s.width;
    layer.iVideoHeight = s.height;
    layer.fFrameRate = s.frameRate;
    layer.uiProfileIdc = PRO_HIGH;
    layer.uiLevelIdc = LEVEL_UNKNOWN; // the smallest level the size and rate fit
    layer.iDLayerQp = QuantiserForQuality(s.quality);
    if (s.threads > 1) {
        // OpenH264 threads by slice: one slice per thread.
        layer.sSliceArgument.uiSliceMode = SM_FIXEDSLCNUM_SLICE;
        layer.sSliceArgument.uiSliceNum = static_cast<unsigned int>(s.threads);
    } else {
        layer.sSliceArgument.uiSliceMode = SM_SINGLE_SLICE;
        layer.sSliceArgument.uiSliceNum = 1;
    }
    layer.bVideoSignalTypePresent = true;
    layer.uiVideoFormat = VF_UNDEF;
    layer.bFullRange = false;
    layer.bColorDescriptionPresent = true;
    layer.uiColorPrimaries = CP_BT709;
    layer.uiTransferCharacteristics = TRC_BT709;
    layer.uiColorMatrix = CM_BT709;

    if (enc->InitializeExt(&p) != cmResultSuccess) {
        why = "OpenH264 refused the settings" + (lastError_.empty() ? "" : ": " + lastError_);
        WelsDestroySVCEncoder(enc);
        return false;
    }
    int format = videoFormatI420;
    if (enc->SetOption(ENCODER_OPTION_DATAFORMAT, &format) != cmResultSuccess) {
        why = "OpenH264 does not take I420 pictures";
        enc->Uninitialize();
        WelsDestroySVCEncoder(enc);
        return false;
    }
    encoder_ = enc;
    settings_ = s;
    settings_.quality = std::clamp(s.quality, 0, kH264MaxQuality);
    return true;
}

void TH264Encoder::Close() {
    if (!encoder_) return;
    encoder_->Uninitialize();
    WelsDestroySVCEncoder(encoder_);
    encoder_ = nullptr;
}

bool TH264Encoder::Encode(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v,
                          int strideY, int strideUV, std::int64_t timestampMs, bool forceIdr,
                          std::vector<std::uint8_t>& annexB, bool& isIdr) {
    annexB.clear();
    isIdr = false;
    if (!encoder_ || !y || !u || !v || strideY < settings_.width || strideUV < settings_.width / 2)
        return false;

    SSourcePicture pic{};
    pic.iColorFormat = videoFormatI420;
    pic.iPicWidth = settings_.width;
    pic.iPicHeight = settings_.height;
    pic.iStride[0] = strideY;
    pic.iStride[1] = strideUV;
    pic.iStride[2] = strideUV;
    // OpenH264 only reads the source picture; its structure is not const-correct.
    pic.pData[0] = const_cast<std::uint8_t*>(y);
    pic.pData[1] = const_cast<std::uint8_t*>(u);
    pic.pData[2] = const_cast<std::uint8_t*>(v);
    pic.uiTimeStamp = timestampMs;

    if (forceIdr && encoder_->ForceIntraFrame(true) != 0) return false;
    SFrameBSInfo info{};
    if (encoder_->EncodeFrame(&pic, &info) != cmResultSuccess) return false;
    if (info.eFrameType == videoFrameTypeSkip || info.eFrameType == videoFrameTypeInvalid)
        return false;

    std::size_t total = 0;
    for (int i = 0; i < info.iLayerNum; ++i)
        for (int n = 0; n < info.sLayerInfo[i].iNalCount; ++n)
            total += static_cast<std::size_t>(info.sLayerInfo[i].pNalLengthInByte[n]);
    annexB.reserve(total);
    for (int i = 0; i < info.iLayerNum; ++i) {
        const SLayerBSInfo& layer = info.sLayerInfo[i];
        std::size_t bytes = 0;
        for (int n = 0; n < layer.iNalCount; ++n)
            bytes += static_cast<std::size_t>(layer.pNalLengthInByte[n]);
        annexB.insert(annexB.end(), layer.pBsBuf, layer.pBsBuf + bytes);
    }
    isIdr = info.eFrameType == videoFrameTypeIDR;
    return !annexB.empty();
}

} // namespace media
