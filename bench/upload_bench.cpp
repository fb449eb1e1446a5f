// Uploads one large file to a server on loopback with `pindle-capture upload` and with
// `curl -F file=@...`, in the same run, and prints time, throughput and peak memory of each.
//
//   upload_bench [MEGABYTES]   (default 200)

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "loopback_server.h"

extern char** environ;

namespace {

struct Run {
    double seconds = 0;
    double peakMegabytes = 0;
    int exitStatus = -1;
};

// Runs argv with extra environment entries, its output discarded; returns its wall time
// and peak resident memory.
Run runMeasured(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv) {
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        environment.emplace_back(*entry);
    }
    environment.insert(environment.end(), extraEnv.begin(), extraEnv.end());
    std::vector<char*> args;
    for (const auto& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    std::vector<char*> env;
    for (auto& entry : environment) {
        env.push_back(entry.data());
    }
    env.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    Run run;
    auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), env.data()) != 0) {
        std::fprintf(stderr, "cannot start %s\n", args[0]);
        posix_spawn_file_actions_destroy(&actions);
        return run;
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peakMegabytes = static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
    run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    posix_spawn_file_actions_destroy(&actions);
    return run;
}

void writeRandomFile(const std::filesystem::path& file, uint64_t bytes) {
    std::ofstream out(file, std::ios::binary);
    std::mt19937_64 generator(42);
    std::vector<uint64_t> block(128 * 1024);
    uint64_t written = 0;
    while (written < bytes) {
        for (auto& word : block) {
            word = generator();
        }
        auto count = std::min<uint64_t>(bytes - written, block.size() * sizeof(uint64_t));
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(count));
        written += count;
    }
}

}  // namespace

int main(int argc, char** argv) {
    uint64_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 200;
    const uint64_t bytes = megabytes * 1000 * 1000;

    std::string pattern =
        (std::filesystem::temp_directory_path() / "pindle-upload-XXXXXX").string();
    std::filesystem::path dir = mkdtemp(pattern.data());
    std::filesystem::path big = dir / "large.mp4";
    std::filesystem::path small = dir / "small.mp4";
    writeRandomFile(big, bytes);
    writeRandomFile(small, 1000);

    pindle::test::LoopbackServer server(/*keepBodies=*/false);
    server.route(
        "POST", "/v1/upload",
        pindle::test::CannedReply{200, "application/json", "{\"data\":{\"id\":\"bench\"}}"});
    const std::string url = server.url() + "/v1/upload";
    const std::vector<std::string> env = {"PINDLE_UPLOAD_URL=" + server.url(),
                                          "PINDLE_CAPTURE_HOME=" + (dir / "home").string()};

    // Three alternating rounds; the best time of each tool counts, so that a busy moment of
    // the machine does not decide the ratio. Peak memory is the largest seen.
    constexpr int kRounds = 3;
    auto better = [](Run& best, const Run& run) {
        if (run.exitStatus != 0) {
            best.exitStatus = run.exitStatus;
            return;
        }
        if (best.exitStatus != 0 || run.seconds < best.seconds) {
            best.seconds = run.seconds;
        }
        best.exitStatus = best.exitStatus == -1 ? 0 : best.exitStatus;
        best.peakMegabytes = std::max(best.peakMegabytes, run.peakMegabytes);
    };
    Run oursSmall = runMeasured({PINDLE_CAPTURE_BINARY, "upload", small.string()}, env);
    Run ours;
    Run curl;
    for (int round = 0; round < kRounds; ++round) {
        better(ours, runMeasured({PINDLE_CAPTURE_BINARY, "upload", big.string()}, env));
        better(curl, runMeasured({"curl", "-s", "-f", "-o", "/dev/null", "-F",
                                  "file=@" + big.string(), url},
                                 {}));
    }

    bool complete = server.waitForRequests(1 + 2 * kRounds, 1000);
    auto requests = server.requests();
    std::filesystem::remove_all(dir);
    if (!complete || ours.exitStatus != 0 || curl.exitStatus != 0 || oursSmall.exitStatus != 0) {
        std::fprintf(stderr, "an upload failed (pindle-capture %d, curl %d)\n", ours.exitStatus,
                     curl.exitStatus);
        return 1;
    }
    for (const auto& request : requests) {
        if (request.bodyLength < 1000 ||
            std::to_string(request.bodyLength) != request.header("Content-Length")) {
            std::fprintf(stderr, "the server received an incomplete body\n");
            return 1;
        }
    }

    double megabytesSent = static_cast<double>(bytes) / 1e6;
    std::printf("Upload of a %llu MB file to a server on loopback (best of 3 runs)\n\n",
                static_cast<unsigned long long>(megabytes));
    std::printf("%-24s %10s %14s %15s\n", "", "time (s)", "MB/s", "peak RSS (MB)");
    std::printf("%-24s %10.2f %14.1f %15.1f\n", "pindle-capture upload", ours.seconds,
                megabytesSent / ours.seconds, ours.peakMegabytes);
    std::printf("%-24s %10.2f %14.1f %15.1f\n", "curl -F file=@...", curl.seconds,
                megabytesSent / curl.seconds, curl.peakMegabytes);
    std::printf("%-24s %10.2f %14s %15.1f\n", "pindle-capture, 1 kB", oursSmall.seconds, "",
                oursSmall.peakMegabytes);
    std::printf("\nthroughput ratio (pindle-capture / curl): %.2f\n", curl.seconds / ours.seconds);
    std::printf("extra memory for the large file (pindle-capture %llu MB - 1 kB): %+.1f MB\n",
                static_cast<unsigned long long>(megabytes),
                ours.peakMegabytes - oursSmall.peakMegabytes);
    std::printf("peak memory, pindle-capture - curl: %+.1f MB\n",
                ours.peakMegabytes - curl.peakMegabytes);
    return 0;
}
