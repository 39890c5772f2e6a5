// Opens a recording through the AVIFile API, as a Windows program would, and prints the length of
// its video stream.
//
//   avi_frames FILE.avi
//
// Exits 1 when the file or its stream cannot be opened.
#include <windows.h>
#include <vfw.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    AVIFileInit();
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr;
    int status = 1;
    if (AVIFileOpenW(&file, argv[1], OF_READ | OF_SHARE_DENY_WRITE, nullptr) == 0 &&
        AVIFileGetStream(file, &stream, streamtypeVIDEO, 0) == 0) {
        std::printf("%ld\n", AVIStreamLength(stream));
        status = 0;
    }
    if (stream) AVIStreamRelease(stream);
    if (file) AVIFileRelease(file);
    AVIFileExit();
    return status;
}
