// The writer's files played by Debian's ffprobe, ffmpeg and chromium, with a real H.264 stream made
// by ffmpeg's libx264.
#include "core/Mp4Recovery.h"
#include "core/Mp4Writer.h"
#include "tests/common/Mp4Testing.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

using namespace core;
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
        const TRun run = Shell("ffmpeg -v error -i '" + file.string() + "' -f framemd5 -", dir_);
        std::vector<std::string> hashes;
        std::istringstream in(run.out);
        for (std::string line; std::getline(in, line);)
            if (!line.empty() && line[0] != '#') hashes.push_back(line.substr(line.rfind(',') + 2));
        return hashes;
    }

    // Writes the stream, flushing once a sample starts a new second; the file's size after each
    // flush goes to fragmentEnds. Unfinished when `finish` is false, as a killed recording leaves
    // it.
    static TMemoryFile Record(bool finish, std::vector<std::uint64_t>* fragmentEnds = nullptr) {
        const auto units = AccessUnits(stream_);
        EXPECT_EQ(units.size(), static_cast<std::size_t>(kFrames));
        TBytesView sps, pps;
        for (const TBytesView nal : units.at(0)) {
            if (NalType(nal) == 7) sps = nal;
            if (NalType(nal) == 8) pps = nal;
        }
        TMemoryFile file;
        TMp4Writer writer(file);
        EXPECT_TRUE(writer.Begin(kWidth, kHeight, kRate, sps, pps));
        for (int i = 0; i < kFrames && i < static_cast<int>(units.size()); ++i) {
            bool key = false;
            for (const TBytesView nal : units[i])
                key = key || NalType(nal) == 5;
            EXPECT_TRUE(writer.AddSample(units[i], TickOf(i), key));
            if (i > 0 && TickOf(i) / kRate != TickOf(i - 1) / kRate) {
                EXPECT_TRUE(writer.Flush());
                if (fragmentEnds) fragmentEnds->push_back(writer.BytesWritten());
            }
        }
        if (finish) {
            EXPECT_TRUE(writer.Finish());
        }
        return file;
    }

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

TEST_F(Mp4PlaybackTest, FfmpegPlaysAFinishedFileAtItsRateDurationAndColours) {
    const fs::path file = dir_ / "finished.mp4";
    Save(file, Record(true).bytes);
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

TEST_F(Mp4PlaybackTest, AFileKilledInItsSecondFragmentPlaysTheFirstAndIsCutToIt) {
    std::vector<std::uint64_t> ends;
    TMemoryFile file = Record(false, &ends);
    ASSERT_GE(ends.size(), 2u);
    // The first fragment holds frames 0..6 (positions 0..6, the seventh lasting up to 10).
    file.bytes.resize(static_cast<std::size_t>((ends[0] + ends[1]) / 2));
    const std::vector<std::string> first(sourceHashes_.begin(), sourceHashes_.begin() + 7);
    Save(dir_ / "torn.mp4", file.bytes);
    std::vector<std::string> torn = Hashes(dir_ / "torn.mp4");
    torn.resize(std::min<std::size_t>(torn.size(), 7));
    EXPECT_EQ(torn, first);

    const RecoveryResult result = CutMp4Tail(file);
    EXPECT_EQ(result.outcome, RecoveryOutcome::Rebuilt);
    EXPECT_EQ(result.frames, 7u);
    EXPECT_EQ(file.bytes.size(), ends[0]);
    const fs::path cut = dir_ / "cut.mp4";
    Save(cut, file.bytes);
    const TRun probe = Probe(cut, dir_);
    EXPECT_EQ(probe.err, "");
    EXPECT_NE(probe.out.find("duration=1.000000\nnb_read_frames=7\nduration=1.000000\n"),
              std::string::npos)
        << probe.out;
    const TRun decode = Shell("ffmpeg -v error -i '" + cut.string() + "' -f null -", dir_);
    EXPECT_EQ(decode.status, 0);
    EXPECT_EQ(decode.err, "");
    EXPECT_EQ(Hashes(cut), first);
    EXPECT_EQ(CutMp4Tail(file).outcome, RecoveryOutcome::Finished);
}

// A page that plays each video named in its fragment (after #, separated by commas) in turn and
// lists for each its duration, its size and whether most of its first picture is bright.
constexpr char kPlayerPage[] = R"(<!doctype html>
<html><body><pre id="result"></pre><video id="video" muted preload="auto"></video>
<canvas id="canvas"></canvas>
<script>
const result = document.getElementById('result'), video = document.getElementById('video');
const names = location.hash.slice(1).split(',');
function next(i) {
  if (i == names.length) return;
  const report = (text) => { result.textContent += names[i] + ' ' + text + '\n'; next(i + 1); };
  video.onerror = () => report('error ' + video.error.code);
  video.onloadeddata = () => {
    const canvas = document.getElementById('canvas');
    canvas.width = video.videoWidth;
    canvas.height = video.videoHeight;
    const context = canvas.getContext('2d');
    context.drawImage(video, 0, 0);
    const pixels = context.getImageData(0, 0, canvas.width, canvas.height).data;
    let lit = 0;
    for (let p = 0; p < pixels.length; p += 4) lit += pixels[p] + pixels[p + 1] + pixels[p + 2] > 60;
    report(video.duration + ' ' + video.videoWidth + 'x' + video.videoHeight + ' ' +
           (lit > pixels.length / 8 ? 'bright' : 'dark'));
  };
  video.src = names[i];
}
next(0);
</script></body></html>
)";

TEST_F(Mp4PlaybackTest, ChromiumPlaysAFinishedFileAndOneCutAfterWholeFragments) {
    ASSERT_EQ(Shell("command -v chromium", dir_).status, 0)
        << "chromium is not installed (scripts/setup installs it)";
    Save(dir_ / "finished.mp4", Record(true).bytes);
    // As a killed recording leaves it: two whole fragments, the durations never filled in.
    std::vector<std::uint64_t> ends;
    TMemoryFile unfinished = Record(false, &ends);
    ASSERT_GE(ends.size(), 2u);
    unfinished.bytes.resize(static_cast<std::size_t>(ends[1]));
    Save(dir_ / "unfinished.mp4", unfinished.bytes);
    std::ofstream(dir_ / "player.html") << kPlayerPage;

    // Virtual time lets the page's media events run without waiting for them in real time; file
    // pages may read other files (and draw them to a canvas) only with the last switch.
    const TRun run = Shell(
        "timeout 60 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
        "--disable-background-networking --disable-component-update --disable-sync "
        "--user-data-dir='" +
            (dir_ / "profile").string() +
            "' --virtual-time-budget=5000 "
            "--allow-file-access-from-files --dump-dom "
            "'file://" +
            (dir_ / "player.html").string() + "#finished.mp4,unfinished.mp4'",
        dir_);
    EXPECT_EQ(run.status, 0) << run.err;
    const auto start = run.out.find("<pre id=\"result\">"), end = run.out.find("</pre>");
    ASSERT_NE(start, std::string::npos) << run.out;
    // The test picture's colour bars are bright; the unfinished file's two fragments last 2 s.
    EXPECT_EQ(run.out.substr(start + 17, end - start - 17),
              "finished.mp4 3.5 322x224 bright\nunfinished.mp4 2 322x224 bright\n");
}
