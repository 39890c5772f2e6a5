#include "core/KeptOptions.h"

#include "core/Text.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>

using namespace core;

TEST(KeptOptions, EachUnreadableValueFallsBackAloneAndTheOthersStand) {
    const KeptOptions defaults{.compressor = L"",
                               .compressorName = L"",
                               .quality = 6550,
                               .keyFrameRate = 5,
                               .captureInterval = 100,
                               .playbackRate = 10,
                               .drawCursor = true};
    std::map<std::wstring, std::wstring> file{
        {L"Compressor", L"TOOLONG"}, {L"CompressorName", L"X"},  {L"Quality", L"10001"},
        {L"KeyFrameRate", L"-3"},    {L"CaptureInterval", L"0"}, {L"PlaybackRate", L"50"},
        {L"DrawCursor", L"yes"},     {L"ShowClicks", L"1"},      {L"Microphone", L"2"},
        {L"SystemSound", L"1"},      {L"MicrophoneDevice", L"USB マイク"}};
    KeptOptions expected = defaults;
    expected.keyFrameRate = -3;
    expected.playbackRate = 50;
    expected.showClicks = true;
    expected.systemSound = true;
    expected.microphoneDevice = L"USB マイク";
    EXPECT_EQ(
        KeptOptionTexts(ReadKeptOptions([&](const std::wstring& k) { return file[k]; }, defaults)),
        KeptOptionTexts(expected));
}

TEST(KeptOptions, AMissingCompressorKeyKeepsTheDefaultAndAnEmptyOneIsNoCompression) {
    const KeptOptions defaults{.compressor = L"MSVC", .compressorName = L"Microsoft Video 1"};
    auto compressorRead = [&](std::optional<std::wstring> stored) {
        auto text = [&](const std::wstring& k) {
            return k == L"Compressor" ? stored : std::nullopt;
        };
        return ReadKeptOptions(text, defaults).compressor;
    };
    EXPECT_EQ(compressorRead(std::nullopt), L"MSVC"); // a section written by hand without it
    EXPECT_EQ(compressorRead(L""), L"");
}

TEST(KeptOptions, ACompressorIsFoundByItsCodeAndAmongEntriesOfOneCodeByItsName) {
    const std::vector<CatalogueEntry> catalogue{{FourCC("MSVC"), L"Microsoft Video 1"},
                                                {FourCC("DIB "), L"Full frames"},
                                                {FourCC("H264"), L"x264vfw"},
                                                {FourCC("H264"), L"H.264 (MP4)"}};
    auto index = [&](const std::wstring& code, const wchar_t* name) {
        return KeptCompressorIndex({.compressor = code, .compressorName = name}, catalogue, 7);
    };
    EXPECT_EQ(index(L"msvc", L"renamed since"), 0);
    EXPECT_EQ(index(FourCCText(FourCC("DIB ")), L""), 1);
    EXPECT_EQ(index(L"H264", L"H.264 (MP4)"), 3);
    EXPECT_EQ(index(L"H264", L"x264vfw"), 2);
    EXPECT_EQ(index(L"IV50", L"Indeo 5"), 7); // no longer installed: the default
    EXPECT_EQ(index(L"", L""), -1);           // No Compression
}
