#include "H264Tools.h"

#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace testing_h264 {

TTempDir::TTempDir() {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("quarnelby-h264-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
}

TTempDir::~TTempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

std::string RunCommand(const std::string& command, int& status) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        status = -1;
        return output;
    }
    char buffer[65536];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, n);
    status = pclose(pipe);
    return output;
}

std::string ProbeStream(const std::filesystem::path& file) {
    int status = 0;
    const std::string out =
        RunCommand("ffprobe -v error -f h264 -select_streams v:0 -count_frames -show_streams "
                   "-of default=noprint_wrappers=1 '" +
                       file.string() + "'",
                   status);
    return status == 0 ? out : std::string();
}

std::string ProbeValue(const std::string& probe, const std::string& key) {
    std::istringstream lines(probe);
    std::string line;
    while (std::getline(lines, line))
        if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
    return {};
}

std::vector<TI420> DecodeWithFfmpeg(const std::filesystem::path& file, int width, int height) {
    int status = 0;
    const std::string raw = RunCommand("ffmpeg -v error -f h264 -i '" + file.string() +
                                           "' -f rawvideo -pix_fmt yuv420p -",
                                       status);
    std::vector<TI420> pictures;
    const std::size_t lumaBytes = static_cast<std::size_t>(width) * height;
    const std::size_t chromaBytes = static_cast<std::size_t>(width / 2) * (height / 2);
    const std::size_t frameBytes = lumaBytes + 2 * chromaBytes;
    if (status != 0 || frameBytes == 0 || raw.size() % frameBytes != 0) return pictures;
    for (std::size_t at = 0; at < raw.size(); at += frameBytes) {
        TI420 pic;
        pic.width = width;
        pic.height = height;
        const auto* p = reinterpret_cast<const std::uint8_t*>(raw.data()) + at;
        pic.y.assign(p, p + lumaBytes);
        pic.u.assign(p + lumaBytes, p + lumaBytes + chromaBytes);
        pic.v.assign(p + lumaBytes + chromaBytes, p + frameBytes);
        pictures.push_back(std::move(pic));
    }
    return pictures;
}

} // namespace testing_h264
