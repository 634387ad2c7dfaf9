// Benchmark of the converter core against olefile, in the same run.
//
//   core_bench [CORPUS_MSG_DIR] [SECONDS]
//
// CORPUS_MSG_DIR defaults to $ORVALINE_CORPUS/msg. Files are read into
// memory first; files that either side cannot open are left out of both.
// Each workload runs whole passes over the files for SECONDS (default 3, at
// least 3 passes) and reports its fastest pass, on both sides.
// Workloads:
//   load  - open the message (recipients, attachments, embedded messages)
//           and decompress its RTF body; olefile opens the compound file
//           and reads the same streams;
//   all   - open the compound file and read every stream, on both sides;
//   rtf   - decompress every RTF body of the corpus; MB/s of RTF produced.

#include <cfb/compound_file.h>
#include <msg/outlook_storage.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using SharedBytes = std::shared_ptr<const Bytes>;
using Clock = std::chrono::steady_clock;

// Timing of whole passes over the file set. The fastest pass is reported:
// other work on a shared machine only ever makes a pass slower.
struct Result {
    std::size_t files = 0;
    std::size_t passes = 0;
    double best = 0;  // seconds of the fastest pass
    double perFile() const { return best / static_cast<double>(files); }
};

template <typename T>
Result measure(const std::vector<T>& blobs, double seconds,
               const std::function<void(const T&)>& work) {
    Result r;
    r.files = blobs.size();
    const auto start = Clock::now();
    double total = 0;
    do {
        const auto passStart = Clock::now();
        for (const auto& b : blobs)
            work(b);
        const double pass = std::chrono::duration<double>(Clock::now() - passStart).count();
        r.best = r.passes == 0 ? pass : std::min(r.best, pass);
        ++r.passes;
        total = std::chrono::duration<double>(Clock::now() - start).count();
    } while (total < seconds || r.passes < 3);
    return r;
}

// The converter holds the file's bytes and opens the message on them.
void loadMessage(const SharedBytes& b) {
    const tool::Message m(b);
    try {
        (void)m.BodyRTFBytes();
    } catch (const common::FormatError&) {
        // a damaged body still counts as loaded
    }
}

void readAll(const SharedBytes& b) {
    const auto file = cfb::CompoundFile::open(b);
    std::function<void(const cfb::Storage&)> walk = [&](const cfb::Storage& s) {
        for (const auto& e : s.elements()) {
            if (e.type == cfb::ElementType::Storage) {
                walk(*s.openStorage(e.name));
            } else {
                (void)s.readStream(e.name);
            }
        }
    };
    walk(*file.root());
}

bool peerOpens(const fs::path& file) {
    const std::string cmd =
        "/usr/bin/python3 -c 'import olefile,sys; olefile.OleFileIO(sys.argv[1])' '" +
        file.string() + "' >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    const char* corpusEnv = std::getenv("ORVALINE_CORPUS");
    const fs::path dir =
        argc > 1 ? fs::path(argv[1]) : fs::path(corpusEnv ? corpusEnv : "tests/corpus") / "msg";
    const double seconds = argc > 2 ? std::atof(argv[2]) : 3.0;
    const fs::path peer = fs::path(__FILE__).parent_path() / "olefile_peer.py";
    const bool havePeer = std::system("/usr/bin/python3 -c 'import olefile' >/dev/null 2>&1") == 0;

    std::vector<fs::path> paths;
    std::vector<SharedBytes> blobs;
    std::vector<Bytes> rtfBodies;
    std::size_t rtfBytes = 0;
    std::vector<fs::path> all;
    for (const auto& e : fs::directory_iterator(dir)) {
        if (e.path().extension() == ".msg")
            all.push_back(e.path());
    }
    std::sort(all.begin(), all.end());
    for (const auto& p : all) {
        std::ifstream in(p, std::ios::binary);
        const auto b = std::make_shared<const Bytes>((std::istreambuf_iterator<char>(in)),
                                                     std::istreambuf_iterator<char>());
        try {
            readAll(b);
            const tool::Message m(b);
            const auto body = m.GetMapiPropertyBytes("1009");
            if (body && !body->empty()) {
                try {
                    rtfBytes += tool::CLZF::decompressRTF(*body).size();
                    rtfBodies.push_back(*body);
                } catch (const common::FormatError&) {
                }
            }
        } catch (const std::exception&) {
            continue;  // we cannot load it: left out of both sides
        }
        if (havePeer && !peerOpens(p))
            continue;
        paths.push_back(p);
        blobs.push_back(b);
    }
    std::printf("corpus: %s, %zu messages used, %zu RTF bodies (%.1f KB decompressed)\n",
                dir.c_str(), blobs.size(), rtfBodies.size(), static_cast<double>(rtfBytes) / 1024);

    const Result load = measure<SharedBytes>(blobs, seconds, loadMessage);
    const Result every = measure<SharedBytes>(blobs, seconds, readAll);
    std::size_t produced = 0;
    const Result rtf = measure<Bytes>(rtfBodies, seconds, [&](const Bytes& b) {
        produced += tool::CLZF::decompressRTF(b).size();
    });
    const double mbps = static_cast<double>(rtfBytes) / rtf.best / 1e6;
    (void)produced;

    std::printf("ours  load: %10.0f messages/s (%.1f us each)\n", 1 / load.perFile(),
                load.perFile() * 1e6);
    std::printf("ours  all:  %10.0f files/s    (%.1f us each)\n", 1 / every.perFile(),
                every.perFile() * 1e6);
    std::printf("ours  rtf:  %10.1f MB/s of RTF decompressed\n", mbps);

    if (!havePeer) {
        std::printf("olefile: not installed (python3-olefile), no ratios\n");
        return 0;
    }
    std::string cmd = "/usr/bin/python3 '" + peer.string() + "' " + std::to_string(seconds);
    for (const auto& p : paths)
        cmd += " '" + p.string() + "'";
    FILE* pipe = popen(cmd.c_str(), "r");
    std::string out;
    char buf[512];
    while (fgets(buf, sizeof buf, pipe) != nullptr)
        out += buf;
    pclose(pipe);
    std::istringstream lines(out);
    for (std::string name; lines >> name;) {
        Result theirs;
        lines >> theirs.files >> theirs.passes >> theirs.best;
        const Result& mine = name == "load" ? load : every;
        std::printf(
            "olefile %-4s %10.0f files/s    (%.1f us each)  ratio ours/olefile: %.1fx faster\n",
            (name + ":").c_str(), 1 / theirs.perFile(), theirs.perFile() * 1e6,
            theirs.perFile() / mine.perFile());
    }
    return 0;
}
