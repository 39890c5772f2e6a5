// ffmpeg and ffprobe run on an Annex B file the test writes (native tests only).
#pragma once

#include "I420Reference.h"

#include <filesystem>
#include <string>
#include <vector>

namespace testing_h264 {

// A folder of its own under the system's temporary folder, removed with the object.
class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

void WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

// Runs a shell command; returns its standard output, and its exit status in status.
std::string RunCommand(const std::string& command, int& status);

// ffprobe's "key=value" lines for the first video stream of a file (show_streams), or empty.
std::string ProbeStream(const std::filesystem::path& file);
// The value of key in ffprobe's key=value lines ("" when absent).
std::string ProbeValue(const std::string& probe, const std::string& key);

// Every picture ffmpeg decodes from an Annex B file, as I420 of the given size (empty on error).
std::vector<TI420> DecodeWithFfmpeg(const std::filesystem::path& file, int width, int height);

} // namespace testing_h264
