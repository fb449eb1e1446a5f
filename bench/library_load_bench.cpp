// Loading and saving a library of 1,000 recordings.
//
// Load: the store file is read and every recording's movie is opened for its facts, as at
// start-up; beside it, ffprobe reads the headers of the same files (one process per file,
// as a script would run it). Save: one save of the 1,000-recording store.
//
//   library_load_bench [--recordings N] [--ffprobe-files N]
//
// ffprobe runs on an evenly spread sample of the files (default 100) and its time is scaled
// to the whole library; pass --ffprobe-files N equal to --recordings to run it on all.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "base/log.h"
#include "library/RCDataStore.h"
#include "platform/ffmpeg/ffmpeg_media.h"

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    size_t recordings = 1000;
    size_t ffprobeFiles = 100;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string arg = argv[i];
        if (arg == "--recordings") {
            recordings = std::stoul(argv[i + 1]);
        } else if (arg == "--ffprobe-files") {
            ffprobeFiles = std::stoul(argv[i + 1]);
        }
    }
    ffprobeFiles = std::clamp<size_t>(ffprobeFiles, 1, recordings);
    pindle::log::setLevel(pindle::log::Level::Warning);
    pindle::ffmpeg::installMovieOpener();

    std::string pattern = (std::filesystem::temp_directory_path() / "pindle-bench-XXXXXX").string();
    std::filesystem::path home = mkdtemp(pattern.data());
    pindle::AppDirectories directories{
        home, home / "support", home / "tmp", home / "settings.ini", {}};
    (void)directories.create();
    pindle::RCFileManager files(directories);
    pindle::NotificationCenter center;

    // One capture-like movie (H.264, every frame a key frame), linked under 1,000 names.
    std::filesystem::path master = home / "master.mp4";
    std::string command =
        "ffmpeg -nostdin -loglevel error -f lavfi -i testsrc2=size=640x480:rate=30 -t 2 "
        "-c:v libx264 -preset ultrafast -g 1 -pix_fmt yuv420p '" +
        master.string() + "'";
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "cannot make the test movie with ffmpeg\n");
        return 1;
    }
    std::vector<std::filesystem::path> movies;
    {
        pindle::RCDataStore store(files, center);
        std::vector<pindle::RCRecordingPtr> list;
        for (size_t i = 0; i < recordings; ++i) {
            auto movie = files.makeDocumentFileWithExtension("mp4");
            std::filesystem::create_hard_link(master, movie);
            movies.push_back(movie);
            list.push_back(pindle::RCRecording::recordingWithURL(movie));
        }
        store.setCapturedRecordings(std::move(list));
        std::vector<double> saves;
        for (int run = 0; run < 5; ++run) {
            auto start = Clock::now();
            (void)store.saveData();
            saves.push_back(millisecondsSince(start));
        }
        std::printf("save of %zu recordings: %.2f ms (median of 5, goal < 20 ms), %ju bytes\n",
                    recordings, median(saves),
                    uintmax_t(std::filesystem::file_size(store.getArchiveFileURL())));
    }

    std::vector<double> loads;
    for (int run = 0; run < 3; ++run) {
        auto start = Clock::now();
        pindle::RCDataStore store(files, center);
        loads.push_back(millisecondsSince(start));
        if (store.recordingsCount() != recordings || store.recordingAtIndex(0)->FPS() != 30) {
            std::fprintf(stderr, "the library did not load as saved\n");
            return 1;
        }
    }
    double ours = median(loads);

    auto start = Clock::now();
    for (size_t i = 0; i < ffprobeFiles; ++i) {
        const auto& movie = movies[i * recordings / ffprobeFiles];
        std::string probe =
            "ffprobe -v error -select_streams v:0 -show_entries "
            "stream=width,height,avg_frame_rate,duration,nb_frames -of csv=p=0 '" +
            movie.string() + "' >/dev/null";
        if (std::system(probe.c_str()) != 0) {
            std::fprintf(stderr, "ffprobe failed\n");
            return 1;
        }
    }
    double ffprobe = millisecondsSince(start) * double(recordings) / double(ffprobeFiles);

    std::printf(
        "load of %zu recordings: ours %.1f ms (median of 3), ffprobe %.1f ms (%zu files "
        "timed, scaled to %zu); ffprobe / ours = %.1fx (goal < 1000 ms and > 1x)\n",
        recordings, ours, ffprobe, ffprobeFiles, recordings, ffprobe / ours);
    std::filesystem::remove_all(home);
    return 0;
}
