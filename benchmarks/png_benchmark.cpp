// Times convertToPng on one JP2 file against opj_decompress writing a PNG from
// the same file. A measurement, not a test: prints medians and their ratio.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "photo/PngConverter.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double medianMs(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

bool runOpjDecompress(const std::string& in, const std::string& out) {
    std::vector<std::string> words = {"opj_decompress", "-quiet", "-i", in, "-o", out};
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, "opj_decompress", nullptr, nullptr, argv.data(), environ) != 0) return false;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "uso: png_benchmark FOTO.jp2|CARPETA CARPETA_TEMPORAL [VECES]\n");
        return 2;
    }
    // A folder stands for the photo the simulated card's image maker left in it.
    std::string jp2 = argv[1];
    if (std::filesystem::is_directory(jp2)) {
        for (const auto& e : std::filesystem::directory_iterator(jp2))
            if (e.path().filename().string().rfind("photo-", 0) == 0) jp2 = e.path().string();
    }
    const std::string out = std::string(argv[2]) + "/opj.png";
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 30;
    std::ifstream f(jp2, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (bytes.empty()) {
        std::fprintf(stderr, "no se pudo leer %s\n", jp2.c_str());
        return 1;
    }
    std::vector<double> ours, theirs;
    size_t pngSize = 0;
    for (int i = 0; i < rounds; ++i) {
        Bytes png;
        auto t0 = Clock::now();
        if (photo::convertToPng(bytes.data(), bytes.size(), png) != 0) {
            std::fprintf(stderr, "convertToPng falló\n");
            return 1;
        }
        ours.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        pngSize = png.size();
        t0 = Clock::now();
        if (!runOpjDecompress(jp2, out)) {
            std::fprintf(stderr, "opj_decompress falló\n");
            return 1;
        }
        theirs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    double a = medianMs(ours), b = medianMs(theirs);
    std::printf("JP2 %zu bytes -> PNG %zu bytes, median of %d\n", bytes.size(), pngSize, rounds);
    std::printf("convertToPng        %8.2f ms\nopj_decompress (PNG) %8.2f ms (a whole process)\nratio                %8.2f\n",
                a, b, a / b);
    return 0;
}
