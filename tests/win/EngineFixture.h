// EngineFixture: the engine-test fixture: an engine whose message boxes are answered by a log,
// a folder of the test's own, and the stop-and-wait that leaves no worker behind.
#pragma once

#include "EngineTestSupport.h"

#include <gtest/gtest.h>

#include <memory>

namespace enginetest {

class TEngineFixture : public ::testing::Test {
protected:
    void SetUp() override {
        cam = std::make_unique<engine::TScreenCam>();
        messages.Attach(*cam);
    }
    void TearDown() override {
        if (cam->RecordThread) {
            cam->StopRecording();
            WaitForWorker(*cam);
        }
        cam.reset();
    }
    // The catalogue index of a handler, or -1.
    int CatalogueIndex(DWORD fcc) {
        for (int i = 0; i < cam->CompressorCount; ++i)
            if (cam->Compressors[static_cast<std::size_t>(i)].fccHandler == fcc) return i;
        return -1;
    }

    std::unique_ptr<engine::TScreenCam> cam;
    TMessageLog messages;
    TTempDir dir;
};

} // namespace enginetest
