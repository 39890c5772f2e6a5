// The writer's files read back by Debian's ffprobe and ffmpeg, with a real H.264 stream made by
// ffmpeg's libx264 and a tone through our AAC encoder. (The program's own files play in chromium
// in the end-to-end test.)
#include "media/AacTrack.h"
#include "media/Mp4Recovery.h"
#include "media/Mp4Writer.h"
#include "tests/common/Mp4Testing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

using namespace media;
using namespace testing_mp4;
namespace fs = std::filesystem;

namespace {

constexpr int kFrames = 30;
constexpr int kRate = 10;
constexpr int kWidth = 322, kHeight = 224;

struct TRun {
    int status = -1;
    std::string out, err;
};

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Runs a shell command; what it prints on each stream is kept apart.
TRun Shell(const std::string& command, const fs::path& dir) {
    const fs::path out = dir / "run.out", err = dir / "run.err";
    TRun run;
    run.status =
        std::system((command + " >'" + out.string() + "' 2>'" + err.string() + "'").c_str());
    run.out = ReadText(out);
    run.err = ReadText(err);
    return run;
}

void Save(const fs::path& path, const TBytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

// The access units of an Annex B stream: a new one begins with a delimiter, SEI or parameter set
// after a slice, or with a slice whose first macroblock is 0.
std::vector<std::vector<TBytesView>> AccessUnits(TBytesView stream) {
    std::vector<std::vector<TBytesView>> units;
    bool slice = false;
    for (const TBytesView nal : SplitAnnexB(stream)) {
        const int type = NalType(nal);
        const bool isSlice = type == 1 || type == 5;
        const bool starts =
            (type >= 6 && type <= 9) || (isSlice && nal.size() > 1 && (nal[1] & 0x80));
        if (units.empty() || (starts && slice)) {
            units.emplace_back();
            slice = false;
        }
        units.back().push_back(nal);
        slice = slice || isSlice;
    }
    return units;
}

// Begins a file of the stream with the parameter sets of its first access unit.
bool Begin(TMp4Writer& writer, const std::vector<std::vector<TBytesView>>& units) {
    TBytesView sps, pps;
    for (const TBytesView nal : units.at(0)) {
        if (NalType(nal) == 7) sps = nal;
        if (NalType(nal) == 8) pps = nal;
    }
    return writer.Begin(kWidth, kHeight, kRate, sps, pps);
}

// Positions skip twice, as a paused or slow grab leaves them: 0..6, 10..20, 23..
std::uint64_t TickOf(int frame) {
    return static_cast<std::uint64_t>(frame + (frame >= 7 ? 3 : 0) + (frame >= 18 ? 2 : 0));
}

class Mp4PlaybackTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        char name[] = "/tmp/quarnelby-mp4-XXXXXX";
        if (!mkdtemp(name)) return;
        dir_ = name;
        const TRun encoders = Shell("ffmpeg -hide_banner -encoders", dir_);
        if (encoders.out.find("libx264") == std::string::npos) {
            skip_ = "ffmpeg with libx264 is not installed (scripts/setup installs ffmpeg)";
            return;
        }
        // No B-frames, as from our encoder; no colours in the stream, so that those ffprobe
        // reports come from the file's colr box.
        const TRun made =
            Shell("ffmpeg -v error -f lavfi -i testsrc=size=322x224:rate=10 -frames:v 30 "
                  "-pix_fmt yuv420p -c:v libx264 -g 10 -bf 0 -bsf:v h264_mp4toannexb "
                  "-f h264 '" +
                      (dir_ / "source.h264").string() + "'",
                  dir_);
        if (made.status != 0) {
            skip_ = "ffmpeg could not encode the test stream: " + made.err;
            return;
        }
        const std::string text = ReadText(dir_ / "source.h264");
        stream_.assign(text.begin(), text.end());
        // The decoded pictures' hashes, to compare with what the files decode to.
        sourceHashes_ = Hashes(dir_ / "source.h264");
    }
    static void TearDownTestSuite() {
        std::error_code ignored;
        if (!dir_.empty()) fs::remove_all(dir_, ignored);
    }
    void SetUp() override {
        if (!skip_.empty()) GTEST_SKIP() << skip_;
        ASSERT_FALSE(dir_.empty());
    }

    // The picture hashes of every frame ffmpeg decodes from a file.
    static std::vector<std::string> Hashes(const fs::path& file) {
        const TRun run =
            Shell("ffmpeg -v error -i '" + file.string() + "' -map 0:v -f framemd5 -", dir_);
        std::vector<std::string> hashes;
        std::istringstream in(run.out);
        for (std::string line; std::getline(in, line);)
            if (!line.empty() && line[0] != '#') hashes.push_back(line.substr(line.rfind(',') + 2));
        return hashes;
    }

    // Writes the stream and finishes the file as the program does, flushing once a sample starts
    // a new second; `regular`: made a regular file too. A finished file that only the writer
    // finished is a fragmented one.
    static TMemoryFile Record(bool regular = true) {
        const auto units = AccessUnits(stream_);
        EXPECT_EQ(units.size(), static_cast<std::size_t>(kFrames));
        TMemoryFile file;
        TMp4Writer writer(file);
        EXPECT_TRUE(Begin(writer, units));
        for (int i = 0; i < kFrames && i < static_cast<int>(units.size()); ++i) {
            bool key = false;
            for (const TBytesView nal : units[i])
                key = key || NalType(nal) == 5;
            EXPECT_TRUE(writer.AddSample(units[i], TickOf(i), key));
            if (i > 0 && TickOf(i) / kRate != TickOf(i - 1) / kRate) {
                EXPECT_TRUE(writer.Flush());
            }
        }
        EXPECT_TRUE(writer.Finish());
        if (regular) {
            EXPECT_EQ(FinishMp4(file).outcome, RecoveryOutcome::Rebuilt);
        }
        return file;
    }

    // Record with a tone of kToneAmplitude at kToneHz beside the pictures, lasting as long as
    // they do (3.5 s), handed over as a recording would: after each picture the sound up to its
    // end, in two pieces of odd sizes.
    static TMemoryFile RecordWithSound(bool regular) {
        const auto units = AccessUnits(stream_);
        TMemoryFile file;
        TMp4Writer writer(file);
        TAacTrack sound(writer);
        std::string why;
        EXPECT_TRUE(sound.Open(why)) << why;
        EXPECT_TRUE(Begin(writer, units));
        const std::uint64_t perTick = kAacSampleRate / kRate;
        std::vector<std::int16_t> tone;
        for (std::uint64_t n = 0; n < (TickOf(kFrames - 1) + 1) * perTick; ++n) {
            const double v = kToneAmplitude * std::sin(2 * M_PI * kToneHz * n / kAacSampleRate);
            tone.insert(tone.end(), 2, static_cast<std::int16_t>(std::lround(v)));
        }
        for (int i = 0; i < kFrames && i < static_cast<int>(units.size()); ++i) {
            bool key = false;
            for (const TBytesView nal : units[i])
                key = key || NalType(nal) == 5;
            EXPECT_TRUE(writer.AddSample(units[i], TickOf(i), key));
            const std::uint64_t end = (TickOf(i) + 1) * perTick,
                                piece = (end - sound.Samples()) / 3;
            for (const std::uint64_t upTo : {sound.Samples() + piece, end})
                EXPECT_TRUE(sound.Add(&tone[2 * sound.Samples()], upTo - sound.Samples()));
            if (i > 0 && TickOf(i) / kRate != TickOf(i - 1) / kRate) {
                EXPECT_TRUE(writer.Flush());
            }
        }
        EXPECT_TRUE(sound.Finish());
        EXPECT_TRUE(writer.Finish());
        if (regular) {
            EXPECT_EQ(FinishMp4(file).outcome, RecoveryOutcome::Rebuilt);
        }
        return file;
    }

    // The left channel of a file's sound as ffmpeg decodes it; `options` go before the input.
    static std::vector<double> DecodeSound(const fs::path& file, const std::string& options = "") {
        const TRun run = Shell("ffmpeg -v error " + options + " -i '" + file.string() +
                                   "' -map 0:a -f s16le -acodec pcm_s16le -",
                               dir_);
        EXPECT_EQ(run.err, "");
        std::vector<double> left;
        for (std::size_t at = 0; at + 4 <= run.out.size(); at += 4)
            left.push_back(
                static_cast<std::int16_t>(static_cast<std::uint8_t>(run.out[at]) |
                                          static_cast<std::uint8_t>(run.out[at + 1]) << 8));
        return left;
    }

    static constexpr double kToneHz = 1000, kToneAmplitude = 8192; // -12 dB of full scale

    static inline fs::path dir_;
    static inline std::string skip_;
    static inline TBytes stream_;
    static inline std::vector<std::string> sourceHashes_;
};

} // namespace

// What ffprobe reports of a file's video stream, in its order, and then of the file.
TRun Probe(const fs::path& file, const fs::path& dir) {
    return Shell("ffprobe -v error -count_frames -show_entries stream=codec_name,r_frame_rate,"
                 "time_base,duration,nb_read_frames,color_space,color_primaries,color_transfer,"
                 "color_range:format=duration -of default=nw=1 '" +
                     file.string() + "'",
                 dir);
}

// The types of the boxes at the top of a file, in their order.
std::string TopLevelBoxes(const TBytes& b) {
    std::string types;
    for (std::uint64_t at = 0; at + 8 <= b.size();) {
        const std::uint64_t size =
            std::uint64_t{b[at]} << 24 | b[at + 1] << 16 | b[at + 2] << 8 | b[at + 3];
        types += (types.empty() ? "" : " ") + std::string(b.begin() + at + 4, b.begin() + at + 8);
        if (size < 8) break;
        at += size;
    }
    return types;
}

TEST_F(Mp4PlaybackTest, FfmpegPlaysAFinishedFileAtItsRateDurationAndColours) {
    const fs::path file = dir_ / "finished.mp4";
    const TBytes bytes = Record().bytes;
    Save(file, bytes);
    // A regular file: its fragments' boxes are free space, the moov with the tables comes last.
    EXPECT_EQ(TopLevelBoxes(bytes), "ftyp free free mdat free mdat free mdat free mdat moov");
    const TRun probe = Probe(file, dir_);
    EXPECT_EQ(probe.err, "");
    // 30 frames; the last, at position 34, lasts one: 3.5 s at 10 a second, for the stream and
    // the file.
    EXPECT_EQ(probe.out, "codec_name=h264\ncolor_range=tv\ncolor_space=bt709\n"
                         "color_transfer=bt709\ncolor_primaries=bt709\nr_frame_rate=10/1\n"
                         "time_base=1/10\nduration=3.500000\nnb_read_frames=30\n"
                         "duration=3.500000\n");
    // The stream names no colours itself: those come from the file.
    EXPECT_EQ(Shell("ffprobe -v error -show_entries stream=color_primaries -of default=nw=1 '" +
                        (dir_ / "source.h264").string() + "'",
                    dir_)
                  .out,
              "color_primaries=unknown\n");

    const TRun decode = Shell("ffmpeg -v error -i '" + file.string() + "' -f null -", dir_);
    EXPECT_EQ(decode.status, 0);
    EXPECT_EQ(decode.err, "");
    ASSERT_EQ(sourceHashes_.size(), static_cast<std::size_t>(kFrames));
    EXPECT_EQ(Hashes(file), sourceHashes_);
}

// Whatever write of the finishing the program ended at, the file plays from its start: wholly
// until the fragments' boxes are turned into free space, then up to the first fragment turned.
TEST_F(Mp4PlaybackTest, FfmpegPlaysAFileWhoseFinishingStoppedAnywhere) {
    const TMemoryFile fragmented = Record(false);
    TMemoryFile whole(fragmented.bytes);
    ASSERT_EQ(FinishMp4(whole).outcome, RecoveryOutcome::Rebuilt);
    std::size_t shortest = sourceHashes_.size();
    for (int n = 0; n < whole.writes; ++n) {
        SCOPED_TRACE(n);
        TMemoryFile file(fragmented.bytes);
        file.writesLeft = n;
        FinishMp4(file);
        const fs::path path = dir_ / "stopped.mp4";
        Save(path, file.bytes);
        const TRun decode = Shell("ffmpeg -v error -i '" + path.string() + "' -f null -", dir_);
        EXPECT_EQ(decode.err, "");
        const std::vector<std::string> hashes = Hashes(path);
        ASSERT_FALSE(hashes.empty());
        ASSERT_LE(hashes.size(), sourceHashes_.size());
        EXPECT_TRUE(std::equal(hashes.begin(), hashes.end(), sourceHashes_.begin()));
        shortest = std::min(shortest, hashes.size());
    }
    EXPECT_LT(shortest, sourceHashes_.size()); // the steps were taken
}

// The tables of a long regular file, as ffprobe reads them packet by packet: every sample's size,
// time and key flag, through skipped positions and a change of pace.
TEST_F(Mp4PlaybackTest, FfprobeReadsEverySampleOfALongFileFromTheTables) {
    const auto units = AccessUnits(stream_);
    TMemoryFile file;
    TMp4Writer writer(file);
    ASSERT_TRUE(Begin(writer, units));
    std::string expected;
    std::uint64_t tick = 0;
    for (int i = 0; i < 3000; ++i) {
        const auto& unit = units[static_cast<std::size_t>(i) % units.size()];
        // Stored with 4-byte lengths, without the parameter sets that avcC holds.
        bool key = false;
        std::size_t size = 0;
        for (const TBytesView nal : unit) {
            key = key || NalType(nal) == 5;
            if (NalType(nal) < 7) size += 4 + nal.size();
        }
        ASSERT_TRUE(writer.AddSample(unit, tick, key));
        expected += "pts=" + std::to_string(tick) + "\nsize=" + std::to_string(size) +
                    "\nflags=" + (key ? "K_" : "__") + "\n";
        if (i % 10 == 9) {
            ASSERT_TRUE(i % 30 == 29 ? writer.FlushAll() : writer.Flush());
        }
        // Runs of one position, a pause's skip, then two positions a frame for a while.
        tick += i % 500 == 250 ? 40 : (i >= 1000 && i < 2000 ? 2 : 1);
    }
    ASSERT_TRUE(writer.Finish());
    ASSERT_EQ(FinishMp4(file).outcome, RecoveryOutcome::Rebuilt);
    const fs::path path = dir_ / "long.mp4";
    Save(path, file.bytes);
    const TRun probe =
        Shell("ffprobe -v error -select_streams v -show_entries packet=pts,size,flags "
              "-of default=nw=1 '" +
                  path.string() + "'",
              dir_);
    EXPECT_EQ(probe.err, "");
    EXPECT_TRUE(probe.out == expected) << "ffprobe read other packets than were written";
}

namespace {

// The tone that best fits samples [from, to): its amplitude, how many samples it lags behind the
// tone as recorded (0 to 48, a period), and the share of the samples' energy it leaves unexplained.
struct TToneFit {
    double amplitude = 0, lag = 0, residual = 1;
};

TToneFit FitTone(const std::vector<double>& x, std::size_t from, std::size_t to, double hz,
                 double rate) {
    const double w = 2 * M_PI * hz / rate;
    double ss = 0, cc = 0, sc = 0, xs = 0, xc = 0, xx = 0;
    for (std::size_t n = from; n < to; ++n) {
        const double s = std::sin(w * n), c = std::cos(w * n);
        ss += s * s, cc += c * c, sc += s * c, xs += x[n] * s, xc += x[n] * c, xx += x[n] * x[n];
    }
    const double det = ss * cc - sc * sc, a = (xs * cc - xc * sc) / det,
                 b = (xc * ss - xs * sc) / det;
    TToneFit fit;
    fit.amplitude = std::hypot(a, b);
    const double period = rate / hz;
    fit.lag = std::fmod(-std::atan2(b, a) / w + period, period);
    fit.residual = xx > 0 ? std::max(0.0, (xx - a * xs - b * xc) / xx) : 1;
    return fit;
}

} // namespace

// Both tracks of a file with sound, fragmented as the writer finished it and made regular: ffprobe
// reads H.264 and 48 kHz stereo AAC, ffmpeg decodes them without a word, and the pictures are still
// the stream's. In the regular file both tracks last the 3.5 s of the pictures. In the fragmented
// one ffmpeg 5.1 takes the edit for a time offset and the sound for all its frames: it starts the
// priming (1600 samples) before 0 and ends in the last frame's padding, 384 samples after 3.5 s.
TEST_F(Mp4PlaybackTest, FfmpegPlaysBothTracksOfAFileWithSound) {
    for (const bool regular : {false, true}) {
        SCOPED_TRACE(regular);
        const fs::path file = dir_ / "sound.mp4";
        Save(file, RecordWithSound(regular).bytes);
        const TRun probe = Shell("ffprobe -v error -show_entries stream=codec_name,sample_rate,"
                                 "channels,start_time,duration -of default=nw=1 '" +
                                     file.string() + "'",
                                 dir_);
        EXPECT_EQ(probe.err, "");
        EXPECT_EQ(probe.out, std::string("codec_name=h264\nstart_time=0.000000\nduration=3.500000\n"
                                         "codec_name=aac\nsample_rate=48000\nchannels=2\n") +
                                 (regular ? "start_time=0.000000\nduration=3.500000\n"
                                          : "start_time=-0.033333\nduration=3.541333\n"));
        const TRun decode = Shell("ffmpeg -v error -i '" + file.string() + "' -f null -", dir_);
        EXPECT_EQ(decode.status, 0);
        EXPECT_EQ(decode.err, "");
        EXPECT_EQ(Hashes(file), sourceHashes_);
    }
}

// The tone comes back at its frequency and level from time 0 for as many samples as went in: the
// edit list skips the encoder's priming, which decoding without the edit list measures.
TEST_F(Mp4PlaybackTest, TheSoundIsTheToneFromTimeZeroForItsLength) {
    const fs::path file = dir_ / "tone.mp4";
    Save(file, RecordWithSound(true).bytes);
    const std::size_t length = (TickOf(kFrames - 1) + 1) * kAacSampleRate / kRate;
    const std::vector<double> sound = DecodeSound(file);
    // ffmpeg 5.1 skips the priming but not the silence after the last sample, not even in files
    // of its own AAC encoder: it decodes whole frames.
    EXPECT_GE(sound.size(), length);
    EXPECT_LT(sound.size(), length + kAacFrameSamples);
    ASSERT_GT(sound.size(), 8192u);
    const TToneFit fit = FitTone(sound, 0, sound.size(), kToneHz, kAacSampleRate);
    EXPECT_NEAR(20 * std::log10(fit.amplitude / kToneAmplitude), 0, 0.5);
    EXPECT_LT(fit.residual, 0.01);
    EXPECT_LT(std::min(fit.lag, 48 - fit.lag), 1);
    // Its first period is already the tone (a priming left in would be silence).
    EXPECT_GT(FitTone(sound, 0, 48, kToneHz, kAacSampleRate).amplitude, kToneAmplitude / 2);

    // Without the edit the tone begins after the priming, to the sample.
    const std::vector<double> raw = DecodeSound(file, "-ignore_editlist 1");
    const auto onset = std::find_if(raw.begin(), raw.end(),
                                    [](double v) { return std::abs(v) > kToneAmplitude / 4; }) -
                       raw.begin();
    const double lag =
        FitTone(raw, kAacPriming + 1024, raw.size() - 4096, kToneHz, kAacSampleRate).lag;
    // The fitted lag is known up to whole periods; the onset tells which.
    const double priming = lag + 48 * std::round((static_cast<double>(onset) - lag) / 48);
    EXPECT_NEAR(priming, kAacPriming, 1);
}
